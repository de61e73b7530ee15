#include "backup/backup_paths.h"
#include "program.h"

#include <gtest/gtest.h>

namespace {

fake::Os StoredCount(const wchar_t* count)
{
    fake::Os os;
    os.settings[L"lsBundle\\TimesRun\\1"] = count;
    return os;
}

TEST(ExportCommandLine, QuotesBothPathsAndAsksNothing)
{
    struct Case {
        const wchar_t* appPath;
        const wchar_t* runNumber;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"D:\\Tools", L"5",
         L"\"D:\\Tools\\reg.exe\" EXPORT HKCU\\Software\\Zephrix\\Wrenlet2 \"C:\\Larkspool5\\Larkspool5.reg\" /y"},
        {L"C:\\My Tools", L"12",
         L"\"C:\\My Tools\\reg.exe\" EXPORT HKCU\\Software\\Zephrix\\Wrenlet2 \"C:\\Larkspool12\\Larkspool12.reg\" /y"},
        {L"E:\\", L"5",
         L"\"E:\\reg.exe\" EXPORT HKCU\\Software\\Zephrix\\Wrenlet2 \"C:\\Larkspool5\\Larkspool5.reg\" /y"},
        {L"D:\\Tools", L"007",
         L"\"D:\\Tools\\reg.exe\" EXPORT HKCU\\Software\\Zephrix\\Wrenlet2 \"C:\\Larkspool007\\Larkspool007.reg\" /y"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(backup::ExportCommandLine(backup::JoinPath(c.appPath, L"reg.exe"), c.runNumber), c.expected);
    }
}

TEST(ExportCommandLine, QuotingSurvivesBackslashesAndQuotes)
{
    EXPECT_EQ(backup::QuoteArgument(L"a b"), L"\"a b\"");
    EXPECT_EQ(backup::QuoteArgument(L"C:\\dir\\"), L"\"C:\\dir\\\\\"");
    EXPECT_EQ(backup::QuoteArgument(L"say \"hi\""), L"\"say \\\"hi\\\"\"");
    EXPECT_EQ(backup::QuoteArgument(L"a\\\"b"), L"\"a\\\\\\\"b\"");
    EXPECT_EQ(backup::QuoteArgument(L""), L"\"\"");
}

TEST(Export, StepsInOrder)
{
    fake::Os os = StoredCount(L"5");
    Program program(os);
    program.Start();
    program[L"chkOpen"].value = 1;
    os.calls.clear();
    program.Export();
    const std::wstring exportCommand = L"\"C:\\windows\\system32\\reg.exe\" EXPORT HKCU\\Software\\Zephrix\\Wrenlet2 "
                                       L"\"C:\\Larkspool5\\Larkspool5.reg\" /y";
    const std::vector<std::wstring> expected{
        L"MakeNewDir C:\\Larkspool5",
        L"Shell 6 " + exportCommand,
        L"Shell 1 \"C:\\Windows\\explorer.exe\" C:\\LarkSpool5",
        L"GetSetting lsBundle\\TimesRun\\1",
        L"SaveSetting 7",
    };
    EXPECT_EQ(os.calls, expected);
    EXPECT_TRUE(program[L"Timer1"].enabled);
    EXPECT_TRUE(program.form->backupDone());
    EXPECT_EQ(program.form->Caption, L"Wrenlet! 2 LarkSpool. (Times Run = 6)");
}

TEST(Export, DateStampBytesAndReadOnly)
{
    fake::Os os = StoredCount(L"5");
    Program program(os);
    program.Start();
    program.Export();
    // Taken at the click, written once the tool has ended: nothing else touches the disk while it writes.
    EXPECT_EQ(os.files.count(L"c:\\larkspool5\\date created.txt"), 0u);
    *os.lastExit = 0;
    program.Tick();
    EXPECT_EQ(os.files.at(L"c:\\larkspool5\\date created.txt"),
              "Date Created: 12-07-2026\r\nTime Created: 3:04:05 PM\r\n");
    EXPECT_EQ(os.attributes.at(L"c:\\larkspool5\\date created.txt"), 1u);
}

TEST(Export, FolderOpensOnlyWhenTicked)
{
    for (int value : {0, 1, 2}) {
        fake::Os os = StoredCount(L"5");
        Program program(os);
        program.Start();
        program[L"chkOpen"].value = value;
        program.Export();
        const auto shells = os.CallsNamed(L"Shell");
        EXPECT_EQ(shells.size(), value == 1 ? 2u : 1u) << value;
    }
}

TEST(Export, TwoExportsFillConsecutiveFolders)
{
    fake::Os os = StoredCount(L"5");
    Program program(os);
    program.Start();
    program.Export();
    EXPECT_EQ(program.RunNumberInTitle(), 6);
    program.Export();
    EXPECT_EQ(program.RunNumberInTitle(), 7);
    EXPECT_EQ(os.folders, (std::set<std::wstring>{L"c:\\larkspool5", L"c:\\larkspool6"}));
    // Tools still running at exit leave their folders stamped all the same.
    program.Exit();
    EXPECT_EQ(os.files.count(L"c:\\larkspool5\\date created.txt"), 1u);
    EXPECT_EQ(os.files.count(L"c:\\larkspool6\\date created.txt"), 1u);
}

// A run number can come back after runs without a backup; its folder holds an earlier backup.
TEST(Export, ExistingFolderIsNeverWrittenInto)
{
    fake::Os os = StoredCount(L"5");
    os.folders = {L"c:\\larkspool5", L"c:\\larkspool6"};
    os.files[L"c:\\larkspool5\\date created.txt"] = "old";
    Program program(os);
    program.Start();
    program.Export();
    EXPECT_EQ(os.files.at(L"c:\\larkspool5\\date created.txt"), "old");
    EXPECT_EQ(os.folders.count(L"c:\\larkspool7"), 1u);
    EXPECT_NE(os.CallsNamed(L"Shell").at(0).find(L"\"C:\\Larkspool7\\Larkspool7.reg\""), std::wstring::npos);
    // The counter moved on as if it had read 7: the export's refresh shows 8 and stores 9.
    EXPECT_EQ(program.form->timesRun(), L"8");
    EXPECT_EQ(os.Setting(), L"9");
    // The size caption names the file of this run's first export.
    EXPECT_EQ(program.form->sizeCaptionPrefix(), L"Size of LarkSpool 7.reg is: ");
    program.Exit();
    EXPECT_EQ(os.Setting(), L"9");
    EXPECT_EQ(os.files.count(L"c:\\larkspool7\\date created.txt"), 1u);
}

// A reg.exe beside the program (a downloads folder, say) runs only where the system has none.
TEST(Export, SystemRegistryToolComesFirst)
{
    struct Case {
        bool inSystem, besideProgram;
        const wchar_t* tool;
    };
    const Case cases[] = {
        {true, true, L"C:\\windows\\system32\\reg.exe"},
        {true, false, L"C:\\windows\\system32\\reg.exe"},
        {false, true, L"D:\\Tools\\reg.exe"},
    };
    for (const Case& c : cases) {
        fake::Os os = StoredCount(L"5");
        os.files.clear();
        if (c.inSystem) {
            os.files[L"c:\\windows\\system32\\reg.exe"] = "MZ";
        }
        if (c.besideProgram) {
            os.files[L"d:\\tools\\reg.exe"] = "MZ";
        }
        Program program(os);
        program.Start();
        program.Export();
        EXPECT_EQ(os.CallsNamed(L"Shell").at(0).rfind(L"6 \"" + std::wstring(c.tool) + L"\" EXPORT", 0), 0u) << c.tool;
    }
}

TEST(Export, NoRegistryToolAnywhereChangesNothing)
{
    fake::Os os = StoredCount(L"5");
    os.files.clear();
    Program program(os);
    program.Start();
    program.Export();
    ASSERT_EQ(os.messages.size(), 1u);
    EXPECT_NE(os.messages[0].find(L"D:\\Tools"), std::wstring::npos);
    EXPECT_NE(os.messages[0].find(L"C:\\windows\\system32"), std::wstring::npos);
    EXPECT_TRUE(os.folders.empty());
    EXPECT_EQ(program.form->timesRun(), L"5");
    EXPECT_EQ(os.Setting(), L"6");
    EXPECT_FALSE(program.form->backupDone());
    EXPECT_FALSE(program[L"Timer1"].enabled);
    program.Exit();
    EXPECT_EQ(os.Setting(), L"4");
}

// A failure after the folder was made (the tool cannot start, the file browser cannot start, the
// date stamp cannot be written when the tool has ended) ends the program: the folder stays and
// the count keeps what the last refresh wrote.
TEST(Export, FailureAfterTheFolderEndsTheProgram)
{
    struct Case {
        const wchar_t* failing;
        int after;
        bool whenEnded;
    };
    for (const Case& c : {Case{L"Shell", 0, false}, Case{L"AppendText", 0, true}, Case{L"SetAttr", 0, true},
                          Case{L"Shell", 1, false}}) {
        fake::Os os = StoredCount(L"5");
        Program program(os);
        program.Start();
        program[L"chkOpen"].value = c.whenEnded ? 0 : 1; // the file browser's process would be the last one
        os.failing = c.failing;
        os.failingAfter = c.after;
        if (c.whenEnded) {
            program.Export();
            *os.lastExit = 0;
            EXPECT_THROW(program.Tick(), fake::Ended);
        } else {
            EXPECT_THROW(program.Export(), fake::Ended);
        }
        EXPECT_EQ(os.folders.count(L"c:\\larkspool5"), 1u);
        EXPECT_EQ(os.Setting(), c.whenEnded ? L"7" : L"6");
        EXPECT_EQ(os.messages.size(), 1u);
    }
}

} // namespace
