#include "backup/backup_paths.h"
#include "program.h"

#include <gtest/gtest.h>

namespace {

TEST(SizeMonitor, KilobytesByThePattern)
{
    struct Case {
        std::uint64_t bytes;
        const wchar_t* text;
    };
    const Case cases[] = {
        {80, L".08"},  {512, L".5"},  {1300, L"1.27"},  {1536, L"1.5"},  {3072, L"3."},
        {1, L"."},     {5, L"."},     {6, L".01"},      {1024, L"1."},   {1048576, L"1024."},
        {128, L".13"}, {384, L".38"}, {10234, L"9.99"}, {10235, L"10."}, {2560000, L"2500."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(backup::FormatKilobytes(c.bytes, L"."), c.text) << c.bytes;
    }
    EXPECT_EQ(backup::FormatKilobytes(1300, L","), L"1,27");
    EXPECT_EQ(backup::FormatKilobytes(3072, L","), L"3,");
}

struct Monitor : ::testing::Test {
    fake::Os os;
    Program program{os};
    const std::wstring file = L"c:\\larkspool5\\larkspool5.reg";

    void SetUp() override
    {
        os.settings[L"lsBundle\\TimesRun\\1"] = L"5";
        program.Start();
        program.Export();
    }
    const platform::Control& label() { return program[L"Label2"]; }
};

TEST_F(Monitor, ShowsTheSizeOnceTheFileHasGrown)
{
    program.Tick(); // the tool has not made the file yet
    EXPECT_FALSE(label().visible);
    EXPECT_EQ(os.files.count(file), 0u) << "a tick must never create the file";
    os.files[file] = "";
    program.Tick();
    EXPECT_FALSE(label().visible);
    os.files[file] = std::string(1300, 'x');
    program.Tick();
    EXPECT_TRUE(label().visible);
    EXPECT_EQ(label().caption, L"Size of LarkSpool 5.reg is: 1.27 kb");
}

TEST_F(Monitor, KeepsTheLastSizeWhenTheFileGoes)
{
    os.files[file] = std::string(512, 'x');
    program.Tick();
    os.files.erase(file);
    program.Tick();
    EXPECT_EQ(label().caption, L"Size of LarkSpool 5.reg is: .5 kb");
    EXPECT_EQ(os.files.count(file), 0u);
    os.folders.clear();
    program.Tick();
    EXPECT_EQ(label().caption, L"Size of LarkSpool 5.reg is: .5 kb");
}

TEST_F(Monitor, TinyFileShowsTheSeparatorAlone)
{
    os.decimal = L",";
    os.files[file] = "abc";
    program.Tick();
    EXPECT_EQ(label().caption, L"Size of LarkSpool 5.reg is: , kb");
}

TEST_F(Monitor, SecondExportKeepsMeasuringTheFirstFile)
{
    program.Export();
    os.files[L"c:\\larkspool6\\larkspool6.reg"] = std::string(3072, 'x');
    os.files[file] = std::string(1536, 'x');
    program.Tick();
    EXPECT_EQ(label().caption, L"Size of LarkSpool 5.reg is: 1.5 kb");
}

TEST_F(Monitor, FailedExportIsToldInTheLabel)
{
    *os.lastExit = 1;
    program.Tick();
    EXPECT_TRUE(label().visible);
    EXPECT_EQ(label().caption, L"Export failed: reg.exe ended with code 1");
}

TEST_F(Monitor, MissingKeyIsToldInTheLabel)
{
    os.registryKeys.clear();
    *os.lastExit = 1;
    program.Tick();
    program.Tick();
    EXPECT_EQ(label().caption, L"Nothing to back up: HKCU\\Software\\Zephrix\\Wrenlet2 does not exist");
    // A new export starts afresh.
    os.registryKeys.insert(L"hkcu\\software\\zephrix\\wrenlet2");
    program.Export();
    os.files[file] = std::string(1024, 'x');
    program.Tick();
    EXPECT_EQ(label().caption, L"Size of LarkSpool 5.reg is: 1. kb");
}

TEST_F(Monitor, SuccessfulExportShowsTheSize)
{
    os.files[file] = std::string(80, 'x');
    *os.lastExit = 0;
    program.Tick();
    EXPECT_EQ(label().caption, L"Size of LarkSpool 5.reg is: .08 kb");
}

} // namespace
