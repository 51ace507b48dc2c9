// Runs hostile gateway answers and version records through the launcher's real code,
// one fresh UpdateTool per case, and writes one JSON line per case to OUT (flushed
// at once, so a crash shows which case it was):
//
//   hostile_driver answers OUT BASE LAUNCHER_DIR COUNT
//       COUNT network passes against the built-in gateway, which the caller has primed
//       with one answer per pass: install check (no record), the launcher's own worker
//       (updateWorker), and a load of the record that deployment saved. "query" is
//       what the worker's afterQuery hook saw, "after" what the pass showed after it.
//       Install root of pass i: BASE\a<i>.
//   hostile_driver records OUT CASES COUNT
//       For case i: VersionRecord::load(CASES\r<i>\root\jsver.txt), then the install
//       check with launcher folder CASES\r<i>\launcher\ and, when it finds no install,
//       one version query (the caller primes the gateway with one answer per such case).
//
// Byte strings are written as hex, dialog texts as UTF-8; "status"/"button" hold every
// text sent to the control, in order.
#include "tests/support/ControlRecorder.h"
#include "tests/support/TextConversion.h"
#include "src/UpdateTool.h"
#include "src/VersionRecord.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return "\"" + out + "\"";
}

// The dialog texts are the launcher's own (no quotes or control characters), but the
// escape keeps the line valid JSON whatever arrives.
std::string jsonText(const std::wstring& text)
{
    std::string out = "\"";
    for (char c : narrow(text, CP_UTF8)) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\' || byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string jsonTexts(const std::vector<std::wstring>& texts)
{
    std::string out = "[";
    for (size_t i = 0; i < texts.size(); ++i)
        out += (i ? "," : "") + jsonText(texts[i]);
    return out + "]";
}

struct Dialog {
    ControlRecorder status, button, bar;

    void attach(UpdateTool& tool)
    {
        tool.statusText = status.handle();
        tool.actionButton = button.handle();
        tool.progressBar = bar.handle();
    }
};

std::string flags(const UpdateTool& tool)
{
    return "\"busy\":" + std::to_string(tool.busy.load()) + ",\"failed\":" + std::to_string(tool.failed.load()) +
           ",\"launch\":" + std::to_string(tool.launchOnConfirm.load());
}

std::string pathsOf(const UpdateTool& tool)
{
    // verName: the version as the file system names its folder (UTF-8).
    return "\"ver\":" + hex(tool.versionRecord.getVer()) + ",\"verName\":" +
           jsonText(widen(tool.versionRecord.getVer())) + ",\"target\":" + hex(tool.targetDir) +
           ",\"staging\":" + hex(tool.stagingDir);
}

// The worker's start as the dialog makes it: busy set, failed clear.
void startPass(UpdateTool& tool)
{
    tool.busy = 1;
    tool.failed = 0;
}

int runAnswers(std::FILE* out, const std::string& base, const std::string& launcherDir, int count)
{
    for (int i = 0; i < count; ++i) {
        Dialog dialog;
        auto tool = std::make_unique<UpdateTool>(base + "\\a" + std::to_string(i), launcherDir);
        dialog.attach(*tool);
        const bool installed = tool->checkInstallation();
        startPass(*tool);
        // The worker's own look once its query has returned, before it ends the pass or
        // goes on to the download. The online road leaves the folders unnamed, so a
        // named one is the answer's.
        std::string query;
        size_t statusShown = 0;
        size_t buttonShown = 0;
        tool->afterQuery = [&] {
            statusShown = dialog.status.texts.size();
            buttonShown = dialog.button.texts.size();
            query = "{\"status\":" + jsonTexts(dialog.status.texts) + ",\"button\":" + jsonTexts(dialog.button.texts) +
                    "," + flags(*tool) + ",\"assigned\":" + (tool->targetDir.empty() ? "0" : "1") + "," +
                    pathsOf(*tool) + "}";
        };
        updateWorker(tool.get());
        const auto since = [](const std::vector<std::wstring>& texts, size_t shown) {
            return std::vector<std::wstring>(texts.begin() + static_cast<std::ptrdiff_t>(shown), texts.end());
        };
        // What the next start of the launcher will find in the record deployment saved.
        VersionRecord saved;
        const bool savedLoads = saved.load(tool->recordPath);
        const std::string line =
            "{\"case\":" + std::to_string(i) + ",\"installed\":" + (installed ? "1" : "0") + ",\"query\":" + query +
            ",\"after\":{\"status\":" + jsonTexts(since(dialog.status.texts, statusShown)) +
            ",\"button\":" + jsonTexts(since(dialog.button.texts, buttonShown)) + "," + flags(*tool) +
            "},\"saved\":{\"loads\":" + (savedLoads ? "1" : "0") + ",\"ver\":" + hex(saved.getVer()) + "}}\n";
        std::fputs(line.c_str(), out);
        std::fflush(out);
    }
    return 0;
}

int runRecords(std::FILE* out, const std::string& cases, int count)
{
    for (int i = 0; i < count; ++i) {
        const std::string folder = cases + "\\r" + std::to_string(i);
        const std::string root = folder + "\\root";
        VersionRecord record;
        const bool loaded = record.load(root + "\\jsver.txt");
        std::string line = "{\"case\":" + std::to_string(i) + ",\"loaded\":" + (loaded ? "1" : "0") +
                           ",\"platform\":" + hex(record.getPlatform()) + ",\"type\":" + hex(record.getType()) +
                           ",\"recordVer\":" + hex(record.getVer());

        Dialog dialog;
        auto tool = std::make_unique<UpdateTool>(root, folder + "\\launcher\\");
        dialog.attach(*tool);
        const bool installed = tool->checkInstallation();
        line += ",\"installed\":" + std::string(installed ? "1" : "0") +
                ",\"online\":" + std::to_string(tool->onlineInstall) + ",\"installRoot\":" + hex(tool->installRoot) +
                "," + pathsOf(*tool) + ",\"sentPlatform\":" + hex(tool->versionRecord.getPlatform()) +
                ",\"sentType\":" + hex(tool->versionRecord.getType());
        if (!installed) {
            startPass(*tool);
            const VersionOffer offer = tool->queryVersion();
            if (offer.ending)
                tool->finishPass(*offer.ending);
            line += ",\"query\":{\"status\":" + jsonTexts(dialog.status.texts) +
                    ",\"button\":" + jsonTexts(dialog.button.texts) + "," + flags(*tool) + "}";
        }
        line += "}\n";
        std::fputs(line.c_str(), out);
        std::fflush(out);
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    const bool answers = mode == L"answers" && argc == 6;
    const bool records = mode == L"records" && argc == 5;
    if (!answers && !records) {
        std::fputs("usage: hostile_driver answers OUT BASE LAUNCHER_DIR COUNT\n"
                   "       hostile_driver records OUT CASES COUNT\n",
                   stderr);
        return 2;
    }
    std::FILE* out = _wfopen(argv[2], L"wb");
    if (!out) {
        std::fputs("cannot open the output file\n", stderr);
        return 2;
    }
    int result;
    if (answers)
        result = runAnswers(out, narrow(argv[3]), narrow(argv[4]), _wtoi(argv[5]));
    else
        result = runRecords(out, narrow(argv[3]), _wtoi(argv[4]));
    std::fputs("{\"end\":1}\n", out);
    std::fclose(out);
    return result;
}
