#include "tests/support/TestFiles.h"
#include "src/VersionRecord.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Loaded {
    bool ok;
    std::string platform, type, ver;
};

Loaded loadBytes(const TempFolder& folder, const std::string& bytes)
{
    const std::string file = folder / "jsver.txt";
    writeFile(file, bytes);
    VersionRecord record;
    const bool ok = record.load(file);
    return {ok, record.getPlatform(), record.getType(), record.getVer()};
}

} // namespace

TEST(VersionRecord, SavedRecordIsOneSortedCompactLineWithCrLfAndLoadsBack)
{
    TempFolder folder;
    VersionRecord record;
    EXPECT_FALSE(record.load(folder / "jsver.txt")); // missing: defaults, path remembered
    record.setVer("71.2");
    record.save();

    EXPECT_EQ(readFile(folder / "jsver.txt"),
              "{\"platform\":\"2\",\"type\":\"1\",\"ver\":\"71.2\"}\r\n");
    const VersionRecord again(folder / "jsver.txt");
    EXPECT_EQ(again.getPlatform(), "2");
    EXPECT_EQ(again.getType(), "1");
    EXPECT_EQ(again.getVer(), "71.2");
}

TEST(VersionRecord, GbkVersionSurvivesTheRoundTripByteForByte)
{
    TempFolder folder;
    VersionRecord record;
    record.load(folder / "jsver.txt");
    record.setVer("\xB0\xE6\xB1\xBE" "7"); // "版本7"
    record.save();
    EXPECT_EQ(readFile(folder / "jsver.txt"),
              "{\"platform\":\"2\",\"type\":\"1\",\"ver\":\"\xB0\xE6\xB1\xBE" "7\"}\r\n");
    EXPECT_EQ(VersionRecord(folder / "jsver.txt").getVer(), "\xB0\xE6\xB1\xBE" "7");
}

TEST(VersionRecord, ValuesOfOtherJsonTypesConvertToText)
{
    TempFolder folder;
    const struct {
        const char* bytes;
        Loaded expected;
    } cases[] = {
        {"{\"platform\":2,\"type\":1,\"ver\":71}", {true, "2", "1", "71"}},
        {"{\"ver\":\"9\"}", {true, "2", "1", "9"}},
        {"{}", {true, "2", "1", "70"}},
        {"{\"platform\":true,\"type\":null,\"ver\":\"5\",\"extra\":[1]}", {true, "true", "", "5"}},
        {"{\"platform\":-2147483648,\"type\":2147483647,\"ver\":\"a\"}",
         {true, "-2147483648", "2147483647", "a"}},
        {"/* comment */\n{\"platform\":\"3\",\n \"type\":\"4\",\n \"ver\":\"6\"}\n", {true, "3", "4", "6"}},
        // Lines are joined without their ends, so a line comment swallows the rest.
        {"// comment\n{\"ver\":\"6\"}", {false, "2", "1", "70"}},
        {"{\"platform\":\"3\",\r\n\"ver\":\"8\"}\r\n", {true, "3", "1", "8"}},
    };
    for (const auto& c : cases) {
        const Loaded got = loadBytes(folder, c.bytes);
        EXPECT_EQ(got.ok, c.expected.ok) << c.bytes;
        EXPECT_EQ(got.platform, c.expected.platform) << c.bytes;
        EXPECT_EQ(got.type, c.expected.type) << c.bytes;
        EXPECT_EQ(got.ver, c.expected.ver) << c.bytes;
    }
}

TEST(VersionRecord, FilesOutsideTheFormatCountAsUnreadableWithDefaults)
{
    TempFolder folder;
    const std::vector<std::string> hostile = {
        "",
        "not json",
        "[\"2\",\"1\",\"70\"]",
        "\"70\"",
        "71",
        "{\"ver\":[\"71\"]}",
        "{\"ver\":{\"a\":1}}",
        "{\"platform\":4294967296}",
        "{\"type\":-2147483649}",
        "{\"ver\":1.5}",
        std::string("{\"ver\":\"7\0" "1\"}", 12),
        "{\"ver\":\"" + std::string(600, '7') + "\"}",
        std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
        // A version must name one folder: it becomes part of a path that is deleted.
        "{\"ver\":\"\"}",
        "{\"ver\":\".\"}",
        "{\"ver\":\"..\"}",
        "{\"ver\":\"..\\\\..\\\\Windows\"}",
        "{\"ver\":\"a/b\"}",
        "{\"ver\":\"C:\"}",
        "{\"ver\":\"7*\"}",
        "{\"ver\":\"71.\"}",
        "{\"ver\":\"71 \"}",
        "{\"ver\":\"CON\"}",
        "{\"ver\":\"nul.txt\"}",
        "{\"ver\":\"lpt1\"}",
        "{\"ver\":null}",
        "{\"ver\":\"..\x81\"}", // the lone lead byte vanishes in the file system's conversion
    };
    for (const auto& bytes : hostile) {
        const Loaded got = loadBytes(folder, bytes);
        EXPECT_FALSE(got.ok) << bytes;
        EXPECT_EQ(got.platform, "2") << bytes;
        EXPECT_EQ(got.type, "1") << bytes;
        EXPECT_EQ(got.ver, "70") << bytes;
    }
}

