// The forms runtime under Wine: real windows laid out from twips, topmost placement.
#include "app/Form1.h"
#include "platform/win32/forms_win32.h"
#include "platform/win32/handles.h"
#include "platform/win32/os_win32.h"
#include "ui/clsOnTop.h"
#include "ui/frmAbout.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using platform::Control;
using platform::ControlKind;
using platform::win32::Win32Runtime;

constexpr wchar_t kFormClass[] = L"LarkSpoolForm";

HWND AsHwnd(platform::WindowHandle handle)
{
    return reinterpret_cast<HWND>(handle);
}

bool Topmost(HWND window)
{
    return (::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

RECT ChildRect(HWND parent, HWND child)
{
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The calling thread's top-level windows of a class.
int ThreadWindows(const wchar_t* className)
{
    struct Search {
        const wchar_t* className;
        int count;
    } search{className, 0};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND window, LPARAM lParam) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lParam);
            wchar_t name[64] = L"";
            ::GetClassNameW(window, name, 64);
            if (::lstrcmpiW(name, s->className) == 0) {
                ++s->count;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.count;
}

// The width of an icon's image, or 0 for a handle that is no icon (any more).
int IconWidth(HICON icon)
{
    ICONINFO info{};
    if (!::GetIconInfo(icon, &info)) {
        return 0;
    }
    const platform::win32::Bitmap mask(info.hbmMask);
    const platform::win32::Bitmap colour(info.hbmColor);
    BITMAP bitmap{};
    ::GetObjectW(info.hbmMask, sizeof bitmap, &bitmap);
    return bitmap.bmWidth;
}

// A form of the test's own, which counts its unloads.
class TestForm : public platform::Form {
public:
    TestForm(platform::Os& system, platform::Runtime& forms, platform::Layout layout)
        : Form(system, forms, std::move(layout))
    {
        On(L"Form_Unload", [this](platform::EventArgs&) { ++unloads; });
        On(L"Check1_Click", [this](platform::EventArgs&) { ++clicks; });
    }
    int unloads = 0;
    int clicks = 0;
};

platform::Layout SmallLayout()
{
    platform::Layout layout;
    layout.name = L"TestForm";
    layout.caption = L"Test form";
    layout.clientWidth = 3000;
    layout.clientHeight = 1500;
    Control label{.name = L"Label1", .caption = L"Text", .left = 120, .top = 120, .width = 1500, .height = 255};
    label.foreColor = 0x00010203;
    label.backColor = 0x00040506;
    Control check{.name = L"Check1",
                  .kind = ControlKind::CheckBox,
                  .caption = L"Check",
                  .left = 120,
                  .top = 600,
                  .width = 1500,
                  .height = 255};
    check.toolTip = L"A tip";
    layout.controls = {label, check};
    return layout;
}

struct Forms : ::testing::Test {
    platform::win32::Win32Os os;
    Win32Runtime runtime{::GetModuleHandleW(nullptr)};

    static void SetUpTestSuite()
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\lsBundle");
    }
    static void TearDownTestSuite()
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\lsBundle");
    }
};

