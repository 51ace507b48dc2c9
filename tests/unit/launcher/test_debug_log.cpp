#include "DebugCapture.h"
#include "src/DebugLog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::tm at(int year, int month, int day, int hour, int minute, int second)
{
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
}

std::string lineAt(const std::tm& time, const char* format, ...)
{
    char line[DebugLog::kLineSize];
    std::memset(line, 0x55, sizeof(line));
    va_list args;
    va_start(args, format);
    DebugLog::formatLine(line, time, format, args);
    va_end(args);
    return std::string(line, strnlen(line, sizeof(line)));
}

} // namespace

TEST(DebugLog, PrefixIsZeroPaddedLocalTimeIn22Characters)
{
    const std::string line = lineAt(at(2024, 3, 7, 9, 5, 3), "%s", "x");
    EXPECT_EQ(line, "[2024-03-07 09:05:03] x");
    EXPECT_EQ(line.find('x'), DebugLog::kPrefixLength);
}

TEST(DebugLog, MessageFillsTheLineExactlyAndLongerOnesAreCut)
{
    const std::tm time = at(2026, 12, 31, 23, 59, 59);
    const std::string fits(1001, 'a');
    EXPECT_EQ(lineAt(time, "%s", fits.c_str()).size(), DebugLog::kLineSize - 1);
    EXPECT_EQ(lineAt(time, "%s", fits.c_str()).substr(22), fits);

    const std::string tooLong(5000, 'b');
    const std::string cut = lineAt(time, "%s", tooLong.c_str());
    EXPECT_EQ(cut.size(), DebugLog::kLineSize - 1);
    EXPECT_EQ(cut.substr(22), std::string(1001, 'b'));
}

TEST(DebugLog, FormatsWithoutAddingLineEnds)
{
    const std::tm time = at(2026, 1, 2, 3, 4, 5);
    // "解压包失败！" in GBK has no line feed of its own and gets none.
    EXPECT_EQ(lineAt(time, "\xBD\xE2\xD1\xB9\xB0\xFC\xCA\xA7\xB0\xDC\xA3\xA1"),
              "[2026-01-02 03:04:05] \xBD\xE2\xD1\xB9\xB0\xFC\xCA\xA7\xB0\xDC\xA3\xA1");
    EXPECT_EQ(lineAt(time, "\n%s\n", "\"a b\" \"c\""), "[2026-01-02 03:04:05] \n\"a b\" \"c\"\n");
}

TEST(DebugLog, WritesReachTheDebugOutputWithBareTextsVerbatim)
{
    DebugCapture capture;
    ASSERT_TRUE(capture.ready());

    DebugLog::instance().writeText("C:\\100%s\\%d\\");
    const std::string bare = capture.next();
    ASSERT_EQ(bare.size(), 22u + 12u);
    EXPECT_EQ(bare.substr(22), "C:\\100%s\\%d\\");
    EXPECT_EQ(bare[0], '[');
    EXPECT_EQ(bare.substr(20, 2), "] ");

    DebugLog::instance().write("\xBF\xAA\xCA\xBC\xBD\xE2\xD1\xB9\xB0\xFC\xA3\xA1\n");
    EXPECT_EQ(capture.next().substr(22), "\xBF\xAA\xCA\xBC\xBD\xE2\xD1\xB9\xB0\xFC\xA3\xA1\n");
}
