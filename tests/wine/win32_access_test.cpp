// The forms runtime for keyboard users, screen readers and high contrast under Wine. The MSAA
// objects are asked in this process: under Wine 8 other processes cannot reach them.
#include "app/Form1.h"
#include "platform/win32/forms_win32.h"
#include "platform/win32/handles.h"
#include "platform/win32/os_win32.h"
#include "ui/command_label.h"
#include "ui/frmAbout.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <oleacc.h>

#include <cwchar>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

using platform::Control;
using platform::ControlKind;
using platform::win32::Win32Runtime;

constexpr wchar_t kCommandClass[] = L"LarkSpoolCommand";

HWND AsHwnd(platform::WindowHandle handle)
{
    return reinterpret_cast<HWND>(handle);
}

// The child windows of a class, in tab order.
std::vector<HWND> Children(HWND window, const wchar_t* className)
{
    std::vector<HWND> found;
    for (HWND child = nullptr; (child = ::FindWindowExW(window, child, className, nullptr)) != nullptr;) {
        found.push_back(child);
    }
    return found;
}

// A test form: its command labels count their clicks.
class KeysForm : public platform::Form {
public:
    KeysForm(platform::Os& system, platform::Runtime& forms) : Form(system, forms, Layout())
    {
        for (const wchar_t* name : {L"cmdOne", L"cmdTwo"}) {
            On(std::wstring(name) + L"_Click", [this, name](platform::EventArgs&) { clicks.emplace_back(name); });
        }
    }
    static platform::Layout Layout()
    {
        platform::Layout layout;
        layout.name = L"KeysForm";
        layout.caption = L"Keys test";
        layout.clientWidth = 3000;
        layout.clientHeight = 3000;
        Control one{.name = L"cmdOne", .caption = L"One", .left = 120, .top = 120, .width = 900, .height = 255};
        one.command = true;
        one.border = true;
        one.centered = true;
        one.accessKey = L'O';
        one.tabIndex = 1;
        Control two = one;
        two.name = L"cmdTwo";
        two.caption = L"Two";
        two.left = 1200;
        two.accessKey = L'w';
        two.tabIndex = 2;
        Control list{.name = L"lstRows", .kind = ControlKind::ListView, .left = 120, .top = 600, .width = 2700};
        list.height = 1500;
        list.tabIndex = 3;
        list.multiSelect = true;
        list.columns = {{L"Backup", 900}, {L"State", 1500}};
        list.rows = {{L"9", L"same as now"}, {L"7", L"differs from now"}};
        Control bar{.name = L"prgWork", .kind = ControlKind::ProgressBar, .caption = L"Writing values", .left = 120};
        bar.top = 2280;
        bar.width = 2700;
        bar.height = 255;
        bar.maximum = 1203;
        bar.value = 501;
        layout.controls = {one, two, list, bar};
        return layout;
    }
    std::vector<std::wstring> clicks;
};

struct Access : ::testing::Test {
    platform::win32::Win32Os os;
    Win32Runtime runtime{::GetModuleHandleW(nullptr)};

    void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { ::CoUninitialize(); }
    static void SetUpTestSuite()
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\lsBundle");
    }
    static void TearDownTestSuite()
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\lsBundle");
    }
};

// What MSAA tells of one object: role, name, state, as a screen reader asks.
struct Told {
    LONG role = 0;
    std::wstring name;
    LONG state = 0;
};

Told Ask(IAccessible* object, LONG child = CHILDID_SELF)
{
    VARIANT id{};
    id.vt = VT_I4;
    id.lVal = child;
    Told told;
    VARIANT value{};
    if (SUCCEEDED(object->get_accRole(id, &value)) && value.vt == VT_I4) {
        told.role = value.lVal;
    }
    BSTR name = nullptr;
    if (object->get_accName(id, &name) == S_OK) {
        told.name = name;
        ::SysFreeString(name);
    }
    if (SUCCEEDED(object->get_accState(id, &value)) && value.vt == VT_I4) {
        told.state = value.lVal;
    }
    return told;
}

Told AskWindow(HWND window)
{
    IAccessible* object = nullptr;
    const HRESULT result = ::AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                                        reinterpret_cast<void**>(&object));
    if (FAILED(result) || object == nullptr) {
        return {};
    }
    Told told = Ask(object);
    object->Release();
    return told;
}

