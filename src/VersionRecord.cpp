#include "src/VersionRecord.h"

#include "src/DebugLog.h"
#include "src/JsonText.h"
#include "src/Texts.h"
#include "common/UniqueStdioFile.h"
#include "common/VersionFolderName.h"

#include <json/json.h>

#include <cstdio>

namespace {

// A record is one line; a few more allow for a hand-edited one. A file far beyond
// that is not ours, and reading it whole could exhaust a 32-bit launcher's memory.
constexpr size_t kMaxRecordSize = 64 * 1024;

// Reads the file in text mode and joins its lines without their line ends. Refuses
// what cannot be a record: overlong lines, NUL bytes (binary files) and files far
// larger than a record.
bool readJoinedLines(std::FILE* file, std::string& joined)
{
    joined.clear();
    size_t lineLength = 0;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        for (size_t i = 0; i < got; ++i) {
            const char c = chunk[i];
            if (c == '\n') {
                lineLength = 0;
                continue;
            }
            if (c == '\0' || ++lineLength > VersionRecord::kMaxLineLength ||
                joined.size() >= kMaxRecordSize)
                return false;
            joined += c;
        }
    }
    return !std::ferror(file);
}

// The record's values are texts; integers, booleans and null are accepted as the
// texts they convert to. Anything else is not our format.
bool memberText(const Json::Value& root, const char* name, const Json::Value& fallback,
                std::string& out)
{
    const Json::Value value = root.get(name, fallback);
    switch (value.type()) {
    case Json::stringValue:
    case Json::booleanValue:
    case Json::nullValue:
        out = value.asString();
        return true;
    case Json::intValue:
    case Json::uintValue:
        if (!value.isInt())
            return false;
        out = value.asString();
        return true;
    default:
        return false;
    }
}

// The record as save() writes it, without the line end: one compact line, members
// sorted by name. Bytes above 0x7F are written as they are: the record is narrow text
// and a GBK version must survive the round trip.
std::string recordLine(const std::string& platform, const std::string& type, const std::string& ver)
{
    Json::Value root(Json::objectValue);
    root["ver"] = ver;
    root["platform"] = platform;
    root["type"] = type;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, root);
}

} // namespace

VersionRecord::VersionRecord(const std::string& recordPath)
{
    load(recordPath);
}

void VersionRecord::setDefaults()
{
    platform = kDefaultPlatform;
    type = kDefaultType;
    ver = kDefaultVer;
}

void VersionRecord::copyValuesFrom(const VersionRecord& other)
{
    ver = other.ver;
    type = other.type;
    platform = other.platform;
}

bool VersionRecord::load(const std::string& recordPath)
{
    path = recordPath;
    UniqueStdioFile file(std::fopen(path.c_str(), "r"));
    if (!file) {
        setDefaults();
        return false;
    }
    const bool readable = readJoinedLines(file.get(), text);
    file.reset();
    DebugLog::instance().writeText(text.c_str());

    Json::Value root;
    std::string newPlatform, newType, newVer;
    // "ver" becomes part of a folder that deployment deletes: it must name exactly
    // one folder below app, never a path or a device.
    const bool valid = readable && parseJsonWhole(text, root) && root.isObject() &&
                       memberText(root, "platform", Json::Value(2), newPlatform) &&
                       memberText(root, "type", Json::Value(1), newType) &&
                       memberText(root, "ver", Json::Value(kDefaultVer), newVer) &&
                       isVersionFolderName(newVer) &&
                       // Values spread over several lines, or control bytes that the
                       // writer escapes six bytes each, can make the line save() writes
                       // longer than a readable one: the next start would then find the
                       // install gone. Such a record is not ours either.
                       recordLine(newPlatform, newType, newVer).size() <= kMaxLineLength;
    if (!valid) {
        setDefaults();
        return false;
    }
    platform = newPlatform;
    type = newType;
    ver = newVer;
    return true;
}

void VersionRecord::save() const
{
    const std::string line = recordLine(platform, type, ver) + "\n";

    UniqueStdioFile file(std::fopen(path.c_str(), "w"));
    if (!file) {
        DebugLog::instance().write(Texts::kLogOpenFileFailed, path.c_str());
        return;
    }
    std::fwrite(line.data(), 1, line.size(), file.get());
}
