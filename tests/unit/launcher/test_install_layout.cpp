#include "src/InstallLayout.h"
#include "tests/support/TestFiles.h"
#include "src/UpdateTool.h"
#include "common/FileSystem.h"
#include "common/VersionFolderName.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

TEST(MakeFolders, CreatesEveryLevelWhateverTheSeparators)
{
    TempFolder folder;
    EXPECT_EQ(makeFolders(folder.narrowPath() + "\\a/b\\c"), 0);
    EXPECT_TRUE(folderExists(folder / "a\\b\\c"));
    EXPECT_EQ(makeFolders(folder.narrowPath() + "/d/e/"), 0);
    EXPECT_TRUE(folderExists(folder / "d\\e"));
    // Existing folders are passed over.
    EXPECT_EQ(makeFolders(folder.narrowPath() + "\\a\\b\\c"), 0);
}

TEST(MakeFolders, LeadingSeparatorCreatesNothing)
{
    EXPECT_EQ(makeFolders("\\zv_never_created\\x"), -1);
    EXPECT_EQ(GetFileAttributesA("C:\\zv_never_created"), INVALID_FILE_ATTRIBUTES);
}

TEST(MakeFolders, FailsWhereAFileStandsInTheWay)
{
    TempFolder folder;
    writeFile(folder / "file", "x");
    EXPECT_EQ(makeFolders(folder.narrowPath() + "\\file\\sub"), -1);
}

TEST(MakeFolders, PathsUpTo198CharactersWorkAndLongerOnesAreRefusedWhole)
{
    TempFolder folder;
    auto pathOfLength = [&](size_t length) {
        std::string path = folder.narrowPath() + "\\";
        while (path.size() + 10 < length)
            path += "abcdefgh\\";
        path += std::string(length - path.size(), 'z');
        return path;
    };
    const std::string longest = pathOfLength(198);
    ASSERT_EQ(longest.size(), 198u);
    EXPECT_EQ(makeFolders(longest), 0);
    EXPECT_TRUE(folderExists(longest));
    EXPECT_EQ(makeFolders(longest + "\\"), 0);

    const std::string tooLong = pathOfLength(199) + "Q";
    EXPECT_EQ(makeFolders(tooLong), -1);
    EXPECT_FALSE(folderExists(tooLong));
    EXPECT_EQ(makeFolders(std::string(5000, 'y')), -1);
}