TEST(VersionRecord, NestingBeyondTheParsersDepthLimitInShortLinesIsUnreadable)
{
    // Every line is short, but joined they nest deeper than JsonCpp's reader allows,
    // and it throws there: the record must still load as unreadable with defaults.
    TempFolder folder;
    std::string arrays, objects;
    for (int i = 0; i < 3000; ++i) {
        arrays += "[\n";
        objects += "{\"ver\":\n";
    }
    for (const std::string& bytes : {arrays, objects, "{\"ver\":" + arrays}) {
        const Loaded got = loadBytes(folder, bytes);
        EXPECT_FALSE(got.ok);
        EXPECT_EQ(got.platform, "2");
        EXPECT_EQ(got.type, "1");
        EXPECT_EQ(got.ver, "70");
    }
}

TEST(VersionRecord, FileFarLargerThanARecordIsUnreadable)
{
    // Short lines of blanks around a valid record: 64 KiB of content still reads,
    // anything beyond is refused before it is held whole.
    TempFolder folder;
    const std::string record = "{\"ver\":\"8\"}";
    const std::string blankLine = std::string(63, ' ') + "\n";
    std::string fits = record, tooLarge = record;
    for (int i = 0; i < 1040; ++i) // 12 + 1040 x 63 = 65532 bytes without line ends
        fits += blankLine;
    for (int i = 0; i < 1100; ++i) // 69312 bytes
        tooLarge += blankLine;
    EXPECT_TRUE(loadBytes(folder, fits).ok);
    const Loaded got = loadBytes(folder, tooLarge);
    EXPECT_FALSE(got.ok);
    EXPECT_EQ(got.ver, "70");
}

TEST(VersionRecord, LongestAcceptedLineIs499Characters)
{
    TempFolder folder;
    const std::string line499 = "{\"ver\":\"8\"" + std::string(499 - 11, ' ') + "}";
    ASSERT_EQ(line499.size(), 499u);
    EXPECT_TRUE(loadBytes(folder, line499 + "\n").ok);
    EXPECT_FALSE(loadBytes(folder, "{\"ver\":\"8\"" + std::string(499 - 10, ' ') + "}\n").ok);
}

TEST(VersionRecord, RecordWhoseSavedLineWouldBeUnreadableIsRefused)
{
    // Whatever load accepts, save must write as a line that loads again: control bytes
    // grow to six-byte escapes, and values over several short lines join into one.
    TempFolder folder;
    const std::string fits = "{\"type\":\"" + std::string(77, '\x01') + "\"}";
    const std::string grows = "{\"type\":\"" + std::string(78, '\x01') + "\"}";
    const std::string joined = "{\"platform\":\"" + std::string(470, 'a') + "\",\n\"ver\":\"7\"}";
    EXPECT_TRUE(loadBytes(folder, fits).ok);
    EXPECT_FALSE(loadBytes(folder, grows).ok);
    EXPECT_FALSE(loadBytes(folder, joined).ok);

    const std::string file = folder / "jsver.txt";
    writeFile(file, fits);
    VersionRecord record;
    ASSERT_TRUE(record.load(file));
    record.save();
    VersionRecord again;
    EXPECT_TRUE(again.load(file));
    EXPECT_EQ(again.getType(), std::string(77, '\x01'));
}

TEST(VersionRecord, ConstructedFromAMissingPathHoldsTheDefaults)
{
    TempFolder folder;
    const VersionRecord record(folder / "absent.txt");
    EXPECT_EQ(record.getPlatform(), "2");
    EXPECT_EQ(record.getType(), "1");
    EXPECT_EQ(record.getVer(), "70");
    EXPECT_EQ(record.getPath(), folder / "absent.txt");
}

TEST(VersionRecord, UnwritablePathLeavesNoFileAndNoCrash)
{
    TempFolder folder;
    VersionRecord record;
    record.load(folder / "missing folder\\jsver.txt");
    record.save();
    EXPECT_FALSE(folderExists(folder / "missing folder"));
}
