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
    // root, on its drive.
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
    } cases[] = {
        {L"C:\\", true},
        {L"C:", true}, // the walk appends a separator and lists C:\ itself
        {L"c:/", true},
        {L"C:\\\\\\", true},
        {L"C://", true},
        {L"C:\\.", true},
        {L"C:\\.\\", true},
        {L"C:\\Windows\\..", true},
        {L"C:\\...", true}, // trailing dots are dropped
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
        {L"\\??\\C:\\", true},
        {L"\\\\?\\UNC\\server\\share\\", true},
        {L"\\\\?\\unc\\server\\share", true},
        {L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\", true},

        {L"", false}, // the walk does nothing with it
        {L"C:\\Program Files", false},
        {L"C:\\a\\..\\b\\", false},
        {L"C:/x", false},
        {drive + L".", false}, // the drive's current folder: below the root
        {L".", false},
        {L"sub", false},
        {L"\\\\server\\share\\folder", false},
        {L"\\\\?\\C:\\folder", false},
        {L"\\??\\C:\\folder", false},
        {L"\\\\?\\UNC\\server\\share\\folder", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(namesVolumeRoot(c.path), c.root) << narrow(c.path);
}

} // namespace
