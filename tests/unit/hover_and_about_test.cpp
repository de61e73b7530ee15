#include "program.h"
#include "ui/frmAbout.h"

#include <gtest/gtest.h>

namespace {

constexpr platform::Color kLitBack = 0xCA9162, kLitText = 0xFFFFFF, kWhite = 0xFFFFFF, kBlack = 0x000000;

struct Colours {
    platform::Color back, text;
    bool operator==(const Colours&) const = default;
};

Colours Of(const platform::Control& c)
{
    return {c.backColor, c.foreColor};
}

TEST(Hover, TransitionsOfTheCommandLabels)
{
    const Colours initialAbout{platform::vbWindowBackground, platform::vbWindowText};
    const Colours initialExport{kWhite, platform::vbWindowText};
    const Colours lit{kLitBack, kLitText}, normal{kWhite, kBlack};
    struct Case {
        std::vector<const wchar_t*> moves; // controls the pointer moves over
        Colours about, exportLabel, exit;
    };
    const std::vector<Case> cases{
        {{}, initialAbout, initialExport, initialAbout},
        {{L"Form"}, normal, normal, normal},
        {{L"Form", L"cmdExport"}, normal, lit, normal},
        {{L"cmdAbout", L"cmdExport"}, lit, lit, initialAbout},
        {{L"cmdAbout", L"cmdExport", L"Label1"}, normal, normal, normal},
        {{L"cmdExit", L"Image1"}, initialAbout, initialExport, lit},
        {{L"cmdExit", L"chkOpen"}, initialAbout, initialExport, lit},
        {{L"cmdExit", L"Label2"}, initialAbout, initialExport, lit},
        {{L"cmdExit", L"Text1"}, initialAbout, initialExport, lit},
    };
    for (const Case& c : cases) {
        fake::Os os;
        Program program(os);
        program.Start();
        for (const wchar_t* control : c.moves) {
            program.form->Fire(control, L"MouseMove");
        }
        EXPECT_EQ(Of(program[L"cmdAbout"]), c.about) << c.moves.size();
        EXPECT_EQ(Of(program[L"cmdExport"]), c.exportLabel) << c.moves.size();
        EXPECT_EQ(Of(program[L"cmdExit"]), c.exit) << c.moves.size();
    }
}

TEST(PopupMenu, OnlyTheRightButtonOpensIt)
{
    for (int button : {1, 2, 4}) {
        fake::Os os;
        Program program(os);
        program.Start();
        platform::EventArgs args;
        args.button = button;
        program.form->Fire(L"chkOpen", L"MouseDown", args);
        EXPECT_EQ(program.runtime.calls.back() == L"PopupMenu mnu1", button == 2) << button;
        EXPECT_EQ(program[L"chkOpen"].value, 0);
    }
}

TEST(PopupMenu, ItemOpensDriveCAndDismissingRunsNothing)
{
    fake::Os os;
    Program program(os);
    program.Start();
    platform::EventArgs right;
    right.button = 2;
    program.form->Fire(L"chkOpen", L"MouseDown", right);
    EXPECT_TRUE(os.CallsNamed(L"Shell").empty());
    program.runtime.popupChoice = L"mn2";
    program.form->Fire(L"chkOpen", L"MouseDown", right);
    EXPECT_EQ(os.CallsNamed(L"Shell"), (std::vector<std::wstring>{L"1 \"C:\\Windows\\explorer.exe\" C:\\"}));
}

TEST(Links, PictureOpensTheWebSiteMinimised)
{
    fake::Os os;
    Program program(os);
    program.Start();
    program.Click(L"Image1");
    EXPECT_EQ(os.CallsNamed(L"Shell"),
              (std::vector<std::wstring>{L"2 \"C:\\Windows\\explorer.exe\" http://www.zephrix.com/wrenlet/"}));
}

TEST(About, ShownModallyAndAnewEachTime)
{
    fake::Os os;
    Program program(os);
    program.Start();
    program.Click(L"cmdAbout");
    program.Click(L"cmdAbout");
    const std::vector<std::wstring> expected{L"Show Form1 0", L"Show frmAbout 1", L"Show frmAbout 1"};
    EXPECT_EQ(program.runtime.calls, expected);
}

TEST(About, TextIsTheWholeExplanation)
{
    const std::wstring text = ui::frmAbout::AboutText();
    EXPECT_EQ(text.size(), 424u);
    EXPECT_EQ(text.substr(0, 19), L"I Made this program");
    EXPECT_EQ(text.substr(284, 3), L"go.");
    EXPECT_EQ(text.substr(287, 130), std::wstring(130, L' '));
    EXPECT_EQ(text.substr(417), L"Cheers!");
}

struct AboutWindow : ::testing::Test {
    fake::Os os;
    fake::Runtime runtime;
    ui::frmAbout about{os, runtime};
};

TEST_F(AboutWindow, ResizePutsItIntoTheTopmostBand)
{
    about.Show(1);
    about.Fire(L"Form", L"Resize");
    ASSERT_EQ(os.windowPos.size(), 2u);
    for (const auto& call : os.windowPos) {
        EXPECT_EQ(call, (fake::WindowPosCall{0x2002, -1, 0, 0, 0, 0, 3}));
    }
}

TEST_F(AboutWindow, ExitLabelLightsUpAndStartsEachShowingInTheLayoutsColours)
{
    about.Show(1);
    const Colours initial{platform::vbWindowBackground, platform::vbWindowText};
    EXPECT_EQ(Of(about[L"cmdExit"]), initial);
    about.Fire(L"cmdExit", L"MouseMove");
    EXPECT_EQ(Of(about[L"cmdExit"]), (Colours{kLitBack, kLitText}));
    about.Fire(L"Label1", L"MouseMove");
    EXPECT_EQ(Of(about[L"cmdExit"]), (Colours{kWhite, kBlack}));
    about.Fire(L"cmdExit", L"MouseMove");
    about.Fire(L"Form", L"MouseMove");
    EXPECT_EQ(Of(about[L"cmdExit"]), (Colours{kWhite, kBlack}));
    about.Fire(L"cmdExit", L"Click");
    EXPECT_EQ(runtime.calls.back(), L"Unload frmAbout");
    about.Show(1);
    EXPECT_EQ(Of(about[L"cmdExit"]), initial);
}

TEST_F(AboutWindow, ClosingFromTheTitleBarIsNotHandledSpecially)
{
    EXPECT_FALSE(about.HasHandler(L"Form", L"Unload"));
    EXPECT_FALSE(about.HasHandler(L"Form", L"Load"));
}

} // namespace
