#pragma once

#include <string>

// The launcher's record of the installed client: jsver.txt, one line of JSON
//   {"platform":"2","type":"1","ver":"70"}<CR><LF>
// Text is narrow and passes through unconverted (ANSI paths, GBK versions).
class VersionRecord {
public:
    static constexpr const char* kDefaultPlatform = "2";
    static constexpr const char* kDefaultType = "1";
    static constexpr const char* kDefaultVer = "70";
    // fgets-sized lines: longer ones mean the file is not ours.
    static constexpr size_t kMaxLineLength = 499;

    VersionRecord() = default;
    // Loads `path`; whether it was readable is dropped (the defaults apply if not).
    explicit VersionRecord(const std::string& path);

    // Reads and parses the record. Returns true only for a file in the record's
    // format whose "ver" can name one folder. Anything else (missing, unparsable,
    // not an object, arrays or objects or non-32-bit numbers as values, overlong
    // lines, NUL bytes, a "ver" such as "..", "CON" or "a\b") returns false and
    // leaves the defaults platform "2", type "1", ver "70".
    bool load(const std::string& path);

    // Writes the record to the path last loaded. A file that cannot be opened is
    // logged and otherwise ignored.
    void save() const;

    std::string getPlatform() const { return platform; }
    std::string getType() const { return type; }
    std::string getVer() const { return ver; }
    void setVer(const std::string& text) { ver = text; }

    const std::string& getPath() const { return path; }
    const std::string& getText() const { return text; }

    // The record's content without touching the path; for installing a shipped record.
    void copyValuesFrom(const VersionRecord& other);

private:
    void setDefaults();

    std::string path;
    std::string text;
    std::string type;
    std::string platform;
    std::string ver;
};