// Each control is announced with its role, its caption without the access key's "&", and its
// state.
TEST_F(Access, EveryControlTellsItsRoleNameAndState)
{
    Form1 form(os, runtime);
    KeysForm keys(os, runtime);
    runtime.Show(keys, 0);
    runtime.Show(form, 0);
    Win32Runtime::PumpMessages();
    HWND window = AsHwnd(form.hWnd());
    const std::vector<HWND> commands = Children(window, kCommandClass);
    ASSERT_EQ(commands.size(), 4u) << "three command labels and the picture";
    HWND check = ::FindWindowExW(window, nullptr, L"BUTTON", nullptr);
    ::SendMessageW(check, BM_SETCHECK, BST_CHECKED, 0);
    ::SetFocus(commands[2]);
    form[L"Label2"].caption = L"Export failed: reg.exe ended with code 1";
    form[L"Label2"].visible = true;
    runtime.SyncAll();

    struct Expected {
        HWND window;
        LONG role;
        const wchar_t* name;
        LONG state; // bits that must be set
    };
    const Expected expected[] = {
        {commands[0], ROLE_SYSTEM_LINK, L"Wrenlet web site", STATE_SYSTEM_LINKED},
        {commands[1], ROLE_SYSTEM_PUSHBUTTON, L"About", STATE_SYSTEM_FOCUSABLE},
        {commands[2], ROLE_SYSTEM_PUSHBUTTON, L"Export Custom Names", STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED},
        {commands[3], ROLE_SYSTEM_PUSHBUTTON, L"Exit", STATE_SYSTEM_FOCUSABLE},
        {check, ROLE_SYSTEM_CHECKBUTTON, L"Open Folder After Export", STATE_SYSTEM_CHECKED},
        {::FindWindowExW(window, nullptr, L"STATIC", nullptr), ROLE_SYSTEM_STATICTEXT,
         L"Export failed: reg.exe ended with code 1", 0},
        {::FindWindowExW(window, nullptr, L"EDIT", nullptr), ROLE_SYSTEM_TEXT, L"", STATE_SYSTEM_FOCUSABLE},
        {::FindWindowExW(AsHwnd(keys.hWnd()), nullptr, PROGRESS_CLASSW, nullptr), ROLE_SYSTEM_PROGRESSBAR,
         L"Writing values", STATE_SYSTEM_READONLY},
    };
    for (const Expected& e : expected) {
        const Told told = AskWindow(e.window);
        EXPECT_EQ(told.role, e.role) << std::string(e.name, e.name + std::wcslen(e.name));
        EXPECT_EQ(told.name, e.name);
        EXPECT_EQ(told.state & e.state, e.state) << std::hex << told.state;
        EXPECT_EQ(told.state & STATE_SYSTEM_INVISIBLE, 0) << std::hex << told.state;
    }
    EXPECT_EQ(AskWindow(commands[1]).state & STATE_SYSTEM_FOCUSED, 0);
    // A progress bar tells its share done.
    IAccessible* bar = nullptr;
    ASSERT_TRUE(SUCCEEDED(::AccessibleObjectFromWindow(expected[std::size(expected) - 1].window,
                                                       static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                                       reinterpret_cast<void**>(&bar))));
    VARIANT self{};
    self.vt = VT_I4;
    BSTR value = nullptr;
    EXPECT_EQ(bar->get_accValue(self, &value), S_OK);
    EXPECT_STREQ(value, L"41%");
    ::SysFreeString(value);
    bar->Release();
    runtime.Unload(form);
    runtime.Unload(keys);
}

// A list tells its rows: each row by its first column, the others in its description, and
// whether it is selected.
TEST_F(Access, AListTellsItsRowsAndColumns)
{
    KeysForm form(os, runtime);
    runtime.Show(form, 0);
    form[L"lstRows"].selected = {1};
    runtime.SyncAll();
    HWND list = ::FindWindowExW(AsHwnd(form.hWnd()), nullptr, WC_LISTVIEWW, nullptr);
    IAccessible* object = nullptr;
    ASSERT_TRUE(SUCCEEDED(::AccessibleObjectFromWindow(list, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                                       reinterpret_cast<void**>(&object))));
    EXPECT_EQ(Ask(object).role, ROLE_SYSTEM_LIST);
    LONG rows = 0;
    object->get_accChildCount(&rows);
    EXPECT_EQ(rows, 2);
    const Told first = Ask(object, 1);
    const Told second = Ask(object, 2);
    EXPECT_EQ(first.role, ROLE_SYSTEM_LISTITEM);
    EXPECT_EQ(first.name, L"9");
    EXPECT_EQ(second.name, L"7");
    EXPECT_EQ(first.state & STATE_SYSTEM_SELECTED, 0);
    EXPECT_NE(second.state & STATE_SYSTEM_SELECTED, 0);
    VARIANT id{};
    id.vt = VT_I4;
    id.lVal = 2;
    BSTR description = nullptr;
    ASSERT_EQ(object->get_accDescription(id, &description), S_OK);
    EXPECT_STREQ(description, L"State: differs from now");
    ::SysFreeString(description);
    object->Release();
    runtime.Unload(form);
}

