#include "ControlRecorder.h"
#include "InstallLayout.h"
#include "TempFolder.h"
#include "Texts.h"
#include "UpdateTool.h"
#include "ZipWriter.h"
#include "common/FileSystem.h"
#include "common/UniqueHandle.h"

#include <gtest/gtest.h>

#include <direct.h>

#include <string>
#include <vector>

namespace {

// An UpdateTool on a temp install root whose dialog controls are recorders.
struct Rig {
    std::string originalDirectory = currentDirectory();
    TempFolder root;
    TempFolder launcher;
    ControlRecorder status, button, bar;
    UpdateTool tool{root.path(), launcher.path() + "\\"};

    Rig()
    {
        tool.statusText = status.handle();
        tool.actionButton = button.handle();
        tool.progressBar = bar.handle();
        tool.targetDir = root.path() + "\\app\\9";
        tool.stagingDir = root.path() + "\\app\\temp9";
        tool.packageFile = root.path() + "\\package.nw";
        tool.versionRecord.load(tool.recordPath);
        tool.versionRecord.setVer("9");
        tool.busy = 1;
    }
    ~Rig() { SetCurrentDirectoryA(originalDirectory.c_str()); }

    // The deployment as the worker ends its pass with it.
    WorkerOutcome deploy()
    {
        const WorkerOutcome outcome = tool.deployPackage();
        tool.finishPass(outcome);
        return outcome;
    }