TEST(InstallLayout, VersionFolderNamesAreNamesTheFileSystemKeepsAsTheyAre)
{
    // The tests run with code page 936 (GBK): 0x81-0xFE lead a two-byte character.
    const struct {
        const char* ver;
        bool accepted;
    } cases[] = {
        {"71", true},
        {"1.2.3", true},
        {"\xB0\xE6\xB1\xBE" "7", true}, // "版本7"
        {"..", false},
        {"a\\b", false},
        {"CON", false},
        {"71.", false},
        // Staging folders of some version, in any letter case.
        {"temp71", false},
        {"TeMp", false},
        {"tem", true},
        {"71temp", true},
        // A lead byte without its trail byte vanishes in the file system's conversion
        // and leaves these behind: "..", ".", "CON", "71." and "".
        {"..\x81", false},
        {".\xFE", false},
        {"CON\x81", false},
        {"71.\x81", false},
        {"\x81", false},
        {"\xB0\xE6\xB1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isVersionFolderName(c.ver), c.accepted) << c.ver;
}

TEST(InstallLayout, LocalAppDataIsAShortExistingFolder)
{
    const std::optional<std::string> folder = localAppDataFolder();
    ASSERT_TRUE(folder && !folder->empty());
    EXPECT_TRUE(folderExists(*folder));
    EXPECT_EQ(folder->find(' '), std::string::npos);
}

TEST(InstallLayout, FolderNameIsTheFirstFormTheAnsiCodePageHoldsUnchanged)
{
    // The tests run with code page 936 (GBK), which has Chinese but no Hangul.
    const std::wstring chinese = L"C:\\Users\\\x5F20\x4E09\\AppData\\Local"; // "张三"
    const std::wstring korean = L"C:\\Users\\\xAC00\xB098\\AppData\\Local";  // "가나"
    const struct {
        const char* what;
        std::wstring shortForm;
        std::wstring longForm;
        std::optional<std::string> name;
    } cases[] = {
        {"short form as ever", L"C:\\Users\\ZHANGS~1\\AppData\\Local", L"C:\\Users\\zhang san\\AppData\\Local",
         "C:\\Users\\ZHANGS~1\\AppData\\Local"},
        {"ASCII short form of a Korean name", L"C:\\Users\\8A1F~1\\AppData\\Local", korean,
         "C:\\Users\\8A1F~1\\AppData\\Local"},
        {"no short form, Chinese long form", L"", chinese, "C:\\Users\\\xD5\xC5\xC8\xFD\\AppData\\Local"},
        {"no 8.3 names: both forms Korean", korean, korean, std::nullopt},
        {"no short form, Korean long form", L"", korean, std::nullopt},
        {"no forms", L"", L"", std::nullopt},
        // 263 bytes in GBK: no narrow call takes it.
        {"too long in the code page", L"", L"C:\\" + std::wstring(130, L'\x5F20'), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ansiFolderName(c.shortForm, c.longForm), c.name) << c.what;
}

TEST(InstallLayout, ResolvedPathsFollowTheLauncherAndTheUserFolder)
{
    UpdateTool tool;
    EXPECT_EQ(tool.installRoot, *localAppDataFolder() + "\\tarnvaleerp");
    EXPECT_EQ(tool.recordPath, tool.installRoot + "\\jsver.txt");
    ASSERT_FALSE(tool.moduleDir.empty());
    EXPECT_EQ(tool.moduleDir.back(), '\\');
    EXPECT_EQ(launcherFolder(), tool.moduleDir);
}

TEST(CheckInstallation, ReadableRecordMeansInstalled)
{
    TempFolder root, launcher;
    writeFile(root / "jsver.txt", "{\"platform\":\"3\",\"type\":\"4\",\"ver\":\"71\"}\n");
    writeFile(launcher / "res.dat", "ignored when installed");
    UpdateTool tool(root.narrowPath(), launcher.narrowPath() + "\\");

    EXPECT_TRUE(tool.checkInstallation());
    EXPECT_EQ(tool.targetDir, root.narrowPath() + "\\app\\71");
    EXPECT_EQ(tool.versionRecord.getPlatform(), "3");
}

TEST(CheckInstallation, ArchiveBesideTheLauncherInstallsItsShippedVersion)
{
    TempFolder root, launcher;
    writeFile(launcher / "res.dat", "zip");
    writeFile(launcher / "jsver.txt", "{\"platform\":\"8\",\"type\":\"9\",\"ver\":\"5\"}");
    UpdateTool tool(root.narrowPath(), launcher.narrowPath() + "\\");

    EXPECT_FALSE(tool.checkInstallation());
    EXPECT_EQ(tool.onlineInstall, 0);
    // The launcher folder already ends in a backslash; the doubled one still names the file.
    EXPECT_EQ(tool.packageFile, launcher.narrowPath() + "\\\\res.dat");
    EXPECT_NE(GetFileAttributesA(tool.packageFile.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(tool.targetDir, root.narrowPath() + "\\app\\5");
    EXPECT_EQ(tool.stagingDir, root.narrowPath() + "\\app\\temp5");
    EXPECT_EQ(tool.versionRecord.getVer(), "5");
    EXPECT_EQ(tool.versionRecord.getType(), "9");
    EXPECT_EQ(tool.versionRecord.getPlatform(), "8");
    // Deployment saves the shipped values into the install root, not beside the launcher.
    EXPECT_EQ(tool.versionRecord.getPath(), root / "jsver.txt");
}

TEST(CheckInstallation, ArchiveWithoutItsRecordInstallsVersion70)
{
    TempFolder root, launcher;
    writeFile(launcher / "res.dat", "zip");
    UpdateTool tool(root.narrowPath(), launcher.narrowPath() + "\\");

    EXPECT_FALSE(tool.checkInstallation());
    EXPECT_EQ(tool.targetDir, root.narrowPath() + "\\app\\70");
    EXPECT_EQ(tool.stagingDir, root.narrowPath() + "\\app\\temp70");
}

TEST(CheckInstallation, NothingBesideTheLauncherTakesTheNetworkRoad)
{
    TempFolder root, launcher;
    writeFile(root / "jsver.txt", "{\"ver\":\"..\"}"); // damaged: install over it
    UpdateTool tool(root.narrowPath(), launcher.narrowPath() + "\\");

    EXPECT_FALSE(tool.checkInstallation());
    EXPECT_EQ(tool.onlineInstall, 1);
    EXPECT_EQ(tool.downloadFile, root.narrowPath() + "/download/pack");
    EXPECT_EQ(tool.downloadDir, root.narrowPath() + "/download");
    EXPECT_EQ(tool.packageFile, root.narrowPath() + "/download/package.nw");
    EXPECT_EQ(tool.versionRecord.getVer(), "70");
    EXPECT_TRUE(tool.targetDir.empty());
}
