#include "program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace {

TEST(MainWindow, LoadRefreshesThenKeepsTheStartupRunNumber)
{
    fake::Os os;
    os.settings[L"lsBundle\\TimesRun\\1"] = L"5";
    Program program(os);
    Form1& form = program.Start();
    EXPECT_EQ(form.sizeCaptionPrefix(), L"Size of LarkSpool 5.reg is: ");
    EXPECT_EQ(form.startupRunNumber(), L"5");
    // Loading looks for a restore cut off by a crash and for an automatic run to tell, then reads
    // and writes the count, before anything is placed on the screen.
    EXPECT_EQ(std::vector<std::wstring>(os.calls.begin(), os.calls.begin() + 9),
              (std::vector<std::wstring>{L"GetSetting lsBundle\\Restore\\Backup",
                                         L"GetSetting lsBundle\\Restore\\Safety", L"GetSetting lsBundle\\Restore\\Step",
                                         L"RegistryKeyExists HKCU\\Software\\Zephrix\\Wrenlet2.LarkSpool-restore",
                                         L"RegistryKeyExists HKCU\\Software\\Zephrix\\Wrenlet2.LarkSpool-before",
                                         L"GetSetting lsBundle\\Automatic\\LastRun",
                                         L"GetSetting lsBundle\\TimesRun\\1", L"SaveSetting 6", L"SetWindowPos 4097"}));

    program.Export();
    program.Export();
    EXPECT_EQ(form.timesRun(), L"7");
    EXPECT_EQ(form.sizeCaptionPrefix(), L"Size of LarkSpool 5.reg is: ");
    EXPECT_EQ(form.startupRunNumber(), L"5");
}

TEST(MainWindow, FirstDisplayShowsNoSizeAndAnUntickedBox)
{
    fake::Os os;
    Program program(os);
    program.Start();
    EXPECT_FALSE(program[L"Label2"].visible);
    EXPECT_EQ(program[L"chkOpen"].value, 0);
    EXPECT_FALSE(program[L"Timer1"].enabled);
}

TEST(MainWindow, ActivationMakesTheWindowTopmost)
{
    fake::Os os;
    Program program(os);
    program.Start();
    program.form->Fire(L"Form", L"Activate");
    const fake::WindowPosCall topmost{0x1001, -1, 0, 0, 0, 0, 3};
    ASSERT_EQ(os.windowPos.size(), 2u);
    EXPECT_EQ(os.windowPos[0], topmost);
    EXPECT_EQ(os.windowPos[1], topmost);
}

TEST(MainWindow, BothWaysOutRunDidBackupOnceAndEnd)
{
    for (const wchar_t* way : {L"cmdExit_Click", L"Form_Unload"}) {
        SCOPED_TRACE(std::string(way, way + std::wcslen(way)));
        fake::Os os;
        os.settings[L"lsBundle\\TimesRun\\1"] = L"5";
        Program program(os);
        program.Start();
        os.calls.clear();
        platform::EventArgs args;
        args.cancel = 0;
        if (std::wstring(way) == L"cmdExit_Click") {
            EXPECT_THROW(program.form->Fire(L"cmdExit", L"Click", args), fake::Ended);
        } else {
            EXPECT_THROW(program.form->Fire(L"Form", L"Unload", args), fake::Ended);
        }
        EXPECT_EQ(os.calls, (std::vector<std::wstring>{L"SaveSetting 4", L"End 0"}));
        EXPECT_EQ(args.cancel, 0);
    }
}

// Positions and sizes in twips; the command labels stand in one row with gaps of 105.
TEST(MainWindow, LayoutHasNoOverlapsAndLabelsInOneRow)
{
    const platform::Layout layout = Form1::Layout();
    std::vector<platform::Control> placed;
    std::copy_if(layout.controls.begin(), layout.controls.end(), std::back_inserter(placed),
                 [](const platform::Control& control) { return control.kind != platform::ControlKind::Timer; });
    for (std::size_t a = 0; a < placed.size(); ++a) {
        for (std::size_t b = a + 1; b < placed.size(); ++b) {
            const auto& p = placed[a];
            const auto& q = placed[b];
            const bool apart = p.left + p.width <= q.left || q.left + q.width <= p.left || p.top + p.height <= q.top ||
                               q.top + q.height <= p.top;
            EXPECT_TRUE(apart) << std::string(p.name.begin(), p.name.end()) << " overlaps "
                               << std::string(q.name.begin(), q.name.end());
        }
    }
}

