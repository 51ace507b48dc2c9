#include "update_tool/MakeFolders.h"
#include "update_tool/RemoveFolderTree.h"

#include "common/FolderLink.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class MakeFolders : public testing::Test {
protected:
    TempFolder root;
    CurrentDirectory inRoot{root.path()};
};

TEST_F(MakeFolders, CreatesEveryLevelWhateverTheSeparators)
{
    const struct {
        std::wstring path;
        std::wstring created; // below root
    } cases[] = {
        {L"one", L"one"},
        {L"a\\b/c", L"a\\b\\c"},
        {L"a/b\\c\\d/", L"a\\b\\c\\d"},
        {L"a\\b/c", L"a\\b\\c"}, // every level exists already
        {L"\x66f4\x65b0\\\x7248\x672c", L"\x66f4\x65b0\\\x7248\x672c"}, // 更新\版本
        {root / L"abs\\olute", L"abs\\olute"},
        {root.path() + L"/abs/again\\", L"abs\\again"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ansi(c.path));
        EXPECT_EQ(makeFolders(c.path), 0);
        EXPECT_TRUE(folderExists(root / c.created));
    }
}

TEST_F(MakeFolders, LeadingSeparatorOrEmptyPathCreatesNothing)
{
    for (const std::wstring path : {L"\\lead", L"/lead/x", L"\\\\server\\share\\x", L""}) {
        SCOPED_TRACE(ansi(path));
        EXPECT_EQ(makeFolders(path), -1);
    }
    EXPECT_EQ(listTree(root.path()), std::vector<std::wstring>{});
    EXPECT_EQ(GetFileAttributesW(L"\\lead"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(MakeFolders, FileInTheWayFailsAndKeepsWhatWasCreated)
{
    makeFolder(root / L"a");
    writeFile(root / L"a\\file", "");

    EXPECT_EQ(makeFolders(L"a\\new\\..\\file\\sub"), -1);

    EXPECT_TRUE(folderExists(root / L"a\\new"));
    EXPECT_TRUE(fileExists(root / L"a\\file"));
}

TEST_F(MakeFolders, PathsOf200CharactersAndMoreWork)
{
    std::wstring path;
    while (path.size() < 205)
        path += L"segment-" + std::to_wstring(path.size()) + L"\\";

    EXPECT_EQ(makeFolders(path), 0);

    EXPECT_TRUE(folderExists(root / path));
}

class RemoveFolderTree : public testing::Test {
protected:
    TempFolder root;
};

TEST_F(RemoveFolderTree, ReadOnlyFileStaysWithEveryFolderAboveIt)
{
    const std::wstring tree = root / L"tree";
    makeFolder(tree);
    makeFolder(tree + L"\\keep");
    makeFolder(tree + L"\\keep\\inner");
    makeFolder(tree + L"\\sibling");
    makeFolder(tree + L"\\sibling\\deeper");
    writeFile(tree + L"\\keep\\inner\\locked.txt", "locked");
    writeFile(tree + L"\\keep\\other.txt", "");
    writeFile(tree + L"\\sibling\\deeper\\x.bin", "x");
    writeFile(tree + L"\\top.txt", "");
    writeFile(tree + L"\\hidden.txt", "");
    SetFileAttributesW((tree + L"\\keep\\inner\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((tree + L"\\hidden.txt").c_str(),
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);

    EXPECT_EQ(removeFolderTree(tree), 0);

    EXPECT_EQ(listTree(root.path()),
              (std::vector<std::wstring>{L"tree\\", L"tree\\keep\\", L"tree\\keep\\inner\\",
                                         L"tree\\keep\\inner\\locked.txt"}));
}

TEST_F(RemoveFolderTree, EitherTrailingSeparatorRemovesTheWholeTree)
{
    for (const std::wstring suffix : {L"", L"\\", L"/"}) {
        makeFolder(root / L"t");
        makeFolder(root / L"t\\sub");
        writeFile(root / L"t\\sub\\f.txt", "f");

        removeFolderTree(root / L"t" + suffix);

        EXPECT_EQ(listTree(root.path()), std::vector<std::wstring>{}) << ansi(suffix);
    }
}

TEST_F(RemoveFolderTree, MissingFolderChangesNothing)
{
    writeFile(root / L"bystander.txt", "here");

    EXPECT_EQ(removeFolderTree(root / L"missing"), 0);

    EXPECT_EQ(listTree(root.path()), std::vector<std::wstring>{L"bystander.txt"});
}

TEST_F(RemoveFolderTree, EmptyPathDeletesNothing)
{
    // A separator appended to nothing would name the root of the current drive.
    makeFolder(root / L"work");
    writeFile(root / L"work\\file.txt", "here");
    CurrentDirectory inWork(root / L"work");

    EXPECT_EQ(removeFolderTree(L""), 0);

    EXPECT_EQ(readFile(root / L"work\\file.txt"), "here");
}

TEST_F(RemoveFolderTree, NeverDescendsThroughFolderLinks)
{
    makeFolder(root / L"outside");
    writeFile(root / L"outside\\precious.txt", "precious");
    makeFolder(root / L"outside-empty");
    makeFolder(root / L"tree");
    makeFolder(root / L"tree\\sub");
    writeFile(root / L"tree\\sub\\f.txt", "f");
    CreateSymbolicLinkW((root / L"tree\\link").c_str(), (root / L"outside").c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY);
    CreateSymbolicLinkW((root / L"tree\\sub\\empty-link").c_str(),
                        (root / L"outside-empty").c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    CreateSymbolicLinkW((root / L"start-link").c_str(), (root / L"outside").c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY);
    if (!isFolderLink(GetFileAttributesW((root / L"tree\\link").c_str())))
        GTEST_SKIP() << "this system cannot make folder links from a program";

    removeFolderTree(root / L"tree");
    removeFolderTree(root / L"start-link");
    removeFolderTree(root / L"start-link\\");

    EXPECT_EQ(readFile(root / L"outside\\precious.txt"), "precious");
    EXPECT_TRUE(folderExists(root / L"outside-empty"));
    EXPECT_FALSE(fileExists(root / L"tree\\sub\\f.txt"));
}

} // namespace
