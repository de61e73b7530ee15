#include "ui/frmAbout.h"

#include "ui/command_label.h"

namespace ui {

namespace {

constexpr platform::WindowHandle HWND_TOPMOST = -1;
constexpr unsigned SWP_NOSIZE = 0x0001;
constexpr unsigned SWP_NOMOVE = 0x0002;

} // namespace

std::wstring frmAbout::AboutText()
{
    return L"I Made this program for all the people that dont know there way around a computer registry. "
           L"Basically it creates a .bat file and runs it then the custom names are backed up onto the C Drive. "
           L"When you reinstall windows all you have to do is double click the registry file and away you go." +
           std::wstring(130, L' ') + L"Cheers!";
}

platform::Layout frmAbout::Layout()
{
    using platform::Control;
    using platform::ControlKind;
    platform::Layout layout;
    layout.name = L"frmAbout";
    layout.caption = L"About LarkSpool";
    layout.backColor = 0xFFFFFF;
    layout.frame = platform::Frame::Sizable;
    layout.clientWidth = 4680;
    layout.clientHeight = 1725;

    Control exit{.name = L"cmdExit", .caption = L"Exit", .left = 2040, .top = 1440, .width = 735, .height = 255};
    exit.tabIndex = 1;
    exit.border = true;
    exit.centered = true;
    exit.command = true;
    exit.accessKey = L'x';

    Control text{.name = L"Label1", .caption = AboutText(), .left = 120, .top = 120, .width = 4455, .height = 1215};
    text.transparent = true;
    text.foreColor = 0x00B6703D;
    text.tabIndex = 0;
    text.centered = true;
    text.wordWrap = true;

    layout.controls = {exit, text};
    return layout;
}

frmAbout::frmAbout(platform::Os& system, platform::Runtime& forms) : Form(system, forms, Layout())
{
    On(L"cmdExit_Click", [this](platform::EventArgs&) { cmdExit_Click(); });
    On(L"cmdExit_MouseMove", [this](platform::EventArgs&) { cmdExit_MouseMove(); });
    On(L"Form_MouseMove", [this](platform::EventArgs&) { Form_MouseMove(); });
    On(L"Label1_MouseMove", [this](platform::EventArgs&) { Label1_MouseMove(); });
    On(L"Form_Resize", [this](platform::EventArgs&) { Form_Resize(); });
    On(L"Form_KeyDown", [this](const platform::EventArgs& args) { Form_KeyDown(args); });
}

void frmAbout::Form_KeyDown(const platform::EventArgs& args)
{
    if (args.keyCode == platform::vbKeyEscape) {
        runtime.Unload(*this);
    }
}

void frmAbout::cmdExit_Click()
{
    runtime.Unload(*this);
}

void frmAbout::cmdExit_MouseMove()
{
    Highlight((*this)[L"cmdExit"]);
}

void frmAbout::Form_MouseMove()
{
    Reset((*this)[L"cmdExit"]);
}

void frmAbout::Label1_MouseMove()
{
    Reset((*this)[L"cmdExit"]);
}

// The main window is topmost, so the About window joins that band to lie above it. The result
// is not looked at: where the call fails the window simply stays where it is.
void frmAbout::Form_Resize()
{
    os.SetWindowPos(hWnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

} // namespace ui
