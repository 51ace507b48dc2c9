#include "common/ArchiveWalk.h"
#include "common/ZipExtraction.h"

#include "tests/support/TestArchive.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

std::string withoutCarriageReturns(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// Extraction into root\a\b\dest with the archive beside `a`, so that every name
// that climbs out of dest lands somewhere inside root, where the test can see it.
class ZipEntryExtraction : public testing::Test {
protected:
    void SetUp() override
    {
        makeFolder(root / L"a");
        makeFolder(root / L"a\\b");
        makeFolder(dest);
        inDest.emplace(dest);
    }

    WalkOutcome extract(const std::vector<TestEntry>& entries)
    {
        writeArchive(archivePath, entries);
        const UniqueArchive archive = openArchive(archivePath);
        EXPECT_TRUE(archive);
        CaptureStdout();
        const WalkOutcome outcome = extractEntries(archive.get());
        output = withoutCarriageReturns(GetCapturedStdout());
        return outcome;
    }

    // root's tree apart from the archive and the folders leading to dest.
    std::vector<std::wstring> treeOutsideDest() const
    {
        std::vector<std::wstring> items = listTree(root.path());
        items.erase(std::remove_if(items.begin(), items.end(),
                                   [](const std::wstring& item) {
                                       return item == L"test.zip" || item == L"a\\" ||
                                              item == L"a\\b\\" ||
                                              item.rfind(L"a\\b\\dest\\", 0) == 0;
                                   }),
                    items.end());
        return items;
    }

    TempFolder root;
    const std::wstring dest = root / L"a\\b\\dest";
    const std::wstring archivePath = root / L"test.zip";
    std::optional<CurrentDirectory> inDest;
    std::string output;
};

TEST_F(ZipEntryExtraction, NestedEntryCreatesItsFoldersWithoutFolderEntries)
{
    const WalkOutcome outcome = extract({{"x/y/file.txt", "nested"}});

    EXPECT_EQ(readFile(dest + L"\\x\\y\\file.txt"), "nested");
    EXPECT_EQ(output, " extracting: x/y/file.txt\n");
    EXPECT_TRUE(outcome.complete());
}

TEST_F(ZipEntryExtraction, FolderEntryCreatesTheFolderAndAnExistingOneIsFine)
{
    makeFolder(dest + L"\\old");

    // Python's zipfile writes a/b/ without a/; pack writes an empty folder so too.
    const WalkOutcome outcome =
        extract({{"new/", ""}, {"old/", ""}, {"new\\inner\\", ""}, {"a/b/", ""}, {"c.txt", "c"}});

    EXPECT_TRUE(folderExists(dest + L"\\new"));
    EXPECT_TRUE(folderExists(dest + L"\\new\\inner"));
    EXPECT_TRUE(folderExists(dest + L"\\a\\b"));
    EXPECT_EQ(readFile(dest + L"\\c.txt"), "c");
    EXPECT_EQ(output, "creating directory: new/\ncreating directory: old/\n"
                      "creating directory: new\\inner\\\ncreating directory: a/b/\n extracting: c.txt\n");
    EXPECT_EQ(outcome.extracted, 5u);
    EXPECT_TRUE(outcome.complete());
}

TEST_F(ZipEntryExtraction, ExistingFileIsOverwrittenWhole)
{
    writeFile(dest + L"\\over.txt", std::string(10000, 'o'));

    const WalkOutcome outcome = extract({{"over.txt", "new"}});

    EXPECT_EQ(readFile(dest + L"\\over.txt"), "new");
    EXPECT_TRUE(outcome.complete());
}

TEST_F(ZipEntryExtraction, DataLargerThanTheCopyBufferArrivesIntact)
{
    std::string data;
    for (int i = 0; i < 30000; ++i)
        data += static_cast<char>(i * 7 % 251);

    extract({{"big.bin", data}});

    EXPECT_EQ(readFile(dest + L"\\big.bin"), data);
}

TEST_F(ZipEntryExtraction, FileCarriesTheEntryTimeAsCreationAndLastWrite)
{
    extract({{"timed.txt", "t"}});

    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW((dest + L"\\timed.txt").c_str(), GetFileExInfoStandard, &data));
    for (const FILETIME& utc : {data.ftCreationTime, data.ftLastWriteTime}) {
        SYSTEMTIME universal{}, local{};
        ASSERT_TRUE(FileTimeToSystemTime(&utc, &universal));
        ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local));
        EXPECT_EQ(local.wYear, 2021);
        EXPECT_EQ(local.wMonth, 6);
        EXPECT_EQ(local.wDay, 15);
        EXPECT_EQ(local.wHour, 13);
        EXPECT_EQ(local.wMinute, 45);
        EXPECT_EQ(local.wSecond, 30);
    }
}

