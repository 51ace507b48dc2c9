#include "common/ArchiveWalk.h"

#include "tests/support/TestArchive.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

using Progress = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

class ZipArchiveWalk : public testing::Test {
protected:
    WalkOutcome walk(const std::vector<TestEntry>& entries, Progress& progress)
    {
        writeArchive(root / L"walk.zip", entries);
        const UniqueArchive archive = openArchive(root / L"walk.zip");
        EXPECT_TRUE(archive);
        CaptureStdout();
        const WalkOutcome outcome = extractEntries(
            archive.get(), [&](std::uint64_t done, std::uint64_t total) {
                progress.emplace_back(done, total);
            });
        output = GetCapturedStdout();
        return outcome;
    }

    TempFolder root;
    CurrentDirectory inRoot{root.path()};
    std::string output;
};

TEST_F(ZipArchiveWalk, ReportsEachEntryAsDoneOutOfTotal)
{
    Progress progress;
    const WalkOutcome outcome = walk({{"a.txt", "a"}, {"f/", ""}, {"f/b.txt", "b"}}, progress);

    EXPECT_EQ(progress, (Progress{{1, 3}, {2, 3}, {3, 3}}));
    EXPECT_EQ(outcome.entryCount, 3u);
    EXPECT_EQ(outcome.extracted, 3u);
    EXPECT_TRUE(outcome.complete());
}

TEST_F(ZipArchiveWalk, EntryThatFailsOrIsRefusedEndsTheWalkWithoutReportingIt)
{
    const struct {
        TestEntry second;
        int status;
    } cases[] = {{{"b.txt", "b", 1u}, UNZ_CRCERROR}, {{"../up.txt", "x"}, UNZ_ERRNO}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second.name);
        Progress progress;
        const WalkOutcome outcome = walk({{"a.txt", "a"}, c.second, {"c.txt", "c"}}, progress);

        EXPECT_EQ(progress, (Progress{{1, 3}}));
        EXPECT_EQ(outcome.stopStatus, c.status);
        EXPECT_FALSE(outcome.complete());
        EXPECT_FALSE(fileExists(root / L"c.txt"));
    }
}

TEST_F(ZipArchiveWalk, EmptyArchiveReportsNothingAndIsComplete)
{
    // The reader never finds an end record at offset 0, so a bare 22-byte empty
    // archive does not open at all; a leading byte (as a self-extractor stub would
    // have) gives an empty archive that does.
    writeFile(root / L"empty.zip", "X" + zipBytes({}));
    const UniqueArchive archive = openArchive(root / L"empty.zip");
    ASSERT_TRUE(archive);
    Progress progress;
    CaptureStdout();
    const WalkOutcome outcome = extractEntries(
        archive.get(), [&](std::uint64_t done, std::uint64_t total) {
            progress.emplace_back(done, total);
        });
    output = GetCapturedStdout();

    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(output, "");
    EXPECT_EQ(outcome.entryCount, 0u);
    EXPECT_TRUE(outcome.complete());
}

TEST_F(ZipArchiveWalk, MissingArchiveSaysSoAndExtractsNothing)
{
    CaptureStdout();
    const WalkOutcome outcome = extractEntries(nullptr);
    const std::string text = GetCapturedStdout();

    EXPECT_EQ(text.substr(0, text.find_first_of("\r\n")),
              "error -102 with zipfile in unzGetGlobalInfo ");
    EXPECT_EQ(outcome.stopStatus, UNZ_PARAMERROR);
    EXPECT_FALSE(outcome.complete());
}

TEST_F(ZipArchiveWalk, ArchiveOpenedByItsAnsiPathWalksLikeAnyOther)
{
    // The launcher opens by narrow path with the reader's default file access.
    const std::wstring folder = root / L"\x4e2d\x6587"; // 中文
    makeFolder(folder);
    writeArchive(folder + L"\\ansi.zip", {{"n.txt", "n"}});

    const UniqueArchive archive(unzOpen64(narrow(folder + L"\\ansi.zip").c_str()));
    ASSERT_TRUE(archive);
    CaptureStdout();
    const WalkOutcome outcome = extractEntries(archive.get());
    GetCapturedStdout();

    EXPECT_TRUE(outcome.complete());
    EXPECT_EQ(readFile(root / L"n.txt"), "n");
}

} // namespace
