#include "update_tool/ArchiveUnpack.h"

#include "TestArchive.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using UpdateTool::UnpackResult;

namespace {

std::string withoutCarriageReturns(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

class UnzipFiles : public testing::Test {
protected:
    void SetUp() override { makeFolder(target); }

    UnpackResult unzip(const std::wstring& archive, const std::wstring& folder)
    {
        CaptureStdout();
        const UnpackResult result = UpdateTool::unzipFiles(archive, folder);
        output = withoutCarriageReturns(GetCapturedStdout());
        return result;
    }

    TempFolder root;
    const std::wstring target = root / L"target";
    CurrentDirectory inRoot{root.path()}; // restores the directory unzipFiles leaves
    std::string output;
};

TEST_F(UnzipFiles, UnpacksBelowTheTargetAndStaysThere)
{
    writeArchive(root / L"pkg.zip", {{"app/", ""}, {"app/index.html", "<html>"}, {"a/b/c.js", "c"}});

    EXPECT_EQ(unzip(root / L"pkg.zip", target), UnpackResult::Complete);

    EXPECT_EQ(output, "\n" + ansi(root / L"pkg.zip") + ", " + ansi(target) +
                          "---------UpdateTool:UpdateTool::unzipFiles:420--\n"
                          "creating directory: app/\n"
                          " extracting: app/index.html\n"
                          " extracting: a/b/c.js\n");
    EXPECT_EQ(readFile(target + L"\\app\\index.html"), "<html>");
    EXPECT_EQ(readFile(target + L"\\a\\b\\c.js"), "c");
    EXPECT_EQ(currentDirectory(), target);
}

TEST_F(UnzipFiles, ArchivePathWithChineseCharactersOpens)
{
    const std::wstring folder = root / L"\x7528\x6237\x6587\x4ef6"; // 用户文件
    makeFolder(folder);
    const std::wstring archive = folder + L"\\\x5347\x7ea7\x5305.zip"; // 升级包.zip
    writeArchive(archive, {{"x.txt", "x"}});

    EXPECT_EQ(unzip(archive, target), UnpackResult::Complete);

    EXPECT_EQ(readFile(target + L"\\x.txt"), "x");
}

TEST_F(UnzipFiles, RelativeArchivePathResolvesBeforeTheTargetIsEntered)
{
    writeArchive(root / L"pkg.zip", {{"r.txt", "r"}});

    EXPECT_EQ(unzip(L"pkg.zip", target), UnpackResult::Complete);

    EXPECT_EQ(readFile(target + L"\\r.txt"), "r");
}

TEST_F(UnzipFiles, MissingTargetIsReportedAndNothingIsUnpacked)
{
    writeArchive(root / L"pkg.zip", {{"r.txt", "r"}});
    const std::wstring missing = root / L"missing";

    EXPECT_EQ(unzip(root / L"pkg.zip", missing), UnpackResult::TargetNotEntered);

    EXPECT_NE(output.find("Error changing into " + ansi(missing) + ", aborting\n"),
              std::string::npos)
        << output;
    EXPECT_FALSE(fileExists(root / L"r.txt"));
    EXPECT_EQ(currentDirectory(), root.path());
}

TEST_F(UnzipFiles, UnreadableArchiveIsIncompleteAndTheTargetIsEnteredAllTheSame)
{
    writeFile(root / L"not-a.zip", "plain text, not an archive");

    for (const std::wstring& archive : {root / L"missing.zip", root / L"not-a.zip"}) {
        EXPECT_EQ(unzip(archive, target), UnpackResult::Incomplete);

        EXPECT_NE(output.find("error -102 with zipfile in unzGetGlobalInfo \n"), std::string::npos);
        EXPECT_EQ(currentDirectory(), target);
    }
}

TEST_F(UnzipFiles, RefusedOrFailedEntryLeavesTheUnpackIncomplete)
{
    writeArchive(root / L"hostile.zip", {{"../up.txt", "x"}, {"fine.txt", "f"}});
    writeArchive(root / L"broken.zip", {{"bad.txt", "b", 7u}});

    EXPECT_EQ(unzip(root / L"hostile.zip", target), UnpackResult::Incomplete);
    EXPECT_FALSE(fileExists(root / L"up.txt"));
    EXPECT_EQ(readFile(target + L"\\fine.txt"), "f");

    EXPECT_EQ(unzip(root / L"broken.zip", target), UnpackResult::Incomplete);
}

} // namespace
