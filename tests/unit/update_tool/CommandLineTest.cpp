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
    Mode mode;
};

std::string describe(const std::vector<std::wstring>& arguments)
{
    std::string text;
    for (const std::wstring& argument : arguments)
        text += "[" + std::string(argument.begin(), argument.end()) + "]";
    return text.empty() ? "(no arguments)" : text;
}

Mode modeFor(const std::vector<std::wstring>& arguments)
{
    std::vector<const wchar_t*> argv{L"update.exe"};
    for (const std::wstring& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    return selectMode(static_cast<int>(argv.size() - 1), argv.data());
}

TEST(UpdateToolCommandLine, FirstArgumentSelectsTheModeAndMissingArgumentsGiveUsage)
{
    const ModeCase cases[] = {
        {{}, Mode::Usage},

        {{L"-n", L"1.0", L"src", L"dst"}, Mode::MoveFiles},
        {{L"-n", L"1.0", L"src", L"dst", L"a", L"b", L"c"}, Mode::MoveFiles},
        {{L"-nx", L"1.0", L"src", L"dst"}, Mode::MoveFiles},
        {{L"-n", L"1.0", L"src"}, Mode::Usage},
        {{L"-n"}, Mode::Usage},
        {{L"-N", L"1.0", L"src", L"dst"}, Mode::Usage},

        {{L"-u", L"0", L"1.0", L"pkg.zip", L"dst"}, Mode::Unpack},
        {{L"-update", L"0", L"1.0", L"pkg.zip", L"dst"}, Mode::Unpack},
        {{L"-u", L"0", L"1.0", L"pkg.zip"}, Mode::Usage},
        {{L"-U", L"0", L"1.0", L"pkg.zip", L"dst"}, Mode::Usage},

        {{L"r", L"C:\\app\\app.exe"}, Mode::Autostart},
        {{L"r", L"delete"}, Mode::Autostart},
        {{L"r"}, Mode::Usage},
        {{L"rx", L"x"}, Mode::Usage},
        {{L"R", L"x"}, Mode::Usage},
        {{L"-r", L"x"}, Mode::Usage},
        {{L" r", L"x"}, Mode::Usage},

        {{L"-c", L"folder"}, Mode::CreateFolders},
        {{L"-create", L"folder"}, Mode::CreateFolders},
        {{L"-c"}, Mode::Usage},
        {{L"-m", L"folder"}, Mode::Usage},

        {{L"-d", L"folder"}, Mode::DeleteFolderTree},
        {{L"-d"}, Mode::Usage},
        {{L"-D", L"folder"}, Mode::Usage},

        {{L"", L"x"}, Mode::Usage},
        {{L"-", L"x"}, Mode::Usage},
        {{L"--n", L"1", L"s", L"d"}, Mode::Usage},
        {{L"n", L"1", L"s", L"d"}, Mode::Usage},
    };
    for (const ModeCase& c : cases)
        EXPECT_EQ(modeFor(c.arguments), c.mode) << describe(c.arguments);
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