// Tab follows the labels as they stand; Enter, Space and Alt with the access key click the label.
TEST_F(Access, TheKeyboardReachesAndClicksEveryCommandLabel)
{
    KeysForm form(os, runtime);
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    ::SetForegroundWindow(window);
    Win32Runtime::PumpMessages();
    const std::vector<HWND> commands = Children(window, kCommandClass);
    ASSERT_EQ(commands.size(), 2u);
    ASSERT_EQ(::GetFocus(), commands[0]) << "the first in tab order";
    ::PostMessageW(commands[0], WM_KEYDOWN, VK_TAB, 1);
    Win32Runtime::PumpMessages();
    ASSERT_EQ(::GetFocus(), commands[1]);
    ::PostMessageW(commands[1], WM_KEYDOWN, VK_RETURN, 1);
    ::PostMessageW(commands[1], WM_KEYUP, VK_RETURN, 0xC0000001);
    Win32Runtime::PumpMessages();
    ::PostMessageW(commands[1], WM_KEYDOWN, VK_SPACE, 1);
    ::PostMessageW(commands[1], WM_KEYUP, VK_SPACE, 0xC0000001);
    Win32Runtime::PumpMessages();
    ::PostMessageW(commands[1], WM_SYSCHAR, L'o', 0x20000001);
    Win32Runtime::PumpMessages();
    EXPECT_EQ(form.clicks, (std::vector<std::wstring>{L"cmdTwo", L"cmdTwo", L"cmdOne"}));
    runtime.Unload(form);
}

TEST_F(Access, EscClosesTheAboutWindow)
{
    ui::frmAbout about(os, runtime);
    runtime.Show(about, 0);
    HWND window = AsHwnd(about.hWnd());
    ::SetForegroundWindow(window);
    Win32Runtime::PumpMessages();
    ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1);
    Win32Runtime::PumpMessages();
    EXPECT_FALSE(::IsWindow(window));
}

// The colour of a client pixel as the window shows it.
COLORREF PixelAt(HWND window, int x, int y)
{
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    const platform::win32::WindowDc dc(window);
    return ::GetPixel(dc.get(), x, y);
}

// How many pixels of a client rectangle show the colour.
int Count(HWND window, RECT rect, COLORREF color)
{
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    const platform::win32::WindowDc dc(window);
    int count = 0;
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        for (LONG x = rect.left; x < rect.right; ++x) {
            count += ::GetPixel(dc.get(), x, y) == color ? 1 : 0;
        }
    }
    return count;
}

// The focus rectangle shows only once the keyboard was used: with the mouse alone the label
// looks as it always did.
TEST_F(Access, TheFocusRectangleShowsOnlyAfterTheKeyboardWasUsed)
{
    KeysForm form(os, runtime);
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    ::SetForegroundWindow(window);
    Win32Runtime::PumpMessages();
    const RECT one = runtime.ControlRect(form, L"cmdOne");
    // Inside the border, where the focus rectangle runs: the label's white without it.
    const RECT edge{one.left + 1, one.top + 1, one.right - 1, one.top + 2};
    ASSERT_EQ(::GetFocus(), Children(window, kCommandClass)[0]);
    EXPECT_EQ(Count(window, edge, RGB(255, 255, 255)), edge.right - edge.left) << "no focus rectangle yet";
    ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_TAB, 1);
    ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_TAB, 1);
    Win32Runtime::PumpMessages();
    ::SetFocus(Children(window, kCommandClass)[0]);
    Win32Runtime::PumpMessages();
    EXPECT_GT(Count(window, edge, RGB(0, 0, 0)), (edge.right - edge.left) / 3) << "the focus rectangle's dots";
    runtime.Unload(form);
}

