#include "common/FileSystem.h"
#include "common/FolderLink.h"

#include "common/UniqueHandle.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

TEST(FolderLink, OrdinaryFolderIsNeverRemovedAsALink)
{
    TempFolder root;
    makeFolder(root / L"plain");
    writeFile(root / L"plain\\inside.txt", "stays");
    makeFolder(root / L"empty");

    EXPECT_FALSE(removeFolderLink(root / L"plain"));
    EXPECT_FALSE(removeFolderLink(root / L"empty"));
    EXPECT_FALSE(removeFolderLink(narrow(root / L"empty")));

    EXPECT_EQ(readFile(root / L"plain\\inside.txt"), "stays");
    EXPECT_TRUE(folderExists(root / L"empty"));
}

// Links made with CreateSymbolicLinkW; false when this system cannot make them.
bool makeFolderLink(const std::wstring& link, const std::wstring& target)
{
    CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    return isFolderLink(GetFileAttributesW(link.c_str()));
}

TEST(FolderLink, TargetOfALinkIsNeverRemoved)
{
    TempFolder root;
    makeFolder(root / L"full");
    writeFile(root / L"full\\kept.txt", "kept");
    makeFolder(root / L"empty");
    if (!makeFolderLink(root / L"to-full", root / L"full") ||
        !makeFolderLink(root / L"to-empty", root / L"empty"))
        GTEST_SKIP() << "this system cannot make folder links from a program";

    removeFolderLink(root / L"to-full");
    removeFolderLink(narrow(root / L"to-empty"));

    EXPECT_EQ(readFile(root / L"full\\kept.txt"), "kept");
    // An empty target is what a removal through the link would take with it.
    EXPECT_TRUE(folderExists(root / L"empty"));
}

ULONG g_shownTag = 0;

// The opened item's own attributes, shown with the reparse tag g_shownTag.
BOOL showTag(HANDLE item, FILE_ATTRIBUTE_TAG_INFO* tag)
{
    if (!GetFileInformationByHandleEx(item, FileAttributeTagInfo, tag, sizeof(*tag)))
        return FALSE;
    tag->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    tag->ReparseTag = g_shownTag;
    return TRUE;
}

TEST(FolderLink, LinkThatOpensAsItselfIsRemoved)
{
    // Wine opens a link as its target even when asked for the link itself, so none
    // of its links shows a link's tag; an empty folder that shows one stands in.
    TempFolder root;
    makeFolder(root / L"target");
    writeFile(root / L"target\\kept.txt", "kept");
    for (const ULONG tag : {IO_REPARSE_TAG_MOUNT_POINT, IO_REPARSE_TAG_SYMLINK}) {
        makeFolder(root / L"link");
        g_shownTag = tag;
        EXPECT_TRUE(removeFolderLink(root / L"link", showTag)) << tag;
        EXPECT_EQ(GetFileAttributesW((root / L"link").c_str()), INVALID_FILE_ATTRIBUTES) << tag;
    }
    // Another kind of reparse point is no folder link.
    makeFolder(root / L"other");
    g_shownTag = IO_REPARSE_TAG_HSM;
    EXPECT_FALSE(removeFolderLink(root / L"other", showTag));
    EXPECT_TRUE(folderExists(root / L"other"));

    // A real link, where one opens as itself (Windows).
    if (makeFolderLink(root / L"real", root / L"target")) {
        const UniqueFileHandle opened(CreateFileW((root / L"real").c_str(), FILE_READ_ATTRIBUTES,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                  nullptr, OPEN_EXISTING,
                                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                                  nullptr));
        FILE_ATTRIBUTE_TAG_INFO tag{};
        GetFileInformationByHandleEx(opened.get(), FileAttributeTagInfo, &tag, sizeof(tag));
        if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            EXPECT_TRUE(removeFolderLink(root / L"real"));
            EXPECT_EQ(GetFileAttributesW((root / L"real").c_str()), INVALID_FILE_ATTRIBUTES);
        }
    }
    EXPECT_EQ(readFile(root / L"target\\kept.txt"), "kept");
}

TEST(FolderWalk, AFolderSwappedAfterItsParentWasListedIsToldAboutAsALinkAndNeverListed)
{
    // The visitor runs between the parent's listing and the walk's entering: the very
    // gap in which a planted link would replace the folder. Windows code cannot make a
    // link under wine, so the folder gives way to a file, which no listing may follow.
    TempFolder root;
    makeFolder(root / L"tree");
    makeFolder(root / L"tree\\sub");
    writeFile(root / L"tree\\sub\\inside.txt", "kept");
    std::vector<std::pair<std::wstring, DWORD>> told;

    walkFolderTree(root / L"tree", [&](const std::wstring& item, DWORD attributes) {
        told.push_back({item, attributes});
        if (told.size() == 1) {
            MoveFileW(item.c_str(), (root / L"away").c_str());
            writeFile(item, "in the folder's place");
        }
        return true;
    });

    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0].first, root / L"tree\\sub");
    EXPECT_EQ(told[1].first, root / L"tree\\sub");
    EXPECT_FALSE(isFolderLink(told[0].second));
    EXPECT_TRUE(isFolderLink(told[1].second));
    EXPECT_EQ(readFile(root / L"away\\inside.txt"), "kept");
}

} // namespace