// At 96 DPI a pixel is 15 twips.
TEST_F(Forms, MainWindowLayoutInPixels)
{
    Form1 form(os, runtime);
    runtime.Show(form, 0);
    Win32Runtime::PumpMessages();
    HWND window = AsHwnd(form.hWnd());
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(::GetDpiForWindow(window), 96u);

    RECT client{};
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, 353);
    EXPECT_EQ(client.bottom, 158);

    struct Expected {
        const wchar_t* name;
        RECT rect;
    };
    const Expected expected[] = {
        {L"Label1", {8, 8, 341, 61}},         {L"Image1", {0, 128, 30, 153}},     {L"cmdAbout", {112, 112, 161, 129}},
        {L"cmdExport", {168, 112, 281, 129}}, {L"cmdExit", {288, 112, 337, 129}}, {L"chkOpen", {112, 136, 265, 153}},
        {L"Text1", {8, 192, 345, 515}},
    };
    for (const Expected& e : expected) {
        const RECT rect = runtime.ControlRect(form, e.name);
        EXPECT_TRUE(::EqualRect(&rect, &e.rect))
            << std::string(e.name, e.name + std::wcslen(e.name)) << ": " << rect.left << "," << rect.top << ","
            << rect.right << "," << rect.bottom;
    }
    // The real child windows stand where the layout puts them.
    HWND check = ::FindWindowExW(window, nullptr, L"BUTTON", nullptr);
    ASSERT_NE(check, nullptr);
    const RECT checkRect = ChildRect(window, check);
    EXPECT_EQ(checkRect.left, 112);
    EXPECT_EQ(checkRect.top, 136);
    EXPECT_EQ(checkRect.right, 265);
    EXPECT_EQ(checkRect.bottom, 153);

    wchar_t title[128] = L"";
    ::GetWindowTextW(window, title, 128);
    EXPECT_STREQ(title, L"Wrenlet! 2 LarkSpool. (Times Run = 0)");
    EXPECT_TRUE((::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0);
    EXPECT_TRUE(Topmost(window)) << "activation makes the main window topmost";

    // The focus starts on Export Custom Names, the default command, which the dialog manager's
    // Enter clicks; Tab passes over the text box below the window.
    wchar_t focused[64] = L"";
    ::GetWindowTextW(::GetFocus(), focused, 64);
    EXPECT_NE(std::wstring(focused).find(L"Export Custom Names"), std::wstring::npos);
    const LRESULT defaultId = ::SendMessageW(window, DM_GETDEFID, 0, 0);
    EXPECT_EQ(HIWORD(defaultId), DC_HASDEFID);
    EXPECT_EQ(LOWORD(defaultId), ::GetDlgCtrlID(::GetFocus()));
    HWND edit = ::FindWindowExW(window, nullptr, L"EDIT", nullptr);
    EXPECT_EQ(::GetWindowLongPtrW(edit, GWL_STYLE) & WS_TABSTOP, 0);

    // Centred on the screen.
    RECT outer{};
    ::GetWindowRect(window, &outer);
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    EXPECT_LE(std::abs((outer.left + outer.right) - screenWidth), 1);
    EXPECT_LE(std::abs((outer.top + outer.bottom) - screenHeight), 1);
    runtime.Unload(form);
}

TEST_F(Forms, TextChangesReachTheWindowAfterEachEvent)
{
    Form1 form(os, runtime);
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    HWND check = ::FindWindowExW(window, nullptr, L"BUTTON", nullptr);
    form.Caption = L"changed";
    form[L"chkOpen"].value = 1;
    runtime.SyncAll();
    wchar_t title[64] = L"";
    ::GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"changed");
    EXPECT_EQ(::SendMessageW(check, BM_GETCHECK, 0, 0), BST_CHECKED);

    // A click of the user's reaches the form's data.
    ::SendMessageW(check, BM_CLICK, 0, 0);
    EXPECT_EQ(form[L"chkOpen"].value, 0);
    runtime.Unload(form);
}

TEST_F(Forms, TopmostHelperMovesBetweenTheBandsInPlace)
{
    Form1 form(os, runtime);
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    RECT before{};
    ::GetWindowRect(window, &before);
    ui::clsOnTop onTop(os);
    onTop.MakeNormal(form.hWnd());
    EXPECT_FALSE(Topmost(window));
    onTop.MakeTopMost(form.hWnd());
    onTop.MakeTopMost(form.hWnd());
    EXPECT_TRUE(Topmost(window));
    RECT after{};
    ::GetWindowRect(window, &after);
    EXPECT_TRUE(::EqualRect(&before, &after));
    EXPECT_NO_THROW(onTop.MakeTopMost(0));
    runtime.Unload(form);
}

