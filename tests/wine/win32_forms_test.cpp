// The forms runtime under Wine: real windows laid out from twips, topmost placement.
#include "app/Form1.h"
#include "platform/win32/forms_win32.h"
#include "platform/win32/os_win32.h"
#include "ui/clsOnTop.h"
#include "ui/frmAbout.h"

#include <gtest/gtest.h>

namespace {

using platform::win32::Win32Runtime;

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

    // The focus starts in the text box, the control with the lowest tab index.
    HWND edit = ::FindWindowExW(window, nullptr, L"EDIT", nullptr);
    EXPECT_EQ(::GetFocus(), edit);

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

} // namespace
