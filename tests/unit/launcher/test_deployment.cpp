#include "tests/support/ControlRecorder.h"
#include "ExpectedTexts.h"
#include "src/InstallLayout.h"
#include "tests/support/TestArchive.h"
#include "tests/support/TestFiles.h"
#include "src/UpdateTool.h"
#include "common/FileSystem.h"
#include "common/UniqueHandle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace {

// An UpdateTool on a temp install root whose dialog controls are recorders.
struct Rig {
    TempFolder root;
    TempFolder launcher;
    // The extraction moves the current directory; it goes back before the folders go.
    CurrentDirectory restored{currentDirectory()};
    ControlRecorder status, button, bar;
    UpdateTool tool{root.narrowPath(), launcher.narrowPath() + "\\"};

    Rig()
    {
        tool.statusText = status.handle();
        tool.actionButton = button.handle();
        tool.progressBar = bar.handle();
        tool.targetDir = root.narrowPath() + "\\app\\9";
        tool.stagingDir = root.narrowPath() + "\\app\\temp9";
        tool.packageFile = root.narrowPath() + "\\package.nw";
        tool.versionRecord.load(tool.recordPath);
        tool.versionRecord.setVer("9");
        tool.busy = 1;
    }

    // The network road to a gateway where nothing listens: every query fails at once,
    // the same way on every machine.
    void takeUnreachableNetworkRoad()
    {
        ASSERT_FALSE(tool.checkInstallation());
        ASSERT_EQ(tool.onlineInstall, 1);
        tool.gatewayUrl = "https://127.0.0.1:1/gateway.php";
    }

    // The deployment as the worker ends its pass with it.
    WorkerOutcome deploy()
    {
        const WorkerOutcome outcome = tool.deployPackage();
        tool.finishPass(outcome);
        return outcome;
    }
};

} // namespace