TEST(MainWindow, CommandLabelsStandInARowWithEvenGaps)
{
    fake::Os os;
    Program program(os);
    program.Start();
    const auto& about = program[L"cmdAbout"];
    const auto& exportLabel = program[L"cmdExport"];
    const auto& exit = program[L"cmdExit"];
    EXPECT_EQ(about.top, exportLabel.top);
    EXPECT_EQ(exportLabel.top, exit.top);
    EXPECT_EQ(exportLabel.left - (about.left + about.width), 105);
    EXPECT_EQ(exit.left - (exportLabel.left + exportLabel.width), 105);
    // Text1 lies wholly below the client area.
    EXPECT_GE(program[L"Text1"].top, Form1::Layout().clientHeight);
}

// The keyboard starts on Export Custom Names, the default command; Tab goes round the command
// labels and the check box, past the text box below the window until the window shows it.
TEST(MainWindow, KeyboardStartsOnExportCustomNames)
{
    fake::Os os;
    os.settings[L"lsBundle\\TimesRun\\1"] = L"5";
    Program program(os);
    Form1& form = program.Start();
    fake::Runtime& keyboard = program.runtime;
    EXPECT_EQ(keyboard.focus, L"cmdExport");
    std::vector<std::wstring> visited;
    for (int i = 0; i < 4; ++i) {
        keyboard.Key(form, fake::Runtime::kTab);
        visited.push_back(keyboard.focus);
    }
    EXPECT_EQ(visited, (std::vector<std::wstring>{L"cmdExit", L"chkOpen", L"cmdAbout", L"cmdExport"}));
    const platform::Layout layout = Form1::Layout();
    const platform::Control& text1 = program[L"Text1"];
    EXPECT_FALSE(platform::TabStop(layout, text1, layout.clientWidth, layout.clientHeight));
    EXPECT_TRUE(platform::TabStop(layout, text1, layout.clientWidth, text1.top + 15));

    os.calls.clear();
    keyboard.Key(form, platform::vbKeyEscape); // closing stays on Exit, Alt+F4 and the title bar
    EXPECT_TRUE(os.calls.empty());
    keyboard.Key(form, platform::vbKeyReturn);
    keyboard.Key(form, fake::Runtime::kTab);
    keyboard.Key(form, fake::Runtime::kTab);
    keyboard.Key(form, platform::vbKeyReturn); // on the check box: the default command
    EXPECT_EQ(os.folders, (std::set<std::wstring>{L"c:\\larkspool5", L"c:\\larkspool6"}));
}

TEST(MainWindow, FailureInAHandlerIsShownAndEndsTheProgram)
{
    fake::Os os;
    Program program(os);
    program.Start();
    os.failing = L"MakeNewDir";
    try {
        program.Export();
        FAIL() << "the program went on";
    } catch (const fake::Ended& ended) {
        EXPECT_EQ(ended.exitCode, 1) << "a script must be able to tell a failure from a normal end";
    }
    ASSERT_EQ(os.messages.size(), 1u);
    EXPECT_NE(os.messages[0].find(L"C:\\Larkspool0"), std::wstring::npos);
    EXPECT_NE(os.messages[0].find(L"The device is not ready."), std::wstring::npos);
}

} // namespace

namespace {

class Misspelt : public platform::Form {
public:
    Misspelt(platform::Os& system, platform::Runtime& forms, const wchar_t* handler)
        : Form(system, forms, Form1::Layout())
    {
        On(handler, [](platform::EventArgs&) {});
    }
};

// A handler whose control the layout lacks would never run: the form cannot be built with it.
TEST(Forms, HandlerNamesMustNameAControlOfTheLayout)
{
    fake::Os os;
    fake::Runtime runtime;
    for (const wchar_t* name : {L"cmdExprot_Click", L"Timer2_Timer", L"mn9_Click", L"Form", L"cmdExport"}) {
        EXPECT_THROW(Misspelt(os, runtime, name), std::logic_error) << std::string(name, name + std::wcslen(name));
    }
    for (const wchar_t* name : {L"cmdExport_Click", L"Form_Load", L"mn2_Click", L"Timer1_Timer"}) {
        EXPECT_NO_THROW(Misspelt(os, runtime, name));
    }
}

} // namespace