TEST_F(Forms, AboutWindowIsTopmostWithItsOwnFrame)
{
    ui::frmAbout about(os, runtime);
    runtime.Show(about, 0);
    HWND window = AsHwnd(about.hWnd());
    wchar_t title[64] = L"";
    ::GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"About LarkSpool");
    RECT client{};
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, 312);
    EXPECT_EQ(client.bottom, 115);
    EXPECT_TRUE(Topmost(window));
    const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_TRUE((style & WS_MINIMIZEBOX) != 0 && (style & WS_MAXIMIZEBOX) != 0);

    // Resizing moves no control and leaves the window topmost.
    ::SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetWindowPos(window, nullptr, 0, 0, 500, 300, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_TRUE(Topmost(window));
    const RECT exit = runtime.ControlRect(about, L"cmdExit");
    EXPECT_EQ(exit.left, 136);
    EXPECT_EQ(exit.top, 96);
    runtime.Unload(about);
    EXPECT_FALSE(::IsWindow(window));
}

// The forms belong to Run's caller, who may free them as soon as it returns.
TEST_F(Forms, RunClosesItsWindowsBeforeReturning)
{
    Form1 form(os, runtime);
    ::PostQuitMessage(7);
    EXPECT_EQ(runtime.Run(form), 7);
    EXPECT_EQ(ThreadWindows(kFormClass), 0);
    EXPECT_EQ(runtime.WindowCount(), 0u);
}

TEST_F(Forms, EndOfSessionRunsTheUnloadPath)
{
    TestForm form(os, runtime, SmallLayout());
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    EXPECT_EQ(::SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    ::SendMessageW(window, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF); // another program refused
    EXPECT_EQ(form.unloads, 0);
    ::SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_EQ(form.unloads, 1);
    runtime.Unload(form);
}

TEST_F(Forms, UnloadedWindowsAreFreed)
{
    ui::frmAbout about(os, runtime);
    const DWORD gdiBefore = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < 200; ++i) {
        runtime.Show(about, 0);
        ::UpdateWindow(AsHwnd(about.hWnd()));
        runtime.Unload(about);
    }
    EXPECT_EQ(runtime.WindowCount(), 0u);
    // Windows counts a process's GDI objects; Wine answers 0.
    EXPECT_LE(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), gdiBefore + 5);

    // Unloaded by its own handler: freed once the handler has returned.
    runtime.Show(about, 0);
    HWND window = AsHwnd(about.hWnd());
    const RECT exit = runtime.ControlRect(about, L"cmdExit");
    const LPARAM at = MAKELPARAM(exit.left + 2, exit.top + 2);
    ::SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(window, WM_LBUTTONUP, 0, at);
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(runtime.WindowCount(), 0u);
}

// The picture is the last part of a window to be made: its failure leaves a whole window to undo.
TEST_F(Forms, AWindowThatCannotBeMadeLeavesNothingBehind)
{
    platform::Layout layout = SmallLayout();
    layout.controls.push_back(
        Control{.name = L"Image1", .kind = ControlKind::Picture, .left = 0, .top = 900, .width = 450, .height = 375});
    layout.controls.back().picture = 9999; // no such resource
    TestForm form(os, runtime, layout);
    EXPECT_THROW(runtime.Show(form, 0), platform::Failure);
    Win32Runtime::PumpMessages();
    EXPECT_EQ(ThreadWindows(kFormClass), 0);
    EXPECT_EQ(ThreadWindows(TOOLTIPS_CLASSW), 0);
    EXPECT_EQ(form.hWnd(), 0);
}

TEST_F(Forms, TheFocusComesBackToItsControl)
{
    Form1 form(os, runtime);
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    HWND edit = ::FindWindowExW(window, nullptr, L"EDIT", nullptr);
    ::SetFocus(edit);
    ASSERT_EQ(::GetFocus(), edit);
    const platform::win32::Window other(::CreateWindowExW(0, L"STATIC", L"another window", WS_OVERLAPPEDWINDOW, 0, 0,
                                                          200, 100, nullptr, nullptr, nullptr, nullptr));
    ::ShowWindow(other.get(), SW_SHOW);
    ::SetActiveWindow(other.get());
    Win32Runtime::PumpMessages();
    ASSERT_NE(::GetFocus(), edit);
    ::SetActiveWindow(window);
    Win32Runtime::PumpMessages();
    EXPECT_EQ(::GetFocus(), edit);
    runtime.Unload(form);
}