TEST(DeleteFolder, ReportsBeforeEveryDeletionAndRemovesTheTree)
{
    Rig rig;
    const std::string target = rig.root / "old";
    CreateDirectoryA(target.c_str(), nullptr);
    CreateDirectoryA((target + "\\sub").c_str(), nullptr);
    for (const char* name : {"a", "b", "c"})
        writeFile(target + "\\sub\\" + name, "x");

    EXPECT_EQ(rig.tool.deleteFolder(target), 0);

    EXPECT_EQ(rig.bar.positions, (std::vector<int>{0, 20, 40, 60, 80, 100}));
    EXPECT_EQ(rig.status.texts.back(), L"\x6B63\x5728\x5220\x9664\x65E7\x6587\x4EF6(100%)...");
    EXPECT_EQ(GetFileAttributesA(target.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(DeleteFolder, MissingFolderShowsZeroThenHundredAndEmptyPathDeletesNothing)
{
    Rig rig;
    EXPECT_EQ(rig.tool.deleteFolder(rig.root / "absent"), 0);
    EXPECT_EQ(rig.bar.positions, (std::vector<int>{0, 100}));

    writeFile(rig.launcher / "keep", "x");
    {
        const CurrentDirectory inLauncher(rig.launcher.path());
        EXPECT_EQ(rig.tool.deleteFolder(""), 0);
    }
    EXPECT_EQ(readFile(rig.launcher / "keep"), "x");
}

TEST(DeleteFolder, ReadOnlyFileStaysWithEveryFolderAboveIt)
{
    Rig rig;
    const std::string target = rig.root / "old";
    CreateDirectoryA(target.c_str(), nullptr);
    CreateDirectoryA((target + "\\locked").c_str(), nullptr);
    CreateDirectoryA((target + "\\free").c_str(), nullptr);
    writeFile(target + "\\locked\\ro", "x");
    writeFile(target + "\\free\\rw", "x");
    SetFileAttributesA((target + "\\locked\\ro").c_str(), FILE_ATTRIBUTE_READONLY);

    rig.tool.deleteFolder(target);

    EXPECT_EQ(readFile(target + "\\locked\\ro"), "x");
    EXPECT_FALSE(folderExists(target + "\\free"));
}

TEST(DeployPackage, UnpacksIntoStagingSwapsItInAndRecordsTheVersion)
{
    Rig rig;
    writeArchive(rig.tool.packageFile, {{"index.html", "<html>"}, {"js/", ""}, {"js/app.js", "app"}});
    makeFolders(rig.tool.targetDir + "\\stale");

    EXPECT_EQ(rig.deploy(), WorkerOutcome::Installed);

    EXPECT_EQ(readFile(rig.tool.targetDir + "\\index.html"), "<html>");
    EXPECT_EQ(readFile(rig.tool.targetDir + "\\js\\app.js"), "app");
    EXPECT_FALSE(folderExists(rig.tool.targetDir + "\\stale"));
    EXPECT_FALSE(folderExists(rig.tool.stagingDir));
    EXPECT_EQ(readFile(rig.tool.recordPath), "{\"platform\":\"2\",\"type\":\"1\",\"ver\":\"9\"}\r\n");
    EXPECT_EQ(rig.status.texts.back(), Expected::kStatusInstalled);
    EXPECT_EQ(rig.tool.launchOnConfirm, 1);
    EXPECT_EQ(rig.tool.busy, 0);
    // The extraction leaves the current directory at the launcher's folder.
    EXPECT_EQ(narrow(currentDirectory()) + "\\", rig.launcher.narrowPath() + "\\");
}

TEST(DeployPackage, LeftoverStagingFolderIsEmptiedBeforeTheExtraction)
{
    Rig rig;
    makeFolders(rig.tool.stagingDir + "\\old");
    writeFile(rig.tool.stagingDir + "\\index.html", "old");
    writeFile(rig.tool.stagingDir + "\\old\\extra.txt", "left over");
    writeArchive(rig.tool.packageFile, {{"index.html", "new"}});

    EXPECT_EQ(rig.deploy(), WorkerOutcome::Installed);
    EXPECT_EQ(readFile(rig.tool.targetDir + "\\index.html"), "new");
    EXPECT_FALSE(folderExists(rig.tool.targetDir + "\\old"));
}

// A left-over that cannot be removed would be installed with the package; the
// deployment fails before it unpacks anything instead.
TEST(DeployPackage, LeftoverStagingFileThatCannotBeRemovedFailsTheExtraction)
{
    enum class Fault { ReadOnly, HeldWithoutSharedWriting };
    for (const Fault fault : {Fault::ReadOnly, Fault::HeldWithoutSharedWriting}) {
        SCOPED_TRACE(static_cast<int>(fault));
        Rig rig;
        const std::string stale = rig.tool.stagingDir + "\\js\\app.js";
        makeFolders(rig.tool.stagingDir + "\\js");
        writeFile(stale, "older package");
        makeFolders(rig.tool.targetDir);
        writeFile(rig.tool.targetDir + "\\keep", "installed");
        writeArchive(rig.tool.packageFile, {{"js/app.js", "new"}, {"index.html", "new"}});
        UniqueFileHandle holder;
        if (fault == Fault::ReadOnly)
            SetFileAttributesA(stale.c_str(), FILE_ATTRIBUTE_READONLY);
        else
            holder.reset(CreateFileA(stale.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));

        EXPECT_EQ(rig.deploy(), WorkerOutcome::UnpackFailed);

        holder.reset();
        SetFileAttributesA(stale.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(rig.status.texts.back(), Expected::kStatusUnpackFailed);
        EXPECT_EQ(readFile(stale), "older package");
        EXPECT_EQ(GetFileAttributesA((rig.tool.stagingDir + "\\index.html").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(readFile(rig.tool.targetDir + "\\keep"), "installed");
        EXPECT_EQ(GetFileAttributesA(rig.tool.recordPath.c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

TEST(DeployPackage, PackageThatIsNoArchiveFailsWithoutTouchingTheTarget)
{
    Rig rig;
    writeFile(rig.tool.packageFile, "not a zip");
    makeFolders(rig.tool.targetDir);
    writeFile(rig.tool.targetDir + "\\keep", "x");

    EXPECT_EQ(rig.deploy(), WorkerOutcome::UnpackFailed);
    EXPECT_EQ(rig.status.texts.back(), Expected::kStatusUnpackFailed);
    EXPECT_EQ(readFile(rig.tool.targetDir + "\\keep"), "x");
    EXPECT_EQ(GetFileAttributesA(rig.tool.recordPath.c_str()), INVALID_FILE_ATTRIBUTES);
    // A final state: the button neither retries nor starts the client.
    EXPECT_EQ(rig.tool.busy, 0);
    EXPECT_EQ(rig.tool.failed, 0);
    EXPECT_EQ(rig.tool.launchOnConfirm, 0);
}

// A package.nw that breaks inside, or one entry of which cannot be written, must leave
// the installed version as it is: nothing deleted, nothing moved, no record.
TEST(DeployPackage, PackageWithAnEntryNotWrittenWholeFailsWithoutTouchingTheTarget)
{
    const struct {
        const char* what;
        TestEntry second;
    } cases[] = {
        {"crc mismatch", {"js/app.js", "corrupt", 0x12345678u}},
        {"data shorter than declared", {"js/app.js", "partial", std::nullopt, 4096u}},
        {"name refused", {"../escaped.txt", "evil"}},
        {"file that cannot be created", {"index.html/app.js", "x"}},
        {"folder that cannot be made", {"index.html/", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        writeArchive(rig.tool.packageFile, {{"index.html", "new"}, c.second, {"css/site.css", "never"}});
        makeFolders(rig.tool.targetDir + "\\js");
        writeFile(rig.tool.targetDir + "\\index.html", "old");
        writeFile(rig.tool.targetDir + "\\js\\app.js", "old app");

        EXPECT_EQ(rig.deploy(), WorkerOutcome::UnpackFailed);

        EXPECT_EQ(rig.status.texts.back(), Expected::kStatusUnpackFailed);
        EXPECT_EQ(readFile(rig.tool.targetDir + "\\index.html"), "old");
        EXPECT_EQ(readFile(rig.tool.targetDir + "\\js\\app.js"), "old app");
        EXPECT_EQ(GetFileAttributesA(rig.tool.recordPath.c_str()), INVALID_FILE_ATTRIBUTES);
        // What was unpacked stays in the staging folder, never moved into place.
        EXPECT_EQ(readFile(rig.tool.stagingDir + "\\index.html"), "new");
        EXPECT_FALSE(folderExists(rig.tool.stagingDir + "\\css"));
        EXPECT_EQ(GetFileAttributesA((rig.root.narrowPath() + "\\app\\escaped.txt").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(rig.tool.busy, 0);
        EXPECT_EQ(rig.tool.failed, 0);
        EXPECT_EQ(rig.tool.launchOnConfirm, 0);
        EXPECT_EQ(narrow(currentDirectory()) + "\\", rig.launcher.narrowPath() + "\\");
    }
}

TEST(DeployPackage, ReadOnlyFileInTheOldFolderMakesTheSwapFail)
{
    Rig rig;
    writeArchive(rig.tool.packageFile, {{"index.html", "new"}});
    makeFolders(rig.tool.targetDir);
    writeFile(rig.tool.targetDir + "\\ro", "x");
    SetFileAttributesA((rig.tool.targetDir + "\\ro").c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(rig.deploy(), WorkerOutcome::ApplyFailed);
    EXPECT_EQ(rig.status.texts.back(), Expected::kStatusApplyFailed);
    EXPECT_EQ(readFile(rig.tool.stagingDir + "\\index.html"), "new");
    EXPECT_EQ(GetFileAttributesA(rig.tool.recordPath.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(UnzipFiles, ProgressPerEntryAndTheCurrentDirectoryRestored)
{
    Rig rig;
    writeArchive(rig.root / "three.zip", {{"a.txt", "1"}, {"b.txt", "2"}, {"c.txt", "3"}});
    const std::string destination = rig.root / "out";
    makeFolders(destination);

    EXPECT_EQ(rig.tool.unzipFiles(rig.root / "three.zip", destination), 0);
    EXPECT_EQ(rig.bar.positions, (std::vector<int>{33, 66, 100}));
    EXPECT_EQ(narrow(currentDirectory()) + "\\", rig.launcher.narrowPath() + "\\");
}

TEST(UnzipFiles, ManyEntriesSendOnlyChangedPercentages)
{
    Rig rig;
    std::vector<TestEntry> entries;
    for (int i = 0; i < 200; ++i)
        entries.push_back({"f" + std::to_string(i), "x"});
    writeArchive(rig.root / "many.zip", entries);
    makeFolders(rig.root / "out");

    EXPECT_EQ(rig.tool.unzipFiles(rig.root / "many.zip", rig.root / "out"), 0);
    ASSERT_EQ(rig.bar.positions.size(), 101u);
    for (int percent = 0; percent <= 100; ++percent)
        EXPECT_EQ(rig.bar.positions[percent], percent);
}

// A walk that an entry's read, size or CRC check stops has left a partial tree, which
// must not pass as the unpacked package.
TEST(UnzipFiles, WalkStoppedByABrokenEntryFailsWithTheDirectoryRestored)
{
    struct Case {
        const char* what;
        std::vector<TestEntry> entries;
        std::size_t claimedCount;
        const char* lastWritten;     // the entry the walk stopped in or after
        std::string lastContent;
        std::vector<int> percentages; // shown before the walk stopped
    };
    const Case cases[] = {
        {"crc mismatch",
         {{"first.txt", "1"}, {"broken.txt", "payload", 0x12345678u}, {"never.txt", "3"}}, 0,
         "broken.txt", "payload", {33}},
        {"data shorter than declared",
         {{"first.txt", "1"}, {"short.txt", "abc", std::nullopt, 1000u}, {"never.txt", "3"}}, 0,
         "short.txt", "abc", {33}},
        {"directory claims more entries than there are",
         {{"first.txt", "1"}, {"second.txt", "2"}, {"third.txt", "3"}}, 5,
         "third.txt", "3", {20, 40, 60}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        writeArchive(rig.root / "broken.zip", c.entries, c.claimedCount);
        const std::string destination = rig.root / "out";
        makeFolders(destination);

        EXPECT_EQ(rig.tool.unzipFiles(rig.root / "broken.zip", destination), -1);
        EXPECT_EQ(readFile(destination + "\\first.txt"), "1");
        EXPECT_EQ(readFile(destination + "\\" + c.lastWritten), c.lastContent);
        EXPECT_EQ(GetFileAttributesA((destination + "\\never.txt").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(rig.bar.positions, c.percentages);
        EXPECT_EQ(narrow(currentDirectory()) + "\\", rig.launcher.narrowPath() + "\\");
    }
}

// A refused name is never written, and the archive it came in is not whole.
TEST(UnzipFiles, RefusedNameFailsTheExtractionAndWritesNothing)
{
    Rig rig;
    writeArchive(rig.root / "refused.zip", {{"../escaped.txt", "evil"}, {"..\\escaped-back.txt", "evil"}});
    const std::string destination = rig.root / "a\\out";
    makeFolders(destination);

    EXPECT_EQ(rig.tool.unzipFiles(rig.root / "refused.zip", destination), -1);
    for (const char* name : {"\\escaped.txt", "\\escaped-back.txt", "\\a\\escaped.txt", "\\a\\escaped-back.txt"})
        EXPECT_EQ(GetFileAttributesA((rig.root.narrowPath() + name).c_str()), INVALID_FILE_ATTRIBUTES) << name;
    EXPECT_EQ(rig.bar.positions, (std::vector<int>{}));
    EXPECT_EQ(narrow(currentDirectory()) + "\\", rig.launcher.narrowPath() + "\\");
}

TEST(UnzipFiles, EmptyArchiveShowsNothingAndMissingPiecesFail)
{
    Rig rig;
    // The reader only finds a directory that does not start the file, as in any
    // archive with a stub or a signature in front; one byte is enough.
    writeFile(rig.root / "empty.zip", std::string(1, '\0') + zipBytes({}));
    makeFolders(rig.root / "out");
    EXPECT_EQ(rig.tool.unzipFiles(rig.root / "empty.zip", rig.root / "out"), 0);
    EXPECT_TRUE(rig.bar.positions.empty());

    EXPECT_EQ(rig.tool.unzipFiles(rig.root / "absent.zip", rig.root / "out"), -1);
    EXPECT_EQ(rig.tool.unzipFiles(rig.root / "empty.zip", rig.root / "no such folder"), -1);
}

// The archive road starts the client itself. While it does, the button must not be able
// to start a second one; when the start fails, the button offers it again.
TEST(InstallLocalPackage, NoPressCanStartASecondClientWhileTheWorkerStartsIt)
{
    Rig rig; // no erp.exe beside the launcher: the start fails and returns
    writeArchive(rig.tool.packageFile, {{"index.html", "new"}});
    bool startOffered = true;
    rig.status.onText = [&] {
        if (rig.status.texts.back() == Expected::kStatusStartFailed)
            startOffered = rig.tool.launchOnConfirm != 0 || rig.tool.busy == 0;
    };

    EXPECT_EQ(installLocalPackage(&rig.tool), 0u);

    EXPECT_FALSE(startOffered);
    ASSERT_GE(rig.status.texts.size(), 2u);
    EXPECT_EQ(rig.status.texts[rig.status.texts.size() - 2], Expected::kStatusInstalled);
    EXPECT_EQ(rig.status.texts.back(), Expected::kStatusStartFailed);
    EXPECT_EQ(rig.tool.launchOnConfirm, 1);
    EXPECT_EQ(rig.tool.busy, 0);
}

// A retry may start only once the pass it retries has ended. Pressed at any moment from
// the end of the query to the pass's last text, the button must find a worker running;
// and whatever a retry's query would leave in the tool then must not change what this
// pass goes on to do.
TEST(UpdateWorker, NoRetryCanStartBeforeThePassHasEndedNorChangeWhatItDoes)
{
    Rig rig;
    ASSERT_NO_FATAL_FAILURE(rig.takeUnreachableNetworkRoad());
    rig.tool.failed = 0;
    std::vector<std::string> retryOpenAt;
    const auto noteRetryOpen = [&](const char* moment) {
        // The button's own condition for starting a worker.
        if (rig.tool.failed && !rig.tool.busy)
            retryOpenAt.emplace_back(moment);
    };
    rig.status.onText = [&] { noteRetryOpen("a status text"); };
    rig.button.onText = [&] { noteRetryOpen("a caption"); };
    rig.tool.afterQuery = [&] {
        noteRetryOpen("the end of the query");
        // A retry's query that offers a package, as if one had started here.
        GatewayReading offered;
        offered.answer = GatewayAnswer::Package;
        offered.package.url = "https://127.0.0.1:1/package.zip";
        offered.package.ver = "10";
        offered.package.verFromAnswer = true;
        rig.tool.applyReading(offered);
    };

    EXPECT_EQ(updateWorker(&rig.tool), 0u);

    EXPECT_EQ(retryOpenAt, std::vector<std::string>{});
    // The pass ended as its own query did: no download was tried.
    EXPECT_EQ(rig.status.texts, std::vector<std::wstring>{Expected::kStatusNetworkError});
    EXPECT_EQ(rig.button.texts, std::vector<std::wstring>{Expected::kButtonRetry});
    EXPECT_TRUE(rig.bar.positions.empty());
    EXPECT_FALSE(folderExists(rig.tool.downloadDir));
    EXPECT_EQ(rig.tool.failed, 1);
    EXPECT_EQ(rig.tool.busy, 0);
}

// Allocation failure on demand: every allocation of one chosen thread counts down, and
// the one that reaches zero throws. Other threads, the recorders' among them, allocate
// as usual.
namespace {
std::atomic<DWORD> g_failingThread{0};
std::atomic<long> g_allocationsLeft{0};
} // namespace

void* operator new(std::size_t size)
{
    if (g_failingThread.load() == GetCurrentThreadId() && g_allocationsLeft.fetch_sub(1) == 1)
        throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

// GCC takes the replacement's own free for a mismatch with the operator new it replaces.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept
{
    std::free(block);
}
#pragma GCC diagnostic pop

void operator delete(void* block, std::size_t) noexcept
{
    ::operator delete(block);
}

namespace {

std::atomic<int> g_messageBoxes{0};

// Answers every message box of the hooked thread with OK, as a user would.
LRESULT CALLBACK confirmMessageBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    wchar_t className[16] = L"";
    if (code == HCBT_CREATEWND && GetClassNameW(reinterpret_cast<HWND>(wParam), className, 16) &&
        std::wstring(className) == L"#32770") {
        ++g_messageBoxes;
        PostMessageW(reinterpret_cast<HWND>(wParam), WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The status texts with the progress lines ("...(42%)...") left out.
std::vector<std::wstring> outcomeTexts(const std::vector<std::wstring>& texts)
{
    std::vector<std::wstring> outcomes;
    for (const std::wstring& text : texts)
        if (text.find(L"%)") == std::wstring::npos)
            outcomes.push_back(text);
    return outcomes;
}

// Runs `entry` on a worker thread whose `failAt`-th allocation fails, while this
// thread takes the messages the worker sends, as the dialog's loop does. True when the
// worker reached that allocation. A failure that escaped the thread would have ended
// the process.
bool runFailingAt(UpdateTool& tool, LPTHREAD_START_ROUTINE entry, long failAt)
{
    tool.busy = 1;
    tool.failed = 0;
    DWORD id = 0;
    const UniqueHandle thread(CreateThread(nullptr, 0, entry, &tool, CREATE_SUSPENDED, &id));
    const HHOOK hook = SetWindowsHookExW(WH_CBT, confirmMessageBoxes, nullptr, id);
    g_allocationsLeft = failAt;
    g_failingThread = id;
    ResumeThread(thread.get());
    const HANDLE handles[] = {thread.get()};
    while (MsgWaitForMultipleObjects(1, handles, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    g_failingThread = 0;
    UnhookWindowsHookEx(hook);
    DWORD exitCode = 1;
    GetExitCodeThread(thread.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    return g_allocationsLeft.load() <= 0;
}

} // namespace

// Whichever allocation of a pass fails, the pass ends with one outcome shown, busy
// cleared and nothing escaping its thread: the query's, as a network error.
TEST(OutOfMemory, AnyFailedAllocationOfAQueryEndsThePassAsANetworkError)
{
    for (long failAt = 1;; ++failAt) {
        SCOPED_TRACE("allocation " + std::to_string(failAt));
        Rig rig;
        ASSERT_NO_FATAL_FAILURE(rig.takeUnreachableNetworkRoad());
        const bool reached = runFailingAt(rig.tool, updateWorker, failAt);

        EXPECT_EQ(rig.status.texts, std::vector<std::wstring>{Expected::kStatusNetworkError});
        EXPECT_EQ(rig.button.texts, std::vector<std::wstring>{Expected::kButtonRetry});
        EXPECT_EQ(rig.tool.failed, 1);
        EXPECT_EQ(rig.tool.busy, 0);
        if (!reached || HasFailure())
            break;
    }
}

// The archive road: either the package is installed and the start tried, or the
// install failed with its message, nothing recorded.
TEST(OutOfMemory, AnyFailedAllocationOfTheArchiveRoadEndsItInstalledOrFailed)
{
    int installs = 0;
    int failures = 0;
    for (long failAt = 1;; ++failAt) {
        SCOPED_TRACE("allocation " + std::to_string(failAt));
        Rig rig;
        writeArchive(rig.launcher / std::string("res.dat"), {{"index.html", "new"}, {"js/app.js", "app"}});
        ASSERT_FALSE(rig.tool.checkInstallation());
        ASSERT_EQ(rig.tool.onlineInstall, 0);
        g_messageBoxes = 0;
        const bool reached = runFailingAt(rig.tool, installLocalPackage, failAt);

        const std::vector<std::wstring> installed{Expected::kStatusInstalled, Expected::kStatusStartFailed};
        const std::vector<std::wstring> unpackFailed{Expected::kStatusUnpackFailed};
        const std::vector<std::wstring> shown = outcomeTexts(rig.status.texts);
        if (!shown.empty() && shown.front() == installed.front()) {
            ++installs;
            EXPECT_EQ(shown, installed);
            EXPECT_EQ(g_messageBoxes, 0);
            EXPECT_EQ(rig.tool.launchOnConfirm, 1);
        } else {
            ++failures;
            EXPECT_EQ(shown, unpackFailed);
            EXPECT_EQ(g_messageBoxes, 1);
            EXPECT_FALSE(VersionRecord().load(rig.tool.recordPath));
        }
        EXPECT_EQ(rig.tool.busy, 0);
        // A folder that is some process's current directory cannot be renamed or
        // deleted: the extraction's must not outlive it.
        EXPECT_EQ(currentDirectory().rfind(rig.root.path(), 0), std::wstring::npos);
        if (!reached || HasFailure())
            break;
    }
    EXPECT_GT(failures, 0);
    EXPECT_GE(installs, 1); // at least the run no allocation failed in
}
