#include "backup/run_number.h"
#include "program.h"

#include <gtest/gtest.h>

namespace {

enum class Step { Start, Export, Exit };

struct Row {
    Step step;
    const wchar_t* timesRun; // after the step; nullptr: not looked at (the program has ended)
    const wchar_t* entry;
    const wchar_t* folder; // filled by the step, or nullptr
};

void RunTable(const wchar_t* initial, const std::vector<Row>& rows)
{
    fake::Os os;
    os.settings[L"lsBundle\\TimesRun\\1"] = initial;
    std::unique_ptr<Program> program;
    int line = 0;
    for (const Row& row : rows) {
        ++line;
        SCOPED_TRACE("row " + std::to_string(line));
        const std::size_t foldersBefore = os.folders.size();
        switch (row.step) {
        case Step::Start:
            program = std::make_unique<Program>(os);
            program->Start();
            break;
        case Step::Export:
            program->Export();
            break;
        case Step::Exit:
            program->Exit();
            break;
        }
        if (row.timesRun != nullptr) {
            EXPECT_EQ(program->form->timesRun(), row.timesRun);
            EXPECT_EQ(program->form->Caption,
                      std::wstring(L"Wrenlet! 2 LarkSpool. (Times Run = ") + row.timesRun + L")");
        }
        EXPECT_EQ(os.Setting(), row.entry);
        if (row.folder != nullptr) {
            EXPECT_EQ(os.folders.count(fake::Lower(row.folder)), 1u);
            EXPECT_EQ(os.folders.size(), foldersBefore + 1);
        } else {
            EXPECT_EQ(os.folders.size(), foldersBefore);
        }
    }
}

TEST(RunCounter, WorkedSequenceFromFive)
{
    RunTable(L"5", {
                       {Step::Start, L"5", L"6", nullptr},
                       {Step::Export, L"6", L"7", L"C:\\Larkspool5"},
                       {Step::Exit, nullptr, L"7", nullptr},
                       {Step::Start, L"7", L"8", nullptr},
                       {Step::Exit, nullptr, L"6", nullptr},
                       {Step::Start, L"6", L"7", nullptr},
                       {Step::Export, L"7", L"8", L"C:\\Larkspool6"},
                       {Step::Export, L"8", L"9", L"C:\\Larkspool7"},
                       {Step::Exit, nullptr, L"9", nullptr},
                       {Step::Start, L"9", L"10", nullptr},
                       {Step::Exit, nullptr, L"8", nullptr},
                   });
}

TEST(RunCounter, WorkedSequenceAtTheLowEnd)
{
    RunTable(L"1", {
                       {Step::Start, L"1", L"2", nullptr},
                       {Step::Exit, nullptr, L"0", nullptr},
                       {Step::Start, L"0", L"1", nullptr},
                       {Step::Exit, nullptr, L"0", nullptr},
                   });
}

TEST(RunCounter, TextIsJoinedAsReadButComputedAsNumber)
{
    fake::Os os;
    os.settings[L"lsBundle\\TimesRun\\1"] = L"007";
    Program program(os);
    program.Start();
    EXPECT_EQ(program.form->Caption, L"Wrenlet! 2 LarkSpool. (Times Run = 007)");
    EXPECT_EQ(os.Setting(), L"8");
    EXPECT_EQ(program.form->sizeCaptionPrefix(), L"Size of LarkSpool 007.reg is: ");
    program.Export();
    EXPECT_EQ(os.folders.count(L"c:\\larkspool007"), 1u);
    EXPECT_EQ(os.CallsNamed(L"Shell").at(0),
              L"6 \"C:\\windows\\system32\\reg.exe\" EXPORT "
              L"HKCU\\Software\\Zephrix\\Wrenlet2 \"C:\\Larkspool007\\Larkspool007.reg\" /y");
}

TEST(RunCounter, FirstRunWithoutEntryCountsFromZero)
{
    fake::Os os;
    Program program(os);
    program.Start();
    EXPECT_EQ(program.form->Caption, L"Wrenlet! 2 LarkSpool. (Times Run = 0)");
    EXPECT_EQ(os.Setting(), L"1");
    EXPECT_TRUE(os.messages.empty());
    program.Exit();
    EXPECT_EQ(os.Setting(), L"0");
}

TEST(RunCounter, EntryThatIsNoCountIsReportedAndCountingStartsAgain)
{
    for (const wchar_t* stored :
         {L"abc", L"-3", L"1.5", L"+4", L" 5", L"5 ", L"99999999999999999999", L"9223372036854775807", L"\x0663"}) {
        SCOPED_TRACE(std::string(stored, stored + std::wcslen(stored)));
        fake::Os os;
        os.settings[L"lsBundle\\TimesRun\\1"] = stored;
        Program program(os);
        program.Start();
        ASSERT_EQ(os.messages.size(), 1u);
        EXPECT_NE(os.messages[0].find(L"\"" + std::wstring(stored) + L"\""), std::wstring::npos);
        EXPECT_NE(os.messages[0].find(L"starts again from 0"), std::wstring::npos);
        EXPECT_EQ(program.form->Caption, L"Wrenlet! 2 LarkSpool. (Times Run = 0)");
        EXPECT_EQ(os.Setting(), L"1");
    }
}

// Another tool or an import may store the count as a number: every start would otherwise end.
TEST(RunCounter, EntryThatIsNotTextIsNoCount)
{
    fake::Os os;
    os.settingsNotText.insert(L"lsBundle\\TimesRun\\1");
    Program program(os);
    program.Start();
    ASSERT_EQ(os.messages.size(), 1u);
    EXPECT_NE(os.messages[0].find(L"starts again from 0"), std::wstring::npos);
    EXPECT_EQ(program.form->Caption, L"Wrenlet! 2 LarkSpool. (Times Run = 0)");
    EXPECT_EQ(os.Setting(), L"1");
}

// A longer count names a folder the system cannot make: the export would end the program.
TEST(RunCounter, CountOfMoreThanNineteenDigitsIsNoCount)
{
    struct Case {
        std::wstring stored;
        bool accepted;
    };
    const Case cases[] = {
        {std::wstring(18, L'0') + L"5", true},
        {std::wstring(19, L'0') + L"5", false},
        {std::wstring(300, L'0') + L"5", false},
    };
    for (const Case& c : cases) {
        fake::Os os;
        os.settings[L"lsBundle\\TimesRun\\1"] = c.stored;
        Program program(os);
        program.Start();
        EXPECT_EQ(os.messages.empty(), c.accepted) << c.stored.size();
        EXPECT_EQ(program.form->timesRun(), c.accepted ? c.stored : L"0");
        program.Export();
        EXPECT_EQ(os.folders.count(L"c:\\larkspool" + (c.accepted ? c.stored : L"0")), 1u);
    }
}

TEST(RunCounter, ParseAcceptsWholeNumbersThatCanStillGrow)
{
    EXPECT_EQ(backup::ParseRunNumber(L"0"), 0);
    EXPECT_EQ(backup::ParseRunNumber(L"007"), 7);
    EXPECT_EQ(backup::ParseRunNumber(L"9223372036854775806"), 9223372036854775806);
    EXPECT_EQ(backup::ParseRunNumber(L"9223372036854775807"), std::nullopt);
    EXPECT_EQ(backup::ParseRunNumber(L""), std::nullopt);
}

TEST(RunCounter, ExitAfterAnExportWritesNothing)
{
    fake::Os os;
    os.settings[L"lsBundle\\TimesRun\\1"] = L"0";
    Program program(os);
    program.Start();
    program.Export();
    const std::size_t saves = os.CallsNamed(L"SaveSetting").size();
    program.Exit();
    EXPECT_EQ(os.CallsNamed(L"SaveSetting").size(), saves);
    EXPECT_EQ(os.Setting(), L"2");
}

TEST(RunCounter, RefreshFillsTheWindowTexts)
{
    fake::Os os;
    Program program(os);
    program.Start();
    EXPECT_EQ(program[L"Label1"].caption,
              L"This is in noway a product by Zephrix, or have any relation to Wrenlet!\r\n"
              L"This allows a person to Backup their Custom Name Contact List created by Wrenlet!2\r\n"
              L"Enjoy");
    EXPECT_EQ(program[L"Text1"].caption, L"");
}

TEST(RunCounter, FailingStoreAtStartEndsBeforeTheWindowIsShown)
{
    fake::Os os;
    os.failing = L"SaveSetting";
    Program program(os);
    EXPECT_THROW(program.Start(), fake::Ended);
    ASSERT_EQ(os.messages.size(), 1u);
    EXPECT_NE(os.messages[0].find(L"The device is not ready."), std::wstring::npos);
    // Nothing after the failed load ran: no activation, no topmost placement.
    EXPECT_TRUE(os.windowPos.empty());
}

} // namespace