// In high contrast the windows take the system's colours, at the start and when it is turned on
// or off while they show; the picture stays.
TEST_F(Access, HighContrastTakesTheSystemsColours)
{
    const int elements[] = {COLOR_WINDOW,  COLOR_WINDOWTEXT, COLOR_BTNFACE,
                            COLOR_BTNTEXT, COLOR_HIGHLIGHT,  COLOR_HIGHLIGHTTEXT};
    COLORREF saved[std::size(elements)];
    for (std::size_t i = 0; i < std::size(elements); ++i) {
        saved[i] = ::GetSysColor(elements[i]);
    }
    // A scheme of the high-contrast kind, unlike any colour of the layouts.
    const COLORREF scheme[] = {RGB(0, 0, 0),   RGB(255, 255, 0), RGB(0, 0, 64),
                               RGB(0, 255, 0), RGB(0, 128, 255), RGB(64, 0, 0)};
    ASSERT_TRUE(::SetSysColors(static_cast<int>(std::size(elements)), elements, scheme));
    // Turned on as the user would; where the system cannot (Wine 8), the test answers for it and
    // sends what the system would send.
    bool on = true;
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    contrast.dwFlags = HCF_HIGHCONTRASTON;
    if (!::SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof contrast, &contrast, SPIF_SENDCHANGE)) {
        runtime.highContrast = [&on] { return on; };
    }

    Form1 form(os, runtime);
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    Win32Runtime::PumpMessages();
    const RECT exit = runtime.ControlRect(form, L"cmdExit");
    const RECT inside{exit.left + 2, exit.top + 2, exit.right - 2, exit.bottom - 2};
    const RECT picture = runtime.ControlRect(form, L"Image1");
    EXPECT_EQ(PixelAt(window, 60, 100), scheme[0]) << "the window's ground";
    EXPECT_EQ(PixelAt(window, exit.left, exit.top), scheme[1]) << "the label's border";
    EXPECT_GT(Count(window, inside, scheme[2]), 100) << "the label's ground";
    EXPECT_GT(Count(window, inside, scheme[3]), 5) << "the label's text";
    EXPECT_EQ(Count(window, picture, scheme[0]), 0) << "the picture stays";
    ui::Highlight(form[L"cmdExit"]);
    runtime.SyncAll();
    EXPECT_GT(Count(window, inside, scheme[4]), 100) << "the label under the mouse";
    EXPECT_GT(Count(window, inside, scheme[5]), 5);

    on = false;
    contrast.dwFlags = 0;
    ::SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof contrast, &contrast, SPIF_SENDCHANGE);
    ::SendMessageW(window, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    ::SetSysColors(static_cast<int>(std::size(elements)), elements, saved);
    Win32Runtime::PumpMessages();
    EXPECT_EQ(PixelAt(window, 60, 100), RGB(255, 255, 255)) << "white again";
    EXPECT_GT(Count(window, inside, RGB(98, 145, 202)), 100) << "the layout's hover colour again";
    runtime.Unload(form);
}

// The size label's news reaches assistive technology: its name changed, in a live region.
TEST_F(Access, AnAnnouncementReachesAssistiveTechnology)
{
    static std::vector<std::pair<DWORD, HWND>> events;
    events.clear();
    Form1 form(os, runtime);
    runtime.Show(form, 0);
    const platform::win32::UniqueHandle<platform::win32::NullHandleTraits<HWINEVENTHOOK, ::UnhookWinEvent>> hook(
        ::SetWinEventHook(
            EVENT_OBJECT_NAMECHANGE, 0x8019, nullptr,
            [](HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG, DWORD, DWORD) {
                if (object == OBJID_CLIENT && (event == EVENT_OBJECT_NAMECHANGE || event == 0x8019)) {
                    events.emplace_back(event, window);
                }
            },
            ::GetCurrentProcessId(), ::GetCurrentThreadId(), WINEVENT_OUTOFCONTEXT));
    ASSERT_TRUE(hook);
    Win32Runtime::PumpMessages();
    events.clear();
    form[L"Label2"].caption = L"Backup unreadable: line 3: unterminated string";
    form[L"Label2"].visible = true;
    form.Announce(L"Label2");
    Win32Runtime::PumpMessages();
    HWND label = ::FindWindowExW(AsHwnd(form.hWnd()), nullptr, L"STATIC", nullptr);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], std::make_pair(DWORD{EVENT_OBJECT_NAMECHANGE}, label));
    EXPECT_EQ(events[1], std::make_pair(DWORD{0x8019}, label));
    EXPECT_EQ(AskWindow(label).name, L"Backup unreadable: line 3: unterminated string") << "the new text";
    runtime.Unload(form);
}

} // namespace
