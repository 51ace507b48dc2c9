#include "update_tool/CommandLine.h"
#include "update_tool/EntryGuard.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct ModeCase {
    std::vector<std::wstring> arguments; // after the program's own name
    const wchar_t* mode; // the selector of the mode chosen; null for the usage
};

std::string describe(const std::vector<std::wstring>& arguments)
{
    std::string text;
    for (const std::wstring& argument : arguments)
        text += "[" + std::string(argument.begin(), argument.end()) + "]";
    return text.empty() ? "(no arguments)" : text;
}

std::wstring modeFor(const std::vector<std::wstring>& arguments)
{
    std::vector<const wchar_t*> argv{L"update.exe"};
    for (const std::wstring& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const wchar_t* selector = selectedMode(static_cast<int>(argv.size() - 1), argv.data());
    return selector ? selector : L"(usage)";
}

TEST(UpdateToolCommandLine, FirstArgumentSelectsTheModeAndMissingArgumentsGiveUsage)
{
    const ModeCase cases[] = {
        {{}, nullptr},

        {{L"-n", L"1.0", L"src", L"dst"}, L"-n"},
        {{L"-n", L"1.0", L"src", L"dst", L"a", L"b", L"c"}, L"-n"},
        {{L"-nx", L"1.0", L"src", L"dst"}, L"-n"},
        {{L"-n", L"1.0", L"src"}, nullptr},
        {{L"-n"}, nullptr},
        {{L"-N", L"1.0", L"src", L"dst"}, nullptr},

        {{L"-u", L"0", L"1.0", L"pkg.zip", L"dst"}, L"-u"},
        {{L"-update", L"0", L"1.0", L"pkg.zip", L"dst"}, L"-u"},
        {{L"-u", L"0", L"1.0", L"pkg.zip"}, nullptr},
        {{L"-U", L"0", L"1.0", L"pkg.zip", L"dst"}, nullptr},

        {{L"r", L"C:\\app\\app.exe"}, L"r"},
        {{L"r", L"delete"}, L"r"},
        {{L"r"}, nullptr},
        {{L"rx", L"x"}, nullptr},
        {{L"R", L"x"}, nullptr},
        {{L"-r", L"x"}, nullptr},
        {{L" r", L"x"}, nullptr},

        {{L"-c", L"folder"}, L"-c"},
        {{L"-create", L"folder"}, L"-c"},
        {{L"-c"}, nullptr},
        {{L"-m", L"folder"}, nullptr},

        {{L"-d", L"folder"}, L"-d"},
        {{L"-d"}, nullptr},
        {{L"-D", L"folder"}, nullptr},

        {{L"", L"x"}, nullptr},
        {{L"-", L"x"}, nullptr},
        {{L"--n", L"1", L"s", L"d"}, nullptr},
        {{L"n", L"1", L"s", L"d"}, nullptr},
    };
    for (const ModeCase& c : cases)
        EXPECT_EQ(modeFor(c.arguments), c.mode ? c.mode : L"(usage)") << describe(c.arguments);
}

TEST(UpdateToolCommandLine, ProcessIdIsTheDecimalValueOfItsLeadingDigits)
{
    const struct {
        const wchar_t* text;
        DWORD id;
    } cases[] = {
        {L"1234", 1234},
        {L"0", 0},
        {L"  42", 42},
        {L"\t9", 9},
        {L"+7", 7},
        {L"12abc", 12},
        {L"12 34", 12},
        {L"abc", 0},
        {L"", 0},
        {L"0x10", 0},
        {L"4294967295", 4294967295u},
        // Out of range: none of these may wrap onto a live process.
        {L"4294967296", 0},
        {L"4294967300", 0},
        {L"99999999999999999999999", 0},
        {L"-1", 0},
        {L"-4294967292", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(processIdFromText(c.text), c.id) << std::wstring(c.text).size();
}

TEST(UpdateToolEntryGuard, AnyFailureEndsTheRunWithMinusOneAndOneLine)
{
    const struct {
        std::function<int()> body;
        int exitCode;
        std::string output;
    } cases[] = {
        {[] { return 0; }, 0, ""},
        {[] { return -1; }, -1, ""},
        {[]() -> int { throw std::bad_alloc(); }, -1, "Error allocating memory\n"},
        {[]() -> int { throw std::length_error("too long"); }, -1,
         "Unexpected error: too long, aborting\n"},
        {[]() -> int { throw 42; }, -1, "Unexpected error, aborting\n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        const int exitCode = guardedExitCode(c.body);
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
        EXPECT_EQ(exitCode, c.exitCode) << c.output;
    }
}

} // namespace