    static std::string currentDirectory()
    {
        char dir[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, dir);
        return dir;
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
        TempFolder::write(target + "\\sub\\" + name, "x");

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

    TempFolder::write(rig.launcher / "keep", "x");
    const std::string before = rig.currentDirectory();
    ASSERT_EQ(_chdir(rig.launcher.path().c_str()), 0);
    EXPECT_EQ(rig.tool.deleteFolder(""), 0);
    _chdir(before.c_str());
    EXPECT_EQ(TempFolder::read(rig.launcher / "keep"), "x");
}

TEST(DeleteFolder, ReadOnlyFileStaysWithEveryFolderAboveIt)
{
    Rig rig;
    const std::string target = rig.root / "old";
    CreateDirectoryA(target.c_str(), nullptr);
    CreateDirectoryA((target + "\\locked").c_str(), nullptr);
    CreateDirectoryA((target + "\\free").c_str(), nullptr);
    TempFolder::write(target + "\\locked\\ro", "x");
    TempFolder::write(target + "\\free\\rw", "x");
    SetFileAttributesA((target + "\\locked\\ro").c_str(), FILE_ATTRIBUTE_READONLY);

    rig.tool.deleteFolder(target);

    EXPECT_EQ(TempFolder::read(target + "\\locked\\ro"), "x");
    EXPECT_FALSE(TempFolder::isFolder(target + "\\free"));
}

TEST(DeployPackage, UnpacksIntoStagingSwapsItInAndRecordsTheVersion)
{
    Rig rig;
    ZipWriter zip;
    zip.add("index.html", "<html>");
    zip.add("js/", "");
    zip.add("js/app.js", "app");
    zip.save(rig.tool.packageFile);
    makeFolders(rig.tool.targetDir + "\\stale");

    EXPECT_EQ(rig.deploy(), WorkerOutcome::Installed);

    EXPECT_EQ(TempFolder::read(rig.tool.targetDir + "\\index.html"), "<html>");
    EXPECT_EQ(TempFolder::read(rig.tool.targetDir + "\\js\\app.js"), "app");
    EXPECT_FALSE(TempFolder::isFolder(rig.tool.targetDir + "\\stale"));
    EXPECT_FALSE(TempFolder::isFolder(rig.tool.stagingDir));
    EXPECT_EQ(TempFolder::read(rig.tool.recordPath), "{\"platform\":\"2\",\"type\":\"1\",\"ver\":\"9\"}\r\n");
    EXPECT_EQ(rig.status.texts.back(), Texts::kStatusInstalled);
    EXPECT_EQ(rig.tool.launchOnConfirm, 1);
    EXPECT_EQ(rig.tool.busy, 0);
    // The extraction leaves the current directory at the launcher's folder.
    EXPECT_EQ(rig.currentDirectory() + "\\", rig.launcher.path() + "\\");
}

TEST(DeployPackage, LeftoverStagingFolderIsReused)
{
    Rig rig;
    makeFolders(rig.tool.stagingDir);
    TempFolder::write(rig.tool.stagingDir + "\\index.html", "old");
    TempFolder::write(rig.tool.stagingDir + "\\extra.txt", "left over");
    ZipWriter zip;
    zip.add("index.html", "new");
    zip.save(rig.tool.packageFile);

    EXPECT_EQ(rig.deploy(), WorkerOutcome::Installed);
    EXPECT_EQ(TempFolder::read(rig.tool.targetDir + "\\index.html"), "new");
    EXPECT_EQ(TempFolder::read(rig.tool.targetDir + "\\extra.txt"), "left over");
}

// A left-over the extraction cannot write over would be installed in place of the
// package's copy; the deployment fails before it unpacks anything instead.
TEST(DeployPackage, LeftoverStagingFileThatCannotBeWrittenOverFailsTheExtraction)
{
    enum class Fault { ReadOnly, HeldWithoutSharedWriting };
    for (const Fault fault : {Fault::ReadOnly, Fault::HeldWithoutSharedWriting}) {
        SCOPED_TRACE(static_cast<int>(fault));
        Rig rig;
        const std::string stale = rig.tool.stagingDir + "\\js\\app.js";
        makeFolders(rig.tool.stagingDir + "\\js");
        TempFolder::write(stale, "older package");
        makeFolders(rig.tool.targetDir);
        TempFolder::write(rig.tool.targetDir + "\\keep", "installed");
        ZipWriter zip;
        zip.add("js/app.js", "new");
        zip.add("index.html", "new");
        zip.save(rig.tool.packageFile);
        UniqueFileHandle holder;
        if (fault == Fault::ReadOnly)
            SetFileAttributesA(stale.c_str(), FILE_ATTRIBUTE_READONLY);
        else
            holder.reset(CreateFileA(stale.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));

        EXPECT_EQ(rig.deploy(), WorkerOutcome::UnpackFailed);

        holder.reset();
        SetFileAttributesA(stale.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(rig.status.texts.back(), Texts::kStatusUnpackFailed);
        EXPECT_EQ(TempFolder::read(stale), "older package");
        EXPECT_EQ(GetFileAttributesA((rig.tool.stagingDir + "\\index.html").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(TempFolder::read(rig.tool.targetDir + "\\keep"), "installed");
        EXPECT_EQ(GetFileAttributesA(rig.tool.recordPath.c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

TEST(DeployPackage, PackageThatIsNoArchiveFailsWithoutTouchingTheTarget)
{
    Rig rig;
    TempFolder::write(rig.tool.packageFile, "not a zip");
    makeFolders(rig.tool.targetDir);
    TempFolder::write(rig.tool.targetDir + "\\keep", "x");

    EXPECT_EQ(rig.deploy(), WorkerOutcome::UnpackFailed);
    EXPECT_EQ(rig.status.texts.back(), Texts::kStatusUnpackFailed);
    EXPECT_EQ(TempFolder::read(rig.tool.targetDir + "\\keep"), "x");
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
        void (*second)(ZipWriter&);
    } cases[] = {
        {"crc mismatch", [](ZipWriter& zip) { zip.add("js/app.js", "corrupt", true); }},
        {"data shorter than declared", [](ZipWriter& zip) { zip.addDeclaring("js/app.js", "partial", 4096); }},
        {"name refused", [](ZipWriter& zip) { zip.add("../escaped.txt", "evil"); }},
        {"file that cannot be created", [](ZipWriter& zip) { zip.add("index.html/app.js", "x"); }},
        {"folder that cannot be made", [](ZipWriter& zip) { zip.add("index.html/", ""); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        ZipWriter zip;
        zip.add("index.html", "new");
        c.second(zip);
        zip.add("css/site.css", "never");
        zip.save(rig.tool.packageFile);
        makeFolders(rig.tool.targetDir + "\\js");
        TempFolder::write(rig.tool.targetDir + "\\index.html", "old");
        TempFolder::write(rig.tool.targetDir + "\\js\\app.js", "old app");

        EXPECT_EQ(rig.deploy(), WorkerOutcome::UnpackFailed);

        EXPECT_EQ(rig.status.texts.back(), Texts::kStatusUnpackFailed);
        EXPECT_EQ(TempFolder::read(rig.tool.targetDir + "\\index.html"), "old");
        EXPECT_EQ(TempFolder::read(rig.tool.targetDir + "\\js\\app.js"), "old app");
        EXPECT_EQ(GetFileAttributesA(rig.tool.recordPath.c_str()), INVALID_FILE_ATTRIBUTES);
        // What was unpacked stays in the staging folder, never moved into place.
        EXPECT_EQ(TempFolder::read(rig.tool.stagingDir + "\\index.html"), "new");
        EXPECT_FALSE(TempFolder::isFolder(rig.tool.stagingDir + "\\css"));
        EXPECT_EQ(GetFileAttributesA((rig.root.path() + "\\app\\escaped.txt").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(rig.tool.busy, 0);
        EXPECT_EQ(rig.tool.failed, 0);
        EXPECT_EQ(rig.tool.launchOnConfirm, 0);
        EXPECT_EQ(rig.currentDirectory() + "\\", rig.launcher.path() + "\\");
    }
}

TEST(DeployPackage, ReadOnlyFileInTheOldFolderMakesTheSwapFail)
{
    Rig rig;
    ZipWriter zip;
    zip.add("index.html", "new");
    zip.save(rig.tool.packageFile);
    makeFolders(rig.tool.targetDir);
    TempFolder::write(rig.tool.targetDir + "\\ro", "x");
    SetFileAttributesA((rig.tool.targetDir + "\\ro").c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(rig.deploy(), WorkerOutcome::ApplyFailed);
    EXPECT_EQ(rig.status.texts.back(), Texts::kStatusApplyFailed);
    EXPECT_EQ(TempFolder::read(rig.tool.stagingDir + "\\index.html"), "new");
    EXPECT_EQ(GetFileAttributesA(rig.tool.recordPath.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(UnzipFiles, ProgressPerEntryAndTheCurrentDirectoryRestored)
{
    Rig rig;
    ZipWriter zip;
    zip.add("a.txt", "1");
    zip.add("b.txt", "2");
    zip.add("c.txt", "3");
    zip.save(rig.root / "three.zip");
    const std::string destination = rig.root / "out";
    makeFolders(destination);

    EXPECT_EQ(rig.tool.unzipFiles(rig.root / "three.zip", destination), 0);
    EXPECT_EQ(rig.bar.positions, (std::vector<int>{33, 66, 100}));
    EXPECT_EQ(rig.currentDirectory() + "\\", rig.launcher.path() + "\\");
}

TEST(UnzipFiles, ManyEntriesSendOnlyChangedPercentages)
{
    Rig rig;
    ZipWriter zip;
    for (int i = 0; i < 200; ++i)
        zip.add("f" + std::to_string(i), "x");
    zip.save(rig.root / "many.zip");
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
        void (*build)(ZipWriter&);
        const char* lastWritten;     // the entry the walk stopped in or after
        std::string lastContent;
        std::vector<int> percentages; // shown before the walk stopped
    };
    const Case cases[] = {
        {"crc mismatch",
         [](ZipWriter& zip) {
             zip.add("first.txt", "1");
             zip.add("broken.txt", "payload", true);
             zip.add("never.txt", "3");
         },
         "broken.txt", "payload", {33}},
        {"data shorter than declared",
         [](ZipWriter& zip) {
             zip.add("first.txt", "1");
             zip.addDeclaring("short.txt", "abc", 1000);
             zip.add("never.txt", "3");
         },
         "short.txt", "abc", {33}},
        {"directory claims more entries than there are",
         [](ZipWriter& zip) {
             zip.add("first.txt", "1");
             zip.add("second.txt", "2");
             zip.add("third.txt", "3");
             zip.claimCount(5);
         },
         "third.txt", "3", {20, 40, 60}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        ZipWriter zip;
        c.build(zip);
        zip.save(rig.root / "broken.zip");
        const std::string destination = rig.root / "out";
        makeFolders(destination);

        EXPECT_EQ(rig.tool.unzipFiles(rig.root / "broken.zip", destination), -1);
        EXPECT_EQ(TempFolder::read(destination + "\\first.txt"), "1");
        EXPECT_EQ(TempFolder::read(destination + "\\" + c.lastWritten), c.lastContent);
        EXPECT_EQ(GetFileAttributesA((destination + "\\never.txt").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(rig.bar.positions, c.percentages);
        EXPECT_EQ(rig.currentDirectory() + "\\", rig.launcher.path() + "\\");
    }
}

// A refused name is never written, and the archive it came in is not whole.
TEST(UnzipFiles, RefusedNameFailsTheExtractionAndWritesNothing)
{
    Rig rig;
    ZipWriter zip;
    zip.add("../escaped.txt", "evil");
    zip.add("..\\escaped-back.txt", "evil");
    zip.save(rig.root / "refused.zip");
    const std::string destination = rig.root / "a\\out";
    makeFolders(destination);

    EXPECT_EQ(rig.tool.unzipFiles(rig.root / "refused.zip", destination), -1);
    for (const char* name : {"\\escaped.txt", "\\escaped-back.txt", "\\a\\escaped.txt", "\\a\\escaped-back.txt"})
        EXPECT_EQ(GetFileAttributesA((rig.root.path() + name).c_str()), INVALID_FILE_ATTRIBUTES) << name;
    EXPECT_EQ(rig.bar.positions, (std::vector<int>{}));
    EXPECT_EQ(rig.currentDirectory() + "\\", rig.launcher.path() + "\\");
}

TEST(UnzipFiles, EmptyArchiveShowsNothingAndMissingPiecesFail)
{
    Rig rig;
    ZipWriter().save(rig.root / "empty.zip");
    // The reader only finds a directory that does not start the file, as in any
    // archive with a stub or a signature in front; one byte is enough.
    TempFolder::write(rig.root / "empty.zip", std::string(1, '\0') + TempFolder::read(rig.root / "empty.zip"));
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
    ZipWriter zip;
    zip.add("index.html", "new");
    zip.save(rig.tool.packageFile);
    bool startOffered = true;
    rig.status.onText = [&] {
        if (rig.status.texts.back() == Texts::kStatusStartFailed)
            startOffered = rig.tool.launchOnConfirm != 0 || rig.tool.busy == 0;
    };

    EXPECT_EQ(installLocalPackage(&rig.tool), 0u);

    EXPECT_FALSE(startOffered);
    ASSERT_GE(rig.status.texts.size(), 2u);
    EXPECT_EQ(rig.status.texts[rig.status.texts.size() - 2], Texts::kStatusInstalled);
    EXPECT_EQ(rig.status.texts.back(), Texts::kStatusStartFailed);
    EXPECT_EQ(rig.tool.launchOnConfirm, 1);
    EXPECT_EQ(rig.tool.busy, 0);
}