// An entry whose data fails its CRC, or ends before or after its declared size, is
// written as far as the reader delivered it and stops the walk. The reader compares
// the CRC only once it has delivered the declared size, so data that ends early would
// otherwise pass unchecked as a whole file.
struct BrokenEntry {
    const char* what;
    TestEntry entry;
    const char* error;                   // the line after the entry's own
    int stopStatus;
    std::string written; // what the entry's file holds afterwards
};

// Names the case in the listing and in failures, instead of its bytes.
void PrintTo(const BrokenEntry& c, std::ostream* out)
{
    *out << c.what;
}

class ZipBrokenEntry : public ZipEntryExtraction, public testing::WithParamInterface<BrokenEntry> {
};

TEST_P(ZipBrokenEntry, IsWrittenAsFarAsReadAndStopsTheWalk)
{
    const BrokenEntry& c = GetParam();

    const WalkOutcome outcome = extract({{"first.txt", "1"}, c.entry, {"after.txt", "never"}});

    EXPECT_EQ(output, " extracting: first.txt\n extracting: " + c.entry.name + "\n" + c.error);
    EXPECT_EQ(readFile(dest + L"\\" + widen(c.entry.name)), c.written);
    EXPECT_FALSE(fileExists(dest + L"\\after.txt"));
    EXPECT_EQ(outcome.stopStatus, c.stopStatus);
    EXPECT_EQ(outcome.extracted, 1u);
    EXPECT_FALSE(outcome.complete());
}

const char kCrcError[] = "error -105 with zipfile in unzCloseCurrentFile\n";
const char kShortError[] = "error -103 with zipfile in unzReadCurrentFile\n";

INSTANTIATE_TEST_SUITE_P(
    Entries, ZipBrokenEntry,
    testing::Values(
        BrokenEntry{"CrcMismatch", {"broken.bin", std::string(20000, 'c'), 0x12345678u}, kCrcError, UNZ_CRCERROR,
                    std::string(20000, 'c')},
        BrokenEntry{"ShorterThan4", {"short.bin", "abc", std::nullopt, 4u}, kShortError, UNZ_BADZIPFILE, "abc"},
        BrokenEntry{"ShorterThan1000", {"short.bin", "abc", std::nullopt, 1000u}, kShortError, UNZ_BADZIPFILE, "abc"},
        BrokenEntry{"ShorterThanFFFFFFFF", {"short.bin", "abc", std::nullopt, 0xFFFFFFFFu}, kShortError,
                    UNZ_BADZIPFILE, "abc"},
        BrokenEntry{"LongerThan2", {"long.bin", "abcdef", std::nullopt, 2u}, kCrcError, UNZ_CRCERROR, "ab"}),
    [](const testing::TestParamInfo<BrokenEntry>& info) { return std::string(info.param.what); });

