#include "update_tool/MakeFolders.h"
#include "update_tool/RemoveFolderTree.h"

#include "TestFiles.h"

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

        EXPECT_EQ(listTree(root.path()), std::vector<std::wstring>{}) << ansi(suffix);
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

} // namespace
