#include "common/FileSystem.h"
#include "update_tool/RemoveFolderTree.h"
#include "update_tool/VolumeRoot.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class UpdateToolMakeFolders : public testing::Test {
protected:
    TempFolder root;
    CurrentDirectory inRoot{root.path()};
};

TEST_F(UpdateToolMakeFolders, FileInTheWayFailsAndKeepsWhatWasCreated)
{
    makeFolder(root / L"a");
    writeFile(root / L"a\\file", "");

    EXPECT_EQ(makeFolders(L"a\\new\\..\\file\\sub"), -1);

    EXPECT_TRUE(folderExists(root / L"a\\new"));
    EXPECT_TRUE(fileExists(root / L"a\\file"));
}

TEST_F(UpdateToolMakeFolders, PathsOf200CharactersAndMoreWork)
{
    std::wstring path;
    while (path.size() < 205)
        path += L"segment-" + std::to_wstring(path.size()) + L"\\";

    EXPECT_EQ(makeFolders(path), 0);

    EXPECT_TRUE(folderExists(root / path));
}

class UpdateToolRemoveFolderTree : public testing::Test {
protected:
    TempFolder root;
};

TEST_F(UpdateToolRemoveFolderTree, EitherTrailingSeparatorRemovesTheWholeTree)
{
    for (const std::wstring suffix : {L"", L"\\", L"/"}) {
        makeFolder(root / L"t");
        makeFolder(root / L"t\\sub");
        writeFile(root / L"t\\sub\\f.txt", "f");

        removeFolderTree(root / L"t" + suffix);

        EXPECT_EQ(listTree(root.path()), std::vector<std::wstring>{}) << narrow(suffix);
    }
}

TEST_F(UpdateToolRemoveFolderTree, EmptyPathDeletesNothing)
{
    // A separator appended to nothing would name the root of the current drive.
    makeFolder(root / L"work");
    writeFile(root / L"work\\file.txt", "here");
    CurrentDirectory inWork(root / L"work");

    EXPECT_EQ(removeFolderTree(L""), 0);

    EXPECT_EQ(readFile(root / L"work\\file.txt"), "here");
}

