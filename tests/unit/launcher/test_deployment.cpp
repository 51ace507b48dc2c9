#include "UpdateToolRig.h"
#include "ExpectedTexts.h"
#include "src/InstallLayout.h"
#include "tests/support/TestArchive.h"
#include "tests/support/TestFiles.h"
#include "src/UpdateTool.h"
#include "common/FileSystem.h"
#include "common/UniqueHandle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(DeleteFolder, ReportsBeforeEveryDeletionAndRemovesTheTree)
{
    UpdateToolRig rig;
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
    UpdateToolRig rig;
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
    UpdateToolRig rig;
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
    UpdateToolRig rig;
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
    UpdateToolRig rig;
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
        UpdateToolRig rig;
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
    UpdateToolRig rig;
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
        UpdateToolRig rig;
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
    UpdateToolRig rig;
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
    UpdateToolRig rig;
    writeArchive(rig.root / "three.zip", {{"a.txt", "1"}, {"b.txt", "2"}, {"c.txt", "3"}});
    const std::string destination = rig.root / "out";
    makeFolders(destination);

    EXPECT_EQ(rig.tool.unzipFiles(rig.root / "three.zip", destination), 0);
    EXPECT_EQ(rig.bar.positions, (std::vector<int>{33, 66, 100}));
    EXPECT_EQ(narrow(currentDirectory()) + "\\", rig.launcher.narrowPath() + "\\");
}

TEST(UnzipFiles, ManyEntriesSendOnlyChangedPercentages)
{
    UpdateToolRig rig;
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
        UpdateToolRig rig;
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
    UpdateToolRig rig;
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
    UpdateToolRig rig;
    // The reader only finds a directory that does not start the file, as in any
    // archive with a stub or a signature in front; one byte is enough.
    writeFile(rig.root / "empty.zip", std::string(1, '\0') + zipBytes({}));
    makeFolders(rig.root / "out");
    EXPECT_EQ(rig.tool.unzipFiles(rig.root / "empty.zip", rig.root / "out"), 0);
    EXPECT_TRUE(rig.bar.positions.empty());

    EXPECT_EQ(rig.tool.unzipFiles(rig.root / "absent.zip", rig.root / "out"), -1);
    EXPECT_EQ(rig.tool.unzipFiles(rig.root / "empty.zip", rig.root / "no such folder"), -1);
}
