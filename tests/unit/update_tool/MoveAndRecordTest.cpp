#include "update_tool/ComposedPath.h"
#include "update_tool/MoveListedFiles.h"
#include "update_tool/RecordVersion.h"

#include "common/UniqueHandle.h"

#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The moves as the move mode makes them: through the target's staging folder, removed
// after a whole move as the mode removes it once the version is recorded.
bool moveThroughStage(const std::wstring& source, const std::wstring& target, const std::vector<std::wstring>& names)
{
    UpdateStage stage;
    if (!stageBeside(target, stage))
        return false;
    const bool moved = moveListedFiles(stage, L"1", source, target, names);
    removeStage(stage);
    return moved;
}

class UpdateToolMoveListedFiles : public testing::Test {
protected:
    void SetUp() override
    {
        makeFolder(source);
        makeFolder(target);
    }

    TempFolder root;
    const std::wstring source = root / L"source";
    const std::wstring target = root / L"target";
};

TEST_F(UpdateToolMoveListedFiles, AFailedMovePutsEveryFileBackAndAWholeOneCreatesFolders)
{
    makeFolder(source + L"\\lib");
    writeFile(source + L"\\lib\\a.js", "a");
    writeFile(source + L"\\lib\\b.js", "b");
    writeFile(target + L"\\old.js", "old");

    EXPECT_FALSE(moveThroughStage(source, target, {L"lib/a.js", L"old.js"}));
    EXPECT_EQ(readFile(source + L"\\lib\\a.js"), "a");
    EXPECT_EQ(readFile(target + L"\\old.js"), "old");
    EXPECT_FALSE(folderExists(target + L"\\lib"));
    // A name that leaves the folders is refused, even where both would agree on it.
    writeFile(root / L"escape.js", "outside");
    EXPECT_FALSE(moveThroughStage(source, target, {L"lib/a.js", L"../escape.js"}));
    EXPECT_EQ(readFile(root / L"escape.js"), "outside");
    EXPECT_EQ(readFile(source + L"\\lib\\a.js"), "a");

    EXPECT_TRUE(moveThroughStage(source, target, {L"lib/a.js", L"lib\\b.js"}));
    EXPECT_EQ(readFile(target + L"\\lib\\a.js"), "a");
    EXPECT_EQ(readFile(target + L"\\lib\\b.js"), "b");
    EXPECT_FALSE(fileExists(source + L"\\lib\\a.js"));
    EXPECT_FALSE(folderExists(target + L".~update"));
}

TEST_F(UpdateToolMoveListedFiles, ComposedPathsOf200CharactersAndMoreWork)
{
    std::wstring deepSource = source;
    std::wstring deepTarget = target;
    for (int level = 0; deepSource.size() < 190; ++level) {
        deepSource += L"\\level" + std::to_wstring(level);
        deepTarget += L"\\level" + std::to_wstring(level);
        makeFolder(deepSource);
        makeFolder(deepTarget);
    }
    const std::wstring name = L"a-file-name-long-enough.dll";
    ASSERT_GE(deepSource.size() + 1 + name.size(), 200u);
    writeFile(deepSource + L"\\" + name, "deep");

    EXPECT_TRUE(moveThroughStage(deepSource, deepTarget, {name}));

    EXPECT_EQ(readFile(deepTarget + L"\\" + name), "deep");
}

class UpdateToolRecordVersion : public testing::Test {
protected:
    TempFolder root;
    const std::wstring record = root / L"jsver.txt";
};

TEST_F(UpdateToolRecordVersion, FileHoldsExactlyTheVersionBytes)
{
    const struct {
        std::wstring version;
        std::string bytes;
    } cases[] = {
        {L"1.2.3", "1.2.3"},
        {L"70", "70"},
        {L"", ""},
        {L"2.0 beta", "2.0 beta"},
        {L"caf\x00e9-1", "caf\xe9-1"},           // Latin-1 characters are one byte each
        {L"1.2\x7248\x672c", "1.2"},             // the text ends before the first wider one
        {L"\x7248", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.version));
        writeFile(record, "a much longer previous record that must go");

        EXPECT_EQ(recordVersion(record, c.version), 0);

        EXPECT_EQ(readFile(record), c.bytes);
    }
}

TEST_F(UpdateToolRecordVersion, WritesWhileAnotherProcessReadsTheRecord)
{
    writeFile(record, "old");
    const UniqueFileHandle reader(CreateFileW(record.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);

    recordVersion(record, L"9.9");

    EXPECT_EQ(readFile(record), "9.9");
}

TEST_F(UpdateToolRecordVersion, AHardLinkPlantedAsTheRecordIsReplacedNotWrittenThrough)
{
    const std::wstring victim = root / L"victim.txt";
    writeFile(victim, "victim");
    ASSERT_TRUE(CreateHardLinkW(record.c_str(), victim.c_str(), nullptr));

    EXPECT_EQ(recordVersion(record, L"3.0"), 0);

    EXPECT_EQ(readFile(record), "3.0");
    EXPECT_EQ(readFile(victim), "victim");
    EXPECT_EQ(listTree(root.path()), (std::vector<std::wstring>{L"jsver.txt", L"victim.txt"}));
}

TEST_F(UpdateToolRecordVersion, ARecordThatCannotBeWrittenIsReportedInOneLine)
{
    const std::wstring missing = root / L"missing\\jsver.txt";
    testing::internal::CaptureStdout();

    EXPECT_EQ(recordVersion(missing, L"1.0"), -1);

    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error writing the version record " + narrow(missing) + "\n");
    EXPECT_EQ(listTree(root.path()), std::vector<std::wstring>{});
}

TEST(UpdateToolComposedPath, TheVersionRecordIsWrittenThroughTheLongPathForm)
{
    // Past MAX_PATH only the \\?\ form reaches it (wine does not enforce the limit).
    EXPECT_EQ(versionFilePathIn(L"C:\\app"), L"\\\\?\\C:\\app\\jsver.txt");
    EXPECT_EQ(versionFilePathIn(L"\\\\server\\share\\app\\"), L"\\\\?\\UNC\\server\\share\\app\\jsver.txt");
    EXPECT_EQ(runtimePathIn(L"C:\\app"), L"C:\\app/nw.exe"); // the runtime's whole command line
}

} // namespace
