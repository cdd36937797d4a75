#include "app/IniFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(IniInteger, ParsesLikeThePrivateProfileFormat)
{
    struct TCase
    {
        const char* text;
        bool ok;
        std::int32_t value;
    };
    const TCase cases[] = {
        {"0", true, 0},
        {"258", true, 258},
        {"-5", true, -5},
        {"+7", true, 7},
        {" 12 ", true, 12},
        {"$FF", true, 255},
        {"$ffffff", true, 16777215},
        {"0x10", true, 16},
        {"$FFFFFFFF", true, -1},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"99999999999", false, 0},
        {"$123456789", false, 0},
        {"", false, 0},
        {"$", false, 0},
        {"12a", false, 0},
        {"1 2", false, 0},
        {"1.5", false, 0},
        {"-", false, 0},
    };
    for (const TCase& c : cases) {
        std::int32_t v = 12345;
        EXPECT_EQ(ParseIniInteger(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(IniFile, ReadsDefaultsForWhatIsMissingOrBroken)
{
    TIniFile ini("/nonexistent/settings.ini");
    EXPECT_EQ(ini.ReadInteger("Graphics", "VorkastGraphicType", 0), 0);
    EXPECT_EQ(ini.ReadInteger("DeviceScreenShot", "BackgroundColor", 16777215), 16777215);
    ini.Parse("; comment\r\n[graphics]\r\n  vorkastgraphictype = 258 \r\nSeriesColor0=red\r\n"
              "[DeviceScreenShot]\nPenColor=$0000FF\nPenColor=5\n[Other]\nBackgroundColor=1\n");
    EXPECT_EQ(ini.ReadInteger("Graphics", "VorkastGraphicType", 0), 258) << "names ignore case";
    EXPECT_EQ(ini.ReadInteger("Graphics", "SeriesColor0", 0), 0) << "not a number";
    EXPECT_EQ(ini.ReadInteger("DeviceScreenShot", "PenColor", 0), 255) << "the first of two counts";
    EXPECT_EQ(ini.ReadInteger("DeviceScreenShot", "BackgroundColor", 16777215), 16777215) << "other section";
}

TEST(IniFile, WritingKeepsLinesItDoesNotOwn)
{
    TTempDir dir;
    const std::string path = dir.File("cement-lab.ini");
    std::ofstream(path) << "; kept\n[Graphics]\nVorkastGraphicType=3\nOwnKey=x\n\n[Someone]\nA=1\n";
    TIniFile ini(path);
    ini.WriteInteger("Graphics", "VorkastGraphicType", 4);
    ini.WriteInteger("Graphics", "SeriesColor0", -1);
    ini.WriteInteger("DeviceScreenShot", "PenColor", 0);
    ini.WriteInteger("DeviceScreenShot", "BackgroundColor", 16777215);
    ini.UpdateFile();
    EXPECT_EQ(ReadAll(path),
        "; kept\r\n[Graphics]\r\nVorkastGraphicType=4\r\nOwnKey=x\r\nSeriesColor0=-1\r\n\r\n"
        "[Someone]\r\nA=1\r\n\r\n[DeviceScreenShot]\r\nPenColor=0\r\nBackgroundColor=16777215\r\n");
    EXPECT_EQ(TIniFile(path).ReadInteger("Graphics", "SeriesColor0", 0), -1);
}

TEST(IniFile, AFailedWriteSaysSoAndLeavesTheOldFile)
{
    TTempDir dir;
    const std::string path = dir.File("ro/cement-lab.ini");
    std::filesystem::create_directory(dir.File("ro"));
    std::ofstream(path) << "[Graphics]\nVorkastGraphicType=1\n";
    TIniFile ini(path);
    ini.WriteInteger("Graphics", "VorkastGraphicType", 2);
    TIniFile missingFolder(dir.File("gone/cement-lab.ini"));
    missingFolder.WriteInteger("Graphics", "VorkastGraphicType", 2);
    try {
        missingFolder.UpdateFile();
        FAIL() << "no error";
    } catch (const TIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + dir.File("gone/cement-lab.ini"));
    }
    if (geteuid() != 0) { // root writes anywhere
        chmod(dir.File("ro").c_str(), 0500);
        EXPECT_THROW(ini.UpdateFile(), TIniFileError);
        EXPECT_EQ(TIniFile(path).ReadInteger("Graphics", "VorkastGraphicType", 0), 1);
        chmod(dir.File("ro").c_str(), 0700);
    }
}