TEST(UpdateToolVolumeRoot, RootsOfDrivesAndSharesAreNamedInEverySpelling)
{
    // Only asks; nothing is deleted. Relative rows resolve below a folder that is no
    // root, on its drive. Where a row names the start, the walk would list exactly
    // that folder: the check refuses what is listed, not another spelling of it.
    TempFolder root;
    CurrentDirectory inRoot(root.path());
    const std::wstring drive = root.path().substr(0, 2);
    std::wstring toTop;
    for (const wchar_t c : root.path())
        if (c == L'\\')
            toTop += L"..\\";

    const struct {
        std::wstring path;
        bool root;
        std::wstring start = {}; // not checked when empty
    } cases[] = {
        {L"C:\\", true, L"\\\\?\\C:\\"},
        {L"C:", true}, // the drive's current folder, refused as the drive
        {L"C: ", true},
        {L"c:/", true},
        {L"C:\\\\\\", true},
        {L"C://", true},
        {L"C:\\.", true},
        {L"C:\\.\\", true},
        {L"C:\\Windows\\..", true},
        {L"C:\\...", true}, // trailing dots are dropped
        // Trailing blanks and dots after a separator: resolved before the separator
        // is appended, they leave the root itself.
        {L"C:\\ ", true, L"\\\\?\\C:\\"},
        {L"C:\\. ", true, L"\\\\?\\C:\\"},
        {L"C:\\ .", true, L"\\\\?\\C:\\"},
        {L"C:\\Windows\\..\\ ", true, L"\\\\?\\C:\\"},
        {L"\\\\.\\C:\\ ", true, L"\\\\.\\C:\\"},
        {L"\\ ", true, L"\\\\?\\" + drive + L"\\"},
        {L"\\\\server\\share\\ ", true, L"\\\\?\\UNC\\server\\share\\"},
        {L"\\\\server\\share ", true},
        {L"\\", true},
        {L"/", true},
        {L"\\\\", true},
        {L"\\.", true},
        {toTop, true},
        {drive, true},
        {drive + L"\\", true},
        {L"\\\\server\\share", true},
        {L"\\\\server\\share\\", true},
        {L"//server/share/", true},
        {L"\\\\server\\share\\.", true},
        {L"\\\\server\\share\\sub\\..", true},
        {L"\\\\server", true},
        {L"\\\\?\\C:\\", true},
        {L"\\\\?\\C:", true},
        {L"\\\\?\\C:\\.\\", true},
        {L"\\\\?\\C:\\sub\\..", true},
        {L"\\\\.\\C:\\", true},
        {L"//?/C:/", true},
        {L"\\??\\C:\\", true, L"\\\\?\\C:\\"}, // the file calls take it verbatim
        {L"\\??\\C:", true},
        {L"\\\\?\\UNC\\server\\share\\", true},
        {L"\\\\?\\unc\\server\\share", true},
        {L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\", true},
        // The object namespace leads back to the same volumes.
        {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\", true},
        {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1", true},
        {L"\\\\?\\GLOBALROOT\\Device\\Mup\\server\\share\\", true},
        {L"\\\\?\\Global\\C:\\", true},
        {L"\\\\?\\global\\Global\\C:\\", true},
        {L"\\\\?\\GLOBALROOT\\??\\C:\\", true},
        {L"\\\\?\\GLOBALROOT\\GLOBAL??\\C:\\", true},
        {L"\\\\?\\GLOBALROOT\\DosDevices\\C:\\", true},
        {L"\\\\?\\GLOBALROOT\\", true},
        {L"\\\\?\\GLOBALROOT\\SystemRoot", true},
        {L"\\\\.\\GLOBALROOT\\Device\\HarddiskVolume1\\", true},

        {L"", false, L""}, // the walk does nothing with it
        {L"C:\\Program Files", false, L"\\\\?\\C:\\Program Files\\"},
        {L"C:\\Program Files ", false, L"\\\\?\\C:\\Program Files\\"},
        {L"C:\\a\\..\\b\\", false},
        {L"C:/x", false},
        {drive + L".", false}, // the drive's current folder: below the root
        {L".", false},
        {L"sub", false},
        {L"\\\\server\\share\\folder", false},
        {L"\\\\server\\share\\folder ", false},
        {L"\\\\?\\C:\\folder", false},
        {L"\\??\\C:\\folder", false, L"\\\\?\\C:\\folder\\"},
        {L"\\\\?\\UNC\\server\\share\\folder", false},
        {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\folder", false},
        {L"\\\\?\\GLOBALROOT\\Device\\Mup\\server\\share\\folder", false},
        {L"\\\\?\\Global\\C:\\folder", false},
        {L"\\\\?\\GLOBALROOT\\??\\C:\\folder", false},
    };
    for (const auto& c : cases) {
        const std::wstring start = deletionStart(c.path);
        EXPECT_EQ(namesVolumeRoot(c.path, start), c.root) << narrow(c.path);
        if (!c.start.empty() || c.path.empty()) {
            EXPECT_EQ(start, c.start) << narrow(c.path);
        }
    }
}

} // namespace

namespace {

TEST(UpdateToolVolumeRoot, AnOpenedFolderIsARootWhenItsPathOnTheVolumeIsTheSeparator)
{
    TempFolder root;
    makeFolder(root / L"sub");

    EXPECT_TRUE(opensAsVolumeRoot(deletionStart(L"C:\\")));
    EXPECT_TRUE(opensAsVolumeRoot(deletionStart(L"C:\\ ")));
    EXPECT_FALSE(opensAsVolumeRoot(deletionStart(root / L"sub")));
    EXPECT_FALSE(opensAsVolumeRoot(deletionStart(root / L"missing")));
}

} // namespace