// A package with an entry missing is no package: the walk ends there, as for a CRC
// mismatch, and says which entry it was.
TEST_F(ZipEntryExtraction, EntryThatCannotBeCreatedNamesItselfAndStopsTheWalk)
{
    const struct {
        const char* name;
        const char* line;
    } cases[] = {
        {"blocker/x.txt", "error opening blocker/x.txt\n"},
        {"blocker", "error opening blocker\n"}, // a folder stands there
        {"blocker/", "creating directory: blocker/\ncouldn't create directory blocker/\n"},
        {"blocker/sub/", "creating directory: blocker/sub/\ncouldn't create directory blocker\\sub\n"
                         "couldn't create directory blocker/sub/\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool fileInTheWay = c.name[std::strlen(c.name) - 1] != 'r';
        if (fileInTheWay)
            writeFile(dest + L"\\blocker", "a file where a folder would go");
        else
            makeFolder(dest + L"\\blocker");

        const WalkOutcome outcome = extract({{"first.txt", "1"}, {c.name, "x"}, {"after.txt", "never"}});

        EXPECT_EQ(output, std::string(" extracting: first.txt\n") + c.line);
        EXPECT_FALSE(fileExists(dest + L"\\after.txt"));
        EXPECT_EQ(outcome.stopStatus, UNZ_ERRNO);
        EXPECT_EQ(outcome.extracted, 1u);
        DeleteFileW((dest + L"\\blocker").c_str());
        RemoveDirectoryW((dest + L"\\blocker").c_str());
    }
}

TEST_F(ZipEntryExtraction, NamesThatLeaveTheFolderWriteNothingAnywhere)
{
    const std::string hostile[] = {
        "../escape.txt",
        "..\\escape.txt",
        "../../escape.txt",
        "../../../escape.txt",
        "x/../../escape.txt",
        "x\\..\\..\\..\\escape.txt",
        ".. /escape.txt",
        "... /escape.txt",
        "../",
        "../escaped-folder/",
        "/escape.txt",
        "\\escape.txt",
        "//localhost/c$/escape.txt",
        "C:escape.txt",
        "C:/escape.txt",
        "Z:\\escape.txt",
        "escape.txt:stream",
        "CON",
        "con.txt",
        "x/NUL",
        "aux.log/escape.txt",
        "COM1",
        "lpt1.txt",
        "conout$",
    };
    for (const std::string& name : hostile) {
        SCOPED_TRACE(name);
        const WalkOutcome outcome = extract({{name, "evil"}, {"ok.txt", "ok"}});

        EXPECT_EQ(output, "refusing " + name + ": the name points outside the destination folder\n");
        EXPECT_EQ(listTree(dest), std::vector<std::wstring>{});
        EXPECT_EQ(treeOutsideDest(), std::vector<std::wstring>{});
        EXPECT_FALSE(fileExists(L"C:\\escape.txt"));
        EXPECT_EQ(outcome.entryCount, 2u);
        EXPECT_EQ(outcome.extracted, 0u);
        EXPECT_EQ(outcome.stopStatus, UNZ_ERRNO);
    }
}

// Packaged web applications ship deep node_modules trees: names past 255 bytes are read
// whole and written past MAX_PATH. One folder name longer than any file system takes
// is an entry that could not be created.
TEST_F(ZipEntryExtraction, NamesPast255BytesAndPathsPastMaxPathAreWrittenWhole)
{
    std::string deep;
    while (deep.size() < 320)
        deep += "node_modules/package-" + std::to_string(deep.size()) + "/";
    deep += "index.js";
    std::wstring onDisk = widen(deep);
    std::replace(onDisk.begin(), onDisk.end(), L'/', L'\\');
    const std::string tooLong(300, 'L');

    const WalkOutcome outcome = extract({{deep, "deep"}, {tooLong, "never"}, {"after.txt", "never"}});

    EXPECT_EQ(output, " extracting: " + deep + "\nerror opening " + tooLong + "\n");
    EXPECT_EQ(readFile(L"\\\\?\\" + dest + L"\\" + onDisk), "deep");
    EXPECT_EQ(outcome.extracted, 1u);
    EXPECT_EQ(outcome.stopStatus, UNZ_ERRNO);
}

// Zip tools on Linux and macOS mark UTF-8 names with flag bit 11; Chinese Windows tools
// write the ANSI code page (GBK here) without it. The console shows both in GBK.
TEST_F(ZipEntryExtraction, NamesAreUtf8WhenFlaggedAndAnsiOtherwise)
{
    const std::string utf8 = "\xe4\xb8\xad\xe6\x96\x87/\xe5\x90\x8d.txt"; // 中文/名.txt
    const std::string gbk = narrow(L"\x4e2d\x6587/\x8d44.txt");               // 中文/资.txt
    const std::string overlong = "\xc0\xae\xc0\xae/x.txt";                   // no UTF-8 at all

    const WalkOutcome outcome = extract({{utf8, "u", std::nullopt, std::nullopt, kUtf8Name},
                                         {gbk, "g"},
                                         {overlong, "evil", std::nullopt, std::nullopt, kUtf8Name}});

    EXPECT_EQ(readFile(dest + L"\\\x4e2d\x6587\\\x540d.txt"), "u");
    EXPECT_EQ(readFile(dest + L"\\\x4e2d\x6587\\\x8d44.txt"), "g");
    EXPECT_EQ(output, " extracting: " + narrow(L"\x4e2d\x6587/\x540d.txt") + "\n extracting: " + gbk +
                          "\nrefusing " + overlong + ": the name is not valid UTF-8\n");
    EXPECT_EQ(listTree(dest), (std::vector<std::wstring>{L"\x4e2d\x6587\\", L"\x4e2d\x6587\\\x540d.txt",
                                                         L"\x4e2d\x6587\\\x8d44.txt"}));
    EXPECT_EQ(outcome.stopStatus, UNZ_ERRNO);
}

TEST_F(ZipEntryExtraction, NameOfExactly255BytesIsExtracted)
{
    const std::string name = "d/" + std::string(253, 'n');

    const WalkOutcome outcome = extract({{name, "fits"}});

    EXPECT_EQ(output, " extracting: " + name + "\n");
    EXPECT_EQ(readFile(dest + L"\\d\\" + std::wstring(253, L'n')), "fits");
    EXPECT_TRUE(outcome.complete());
}

TEST_F(ZipEntryExtraction, SingleEntryCallExtractsTheCurrentEntry)
{
    writeArchive(archivePath, {{"one.txt", "1"}, {"two.txt", "2"}});
    const UniqueArchive archive = openArchive(archivePath);
    ASSERT_TRUE(archive);

    CaptureStdout();
    const int first = extractEntry(archive.get());
    GetCapturedStdout();

    EXPECT_EQ(first, UNZ_OK);
    EXPECT_EQ(listTree(dest), std::vector<std::wstring>{L"one.txt"});
}

} // namespace