// Watches the controls of one window while it handles a message: each must hold a live font.
struct FontWatch {
    std::vector<HWND> controls;
    int looks = 0;
    int deadFonts = 0;
    bool looking = false;
} fontWatch;

LRESULT CALLBACK WatchFonts(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    const auto& controls = fontWatch.controls;
    if (code == HC_ACTION && !fontWatch.looking &&
        std::find(controls.begin(), controls.end(), call->hwnd) != controls.end()) {
        fontWatch.looking = true;
        auto* font = reinterpret_cast<HGDIOBJ>(::SendMessageW(call->hwnd, WM_GETFONT, 0, 0));
        ++fontWatch.looks;
        if (font != nullptr && ::GetObjectType(font) != OBJ_FONT) {
            ++fontWatch.deadFonts;
        }
        fontWatch.looking = false;
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

RECT Scaled(RECT rect, int percent)
{
    return {rect.left, rect.top, rect.left + (rect.right - rect.left) * percent / 100,
            rect.top + (rect.bottom - rect.top) * percent / 100};
}

TEST_F(Forms, ADpiChangeNeverLeavesAControlWithADeletedFont)
{
    Form1 form(os, runtime);
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    HWND check = ::FindWindowExW(window, nullptr, L"BUTTON", nullptr);
    fontWatch = FontWatch{{check, ::FindWindowExW(window, nullptr, L"EDIT", nullptr)}};
    RECT outer{};
    ::GetWindowRect(window, &outer);
    const RECT suggested = Scaled(outer, 150);
    {
        const platform::win32::Hook hook(
            ::SetWindowsHookExW(WH_CALLWNDPROC, &WatchFonts, nullptr, ::GetCurrentThreadId()));
        ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    }
    EXPECT_GT(fontWatch.looks, 0);
    EXPECT_EQ(fontWatch.deadFonts, 0);
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HGDIOBJ>(::SendMessageW(check, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(font.lfHeight, -16) << "8 points at 144 DPI";
    runtime.Unload(form);
}

TEST_F(Forms, IconsFollowTheWindowsDpi)
{
    Form1 form(os, runtime);
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    auto* bigIcon = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_BIG, 0));
    auto* smallIcon = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0));
    EXPECT_EQ(IconWidth(bigIcon), ::GetSystemMetricsForDpi(SM_CXICON, 96));
    EXPECT_EQ(IconWidth(smallIcon), ::GetSystemMetricsForDpi(SM_CXSMICON, 96));
    RECT outer{};
    ::GetWindowRect(window, &outer);
    const RECT suggested = Scaled(outer, 150);
    ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(IconWidth(reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_BIG, 0))),
              ::GetSystemMetricsForDpi(SM_CXICON, 144));
    EXPECT_EQ(IconWidth(reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0))),
              ::GetSystemMetricsForDpi(SM_CXSMICON, 144));
    EXPECT_EQ(IconWidth(bigIcon), 0) << "the icons of 96 DPI are destroyed";
    EXPECT_EQ(IconWidth(smallIcon), 0);
    runtime.Unload(form);
    EXPECT_EQ(ThreadWindows(kFormClass), 0);
}

