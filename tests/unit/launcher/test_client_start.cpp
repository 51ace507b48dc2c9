#include "tests/support/ControlRecorder.h"
#include "DebugCapture.h"
#include "ExpectedTexts.h"
#include "tests/support/TestFiles.h"
#include "src/UpdateDialog.h"
#include "src/UpdateTool.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// "客户 端" in GBK, the ANSI code page the tests run in.
const std::string kChineseFolder = "\xBF\xCD\xBB\xA7 \xB6\xCB";

std::string testProgramFolder()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

// ANSI text as the UTF-8 JSON string the stub runtime records it as.
std::string asJsonString(const std::string& ansi)
{
    std::string json = "\"";
    for (char c : narrow(widen(ansi), CP_UTF8)) {
        if (c == '"' || c == '\\')
            json += '\\';
        json += c;
    }
    return json + "\"";
}

// The stub runtime's record of its start, once it has written the whole line.
std::string waitForLaunchRecord(const std::string& folder)
{
    const std::string log = folder + "\\launches.jsonl";
    std::string record;
    for (int i = 0; i < 600; ++i) {
        record = readFile(log);
        if (!record.empty() && record.back() == '\n')
            break;
        Sleep(50);
    }
    return record;
}

// The messages (time stamps cut) of the first `count` debug strings sent while
// `action` runs. Read on a thread of their own: a string waits until the one before
// it has been taken.
template <typename Action>
std::vector<std::string> debugMessagesOf(size_t count, Action action)
{
    DebugCapture capture;
    std::vector<std::string> messages;
    if (!capture.ready())
        return messages;
    std::thread reader([&] {
        while (messages.size() < count) {
            const std::string line = capture.next();
            if (line.size() < 22)
                break;
            messages.push_back(line.substr(22));
        }
    });
    action();
    reader.join();
    return messages;
}

} // namespace

TEST(StartProcess, StartsTheProgramWithTheCommandLineIntactWithoutWaiting)
{
    const std::string stub = testProgramFolder() + "erp.exe";
    ASSERT_NE(GetFileAttributesA(stub.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the stub runtime erp.exe is built beside the tests";
    TempFolder temp;
    const std::string folder = temp / kChineseFolder;
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string runtime = folder + "\\erp.exe";
    ASSERT_TRUE(CopyFileA(stub.c_str(), runtime.c_str(), FALSE));
    // A client that keeps running: the start must not wait for it.
    writeFile(folder + "\\stub-sleep", "");
    const std::string commandLine = "\"" + runtime + "\" \"" + folder + "\\app\\7 " + kChineseFolder + "\"";

    ASSERT_EQ(startProcess(runtime, commandLine), 0);

    const std::string record = waitForLaunchRecord(folder);
    EXPECT_NE(record.find("\"exe\": " + asJsonString(runtime) + ","), std::string::npos) << record;
    EXPECT_NE(record.find("\"command_line\": " + asJsonString(commandLine) + ","), std::string::npos)
        << record;

    // End the sleeping client so its folder can go.
    const size_t pidAt = record.find("\"pid\": ");
    ASSERT_NE(pidAt, std::string::npos);
    const DWORD pid = std::stoul(record.substr(pidAt + 7));
    HANDLE client = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(client, nullptr);
    TerminateProcess(client, 0);
    WaitForSingleObject(client, 10000);
    CloseHandle(client);
}

TEST(StartProcess, ReportsAProgramThatCannotStartAndLogsTheCommandLineFirst)
{
    TempFolder temp;
    const std::string runtime = temp / "erp.exe";
    const std::string commandLine = "\"" + runtime + "\" \"" + temp / "app 70" + "\"";
    DebugCapture capture;
    ASSERT_TRUE(capture.ready());

    EXPECT_EQ(startProcess(runtime, commandLine), -1);

    EXPECT_EQ(capture.next().substr(22), "\n" + commandLine + "\n");
}

TEST(LaunchClient, FailedStartShowsTheFailureAndReturns)
{
    TempFolder temp;
    // Launcher folders end in a backslash; the runtime name follows directly.
    const std::string launcherDir = temp.narrowPath() + "\\";
    const std::string runtime = launcherDir + "erp.exe";
    const std::string installed = temp / "root\\app\\70";
    const std::string package = launcherDir + "package.nw";

    struct Case {
        bool withPackage;
        std::string argument;
    };
    for (const Case& c : {Case{false, installed}, Case{true, package}}) {
        SCOPED_TRACE(c.withPackage ? "package beside the launcher" : "installed folder");
        if (c.withPackage)
            writeFile(package, "");
        UpdateTool tool(temp / "root", launcherDir);
        tool.targetDir = installed;
        ControlRecorder status;
        tool.statusText = status.handle();

        const auto messages = debugMessagesOf(2, [&] { tool.launchClient(); });

        EXPECT_EQ(messages, (std::vector<std::string>{
                                "\n\"" + runtime + "\" \"" + c.argument + "\"\n",
                                Expected::kLogStartFailed}));
        EXPECT_EQ(status.texts, std::vector<std::wstring>{Expected::kStatusStartFailed});
    }
}

TEST(LaunchClient, FailedStartBeforeTheDialogExistsOnlyLogs)
{
    TempFolder temp;
    UpdateTool tool(temp / "root", temp.narrowPath() + "\\");
    tool.targetDir = temp / "root\\app\\70";

    const auto messages = debugMessagesOf(2, [&] { tool.launchClient(); });

    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], Expected::kLogStartFailed);
}

TEST(ActionButton, DoesWhatTheFlagsSayAndNothingElse)
{
    TempFolder temp;
    UpdateTool tool(temp / "root", temp.narrowPath() + "\\");
    tool.targetDir = temp / "root\\app\\70";
    ControlRecorder status;
    ControlRecorder button;
    tool.statusText = status.handle();
    tool.actionButton = button.handle();
    g_updateTool = &tool;

    struct Case {
        const char* state;
        std::uint8_t busy, failed, launchOnConfirm;
        bool tryStart;
    };
    const Case cases[] = {
        {"final state", 0, 0, 0, false},
        {"worker running", 1, 0, 0, false},
        // A retry needs the worker gone: a second one must never start.
        {"failure reported, worker still ending", 1, 1, 0, false},
        {"install done", 0, 0, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        tool.busy = c.busy;
        tool.failed = c.failed;
        tool.launchOnConfirm = c.launchOnConfirm;
        status.texts.clear();
        button.texts.clear();

        onActionButton();

        // No runtime lies in the launcher folder: a start shows its failure.
        EXPECT_EQ(status.texts, c.tryStart ? std::vector<std::wstring>{Expected::kStatusStartFailed}
                                           : std::vector<std::wstring>{});
        EXPECT_TRUE(button.texts.empty());
        EXPECT_EQ(tool.busy, c.busy);
        EXPECT_EQ(tool.failed, c.failed);
        EXPECT_EQ(tool.launchOnConfirm, c.launchOnConfirm);
    }
    g_updateTool = nullptr;
}