// Enter and Esc reach the window through the dialog manager as IDOK and IDCANCEL with no control.
TEST_F(Forms, MessagesWithoutAControlWindowMatchNoControl)
{
    TestForm form(os, runtime, SmallLayout());
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    Win32Runtime::PumpMessages();
    EXPECT_EQ(form.clicks, 0);
    EXPECT_EQ(form[L"Check1"].value, 0);
    EXPECT_EQ(form.unloads, 0);
    EXPECT_TRUE(::IsWindow(window));

    const platform::win32::MemoryDc dc(::CreateCompatibleDC(nullptr));
    ::SetTextColor(dc.get(), RGB(7, 8, 9));
    ::SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.get()), 0);
    EXPECT_EQ(::GetTextColor(dc.get()), RGB(7, 8, 9)) << "no control's colours";
    runtime.Unload(form);
}

// A file dropped from Explorer: the form that handles drops accepts them, and its handler gets
// the file's whole path; Windows' memory for the drop is given back.
TEST_F(Forms, AFileDroppedReachesTheForm)
{
    class DropForm : public TestForm {
    public:
        DropForm(platform::Os& system, platform::Runtime& forms) : TestForm(system, forms, SmallLayout())
        {
            On(L"Form_DropFile", [this](platform::EventArgs& args) { dropped.push_back(args.path); });
        }
        std::vector<std::wstring> dropped;
    } form(os, runtime);
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    EXPECT_NE(::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);

    const std::wstring file = L"E:\\LarkSpool\\OLDPC\\Larkspool12\\Larkspool12.reg";
    HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + (file.size() + 2) * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::copy(file.begin(), file.end(), reinterpret_cast<wchar_t*>(drop + 1));
    ::GlobalUnlock(memory);
    ::SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
    EXPECT_EQ(form.dropped, std::vector<std::wstring>{file});
    runtime.Unload(form);
}

// The pixels of a text drawn as a word-wrapped, centred label of the given size draws it.
std::vector<std::uint32_t> Drawn(HFONT font, const std::wstring& text, SIZE size)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size.cx;
    info.bmiHeader.biHeight = -size.cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const platform::win32::MemoryDc dc(::CreateCompatibleDC(nullptr));
    const platform::win32::Bitmap bitmap(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    {
        const platform::win32::Selection selectBitmap(dc.get(), bitmap.get());
        const platform::win32::Selection selectFont(dc.get(), font);
        RECT rect{0, 0, size.cx, size.cy};
        ::FillRect(dc.get(), &rect, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        ::DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &rect,
                    DT_NOPREFIX | DT_CENTER | DT_WORDBREAK);
        ::GdiFlush();
    }
    const auto* pixels = static_cast<const std::uint32_t*>(bits);
    return {pixels, pixels + static_cast<std::size_t>(size.cx) * static_cast<std::size_t>(size.cy)};
}

// The layouts were made for the classic dialog font. Wine's Tahoma, its "MS Shell Dlg", is wider
// and pushes the About text's last words out of the label; its own "MS Sans Serif" (in the tests'
// prefix) does not.
TEST_F(Forms, TheAboutTextShowsItsLastWords)
{
    Form1 form(os, runtime);
    ui::frmAbout about(os, runtime);
    runtime.Show(form, 0);
    runtime.Show(about, 0);
    auto* font = reinterpret_cast<HFONT>(
        ::SendMessageW(::FindWindowExW(AsHwnd(form.hWnd()), nullptr, L"BUTTON", nullptr), WM_GETFONT, 0, 0));
    LOGFONTW logical{};
    ::GetObjectW(font, sizeof logical, &logical);
    EXPECT_STREQ(logical.lfFaceName, L"MS Sans Serif");

    const RECT label = runtime.ControlRect(about, L"Label1");
    const SIZE size{label.right - label.left, label.bottom - label.top};
    const std::wstring text = ui::frmAbout::AboutText();
    // The same letters wrap alike: the pictures differ only where the word is seen.
    std::wstring swapped = text;
    swapped.replace(text.find(L"go."), 3, L"og.");
    EXPECT_TRUE(Drawn(font, text, size) != Drawn(font, swapped, size)) << "\"go.\" lies outside the label";
    runtime.Unload(about);
    runtime.Unload(form);
}

} // namespace
