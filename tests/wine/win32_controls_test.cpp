// The forms runtime's list view, read-only text box, the clipboard, anchored controls and the window's keys
// under Wine.
#include "app/Form1.h"
#include "platform/win32/forms_win32.h"
#include "platform/win32/handles.h"
#include "platform/win32/os_win32.h"
#include "platform/win32/taskbar.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace {

using platform::Control;
using platform::ControlKind;
using platform::win32::Win32Runtime;

HWND AsHwnd(platform::WindowHandle handle)
{
    return reinterpret_cast<HWND>(handle);
}

RECT ChildRect(HWND parent, HWND child)
{
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string Show(const RECT& rect)
{
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + "," + std::to_string(rect.right) + "," +
           std::to_string(rect.bottom);
}

std::wstring Cell(int row, int column)
{
    return L"r" + std::to_wstring(row) + L"c" + std::to_wstring(column);
}

std::vector<std::wstring> Row(int row)
{
    return {Cell(row, 0), Cell(row, 1), Cell(row, 2)};
}

// At 96 DPI a pixel is 15 twips: the client area is 400 x 300 pixels.
platform::Layout BackupsLayout(bool multiSelect = true)
{
    platform::Layout layout;
    layout.name = L"TestBackups";
    layout.caption = L"Backups test";
    layout.clientWidth = 6000;
    layout.clientHeight = 4500;
    Control list{.name = L"List1", .kind = ControlKind::ListView, .left = 120, .top = 120, .width = 4500};
    list.height = 2400;
    list.tabIndex = 0;
    list.anchor = platform::kAnchorWidth | platform::kAnchorHeight;
    list.columns = {{L"Name", 1500}, {L"Size", 900}, {L"Date", 1200}};
    list.multiSelect = multiSelect;
    Control text{.name = L"Text1", .kind = ControlKind::TextBox, .left = 120, .top = 2640, .width = 4500};
    text.height = 1200;
    text.tabIndex = 1;
    text.readOnly = true;
    text.anchor = platform::kAnchorWidth | platform::kAnchorBottom;
    Control check{.name = L"Check1", .kind = ControlKind::CheckBox, .caption = L"Check", .left = 4800, .top = 120};
    check.width = 1050;
    check.height = 255;
    check.tabIndex = 2;
    Control refresh{.name = L"lblRefresh", .caption = L"Refresh", .left = 120, .top = 4080, .width = 1050};
    refresh.height = 255;
    refresh.anchor = platform::kAnchorBottom;
    refresh.toolTip = L"Reads the list again";
    Control tall{.name = L"lblTall", .caption = L"Tall", .left = 4800, .top = 600, .width = 900, .height = 1500};
    tall.anchor = platform::kAnchorHeight;
    Control timer{.name = L"Timer1", .kind = ControlKind::Timer};
    Control progress{.name = L"Progress1", .kind = ControlKind::ProgressBar, .left = 4800, .top = 4080};
    progress.width = 1050;
    progress.height = 255;
    progress.visible = false;
    progress.taskbar = true;
    progress.anchor = platform::kAnchorRight | platform::kAnchorBottom;
    layout.controls = {list, text, check, refresh, tall, timer, progress};
    return layout;
}

// Records the events it gets; its timer runs what a test gives it.
class BackupsForm : public platform::Form {
public:
    BackupsForm(platform::Os& system, platform::Runtime& forms, platform::Layout layout)
        : Form(system, forms, std::move(layout))
    {
        On(L"Form_KeyDown", [this](platform::EventArgs& args) {
            keys.push_back(args.keyCode);
            if (onKey) {
                onKey(args.keyCode);
            }
        });
        On(L"List1_DblClick", [this](platform::EventArgs&) { events.emplace_back(L"List1_DblClick"); });
        On(L"List1_ColumnClick", [this](const platform::EventArgs& args) {
            events.push_back(L"List1_ColumnClick " + std::to_wstring(args.column));
            Control& list = (*this)[L"List1"];
            list.sortDescending = list.sortColumn == args.column && !list.sortDescending;
            list.sortColumn = args.column;
        });
        On(L"List1_KeyDown", [this](const platform::EventArgs& args) {
            events.push_back(L"List1_KeyDown " + std::to_wstring(args.keyCode) + L" " + std::to_wstring(args.shift));
        });
        On(L"lblRefresh_Click", [this](platform::EventArgs&) { events.emplace_back(L"lblRefresh_Click"); });
        On(L"Form_Load", [this](platform::EventArgs&) {
            if (onLoad) {
                onLoad();
            }
        });
        On(L"Timer1_Timer", [this](platform::EventArgs&) {
            if (onTick) {
                onTick();
            }
        });
    }
    std::vector<int> keys;
    std::vector<std::wstring> events;
    std::function<void()> onLoad;
    std::function<void()> onTick;
    std::function<void(int)> onKey;
};

struct Controls : ::testing::Test {
    platform::win32::Win32Os os;
    Win32Runtime runtime{::GetModuleHandleW(nullptr)};
};

HWND ListOf(HWND window)
{
    return ::FindWindowExW(window, nullptr, WC_LISTVIEWW, nullptr);
}

std::wstring ItemText(HWND list, int row, int column)
{
    wchar_t text[64] = L"";
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 64;
    ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

std::vector<std::size_t> WindowSelection(HWND list)
{
    std::vector<std::size_t> selected;
    for (LRESULT item = -1;
         (item = ::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(item), LVNI_SELECTED)) >= 0;) {
        selected.push_back(static_cast<std::size_t>(item));
    }
    return selected;
}

// Counts the messages sent to one window while it lives.
struct MessageCount {
    HWND window = nullptr;
    std::map<UINT, int> count;
    std::vector<std::pair<WPARAM, LPARAM>> redrawn; // LVM_REDRAWITEMS's ranges in order
} counted;

LRESULT CALLBACK CountMessages(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->hwnd == counted.window) {
        ++counted.count[call->message];
        if (call->message == LVM_REDRAWITEMS) {
            counted.redrawn.emplace_back(call->wParam, call->lParam);
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// Counts the messages a window gets while the object lives.
class Watch {
public:
    explicit Watch(HWND window)
        : hook_(::SetWindowsHookExW(WH_CALLWNDPROC, &CountMessages, nullptr, ::GetCurrentThreadId()))
    {
        counted = MessageCount{window, {}, {}};
    }
    int operator[](UINT message) const { return counted.count[message]; }
    const std::vector<std::pair<WPARAM, LPARAM>>& redrawn() const { return counted.redrawn; }

private:
    platform::win32::Hook hook_;
};

// How many letters of the text the control's font draws as the missing-glyph box.
int MissingGlyphs(HWND control, const std::wstring& text)
{
    const platform::win32::WindowDc dc(control);
    const platform::win32::Selection font(dc.get(),
                                          reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
    std::vector<WORD> glyphs(text.size());
    ::GetGlyphIndicesW(dc.get(), text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                       GGI_MARK_NONEXISTING_GLYPHS);
    return static_cast<int>(std::count(glyphs.begin(), glyphs.end(), WORD{0xFFFF}));
}

// Names in the scripts of a contact list, as the list and the comparison show them.
void ExpectNamesDrawn(HWND control)
{
    for (const wchar_t* name : {L"Éléonore Müller", L"Αλέξανδρος Παπαδόπουλος", L"Дмитрий Шостакович"}) {
        EXPECT_EQ(MissingGlyphs(control, name), 0) << name;
    }
}

TEST_F(Controls, TheListViewIsAReportWithTheLayoutsColumns)
{
    for (const bool multiSelect : {true, false}) {
        BackupsForm form(os, runtime, BackupsLayout(multiSelect));
        runtime.Show(form, 0);
        HWND window = AsHwnd(form.hWnd());
        HWND list = ListOf(window);
        ASSERT_NE(list, nullptr);
        const LONG_PTR style = ::GetWindowLongPtrW(list, GWL_STYLE);
        EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
        EXPECT_NE(style & LVS_SHOWSELALWAYS, 0);
        EXPECT_NE(style & WS_TABSTOP, 0);
        EXPECT_EQ((style & LVS_SINGLESEL) != 0, !multiSelect);
        EXPECT_NE(::SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT, 0);
        auto* header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
        EXPECT_EQ(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 3);
        const int widths[] = {100, 60, 80};
        for (int column = 0; column < 3; ++column) {
            EXPECT_EQ(::SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0), widths[column]);
        }
        wchar_t heading[16] = L"";
        LVCOLUMNW info{};
        info.mask = LVCF_TEXT;
        info.pszText = heading;
        info.cchTextMax = 16;
        ::SendMessageW(list, LVM_GETCOLUMNW, 1, reinterpret_cast<LPARAM>(&info));
        EXPECT_STREQ(heading, L"Size");
        ExpectNamesDrawn(list);
        runtime.Unload(form);
    }
}

// The list keeps no texts: it learns its row count, and which rows to draw anew, and asks for
// the texts it draws.
TEST_F(Controls, TheListViewAsksForTheTextsItDraws)
{
    BackupsForm form(os, runtime, BackupsLayout());
    runtime.Show(form, 0);
    HWND list = ListOf(AsHwnd(form.hWnd()));
    EXPECT_NE(::GetWindowLongPtrW(list, GWL_STYLE) & LVS_OWNERDATA, 0);
    auto& rows = form[L"List1"].rows;
    for (int row = 0; row < 1000; ++row) {
        rows.push_back(Row(row));
        if (row % 100 == 99) {
            const Watch watch(list);
            runtime.SyncAll();
            EXPECT_EQ(watch[LVM_SETITEMCOUNT], 1) << "after row " << row;
            EXPECT_EQ(watch[LVM_INSERTITEMW] + watch[LVM_SETITEMTEXTW], 0);
            EXPECT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), row + 1);
        }
    }
    EXPECT_EQ(ItemText(list, 0, 0), Cell(0, 0));
    EXPECT_EQ(ItemText(list, 999, 2), Cell(999, 2));
    EXPECT_EQ(ItemText(list, 1000, 0), L"") << "no row there";

    struct Change {
        int row, column;
        const wchar_t* text;
    };
    struct Step {
        std::vector<Change> changes;
        std::vector<std::pair<WPARAM, LPARAM>> redrawn;
    };
    const Step steps[] = {
        {{{500, 1, L"middle"}}, {{500, 500}}},
        {{{0, 0, L"first"}, {999, 2, L"last"}}, {{0, 999}}},
        {{{510, 2, L"one"}, {520, 0, L"two"}}, {{510, 520}}},
        {{}, {}}, // an event with no change to the list leaves it alone
    };
    for (const Step& step : steps) {
        for (const Change& change : step.changes) {
            rows[static_cast<std::size_t>(change.row)][static_cast<std::size_t>(change.column)] = change.text;
        }
        const Watch watch(list);
        runtime.SyncAll();
        EXPECT_EQ(watch.redrawn(), step.redrawn);
        EXPECT_EQ(watch[LVM_SETITEMCOUNT], 0);
        for (const Change& change : step.changes) {
            EXPECT_EQ(ItemText(list, change.row, change.column), change.text);
            const int other = (change.column + 1) % 3;
            EXPECT_EQ(ItemText(list, change.row, other), Cell(change.row, other));
        }
    }

    // Rows go from the end; a row with fewer texts than columns shows empty cells; a text longer
    // than the asker's buffer is cut to it.
    rows.resize(990);
    rows[5] = {L"short"};
    rows[6][1] = std::wstring(100, L'x');
    runtime.SyncAll();
    EXPECT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 990);
    EXPECT_EQ(ItemText(list, 5, 0), L"short");
    EXPECT_EQ(ItemText(list, 5, 1), L"");
    EXPECT_EQ(ItemText(list, 6, 1), std::wstring(62, L'x') + L"\u2026");
    EXPECT_EQ(ItemText(list, 989, 0), Cell(989, 0));
    rows.clear();
    runtime.SyncAll();
    EXPECT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);

    // A list whose form counts its changes: only a new count reaches the window, which reads the
    // form's rows themselves.
    form[L"List1"].rowsVersion = 1;
    rows = {Row(0), Row(1), Row(2)};
    for (const bool newCount : {true, false}) {
        const Watch watch(list);
        runtime.SyncAll();
        EXPECT_EQ(watch[LVM_SETITEMCOUNT], newCount ? 1 : 0);
        EXPECT_EQ(watch.redrawn().size(), 0u);
    }
    rows[1][1] = L"read from the form";
    EXPECT_EQ(ItemText(list, 1, 1), L"read from the form");
    EXPECT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 3);
    runtime.Unload(form);
}

// Typing the start of a row's first text goes to that row, as in a list that holds its texts.
TEST_F(Controls, TypingGoesToTheRowThatStartsSo)
{
    BackupsForm form(os, runtime, BackupsLayout(false));
    runtime.Show(form, 0);
    HWND list = ListOf(AsHwnd(form.hWnd()));
    form[L"List1"].rows = {{L"Apple"}, {L"banana"}, {L"Berry"}, {L"cherry"}, {}};
    runtime.SyncAll();
    ::SetFocus(list);
    struct Case {
        wchar_t typed;
        std::vector<std::size_t> selected;
    };
    const Case cases[] = {
        {L'c', {3}}, // the row that starts so
        {L'z', {3}}, // no row starts so: the selection stays
        {L'a', {0}}, // round past the end
        {L'B', {1}}, // in any letter case
        {L'b', {2}}, // the same letter again: the next row that starts so
    };
    for (const Case& test : cases) {
        // A letter of its own: the list joins the letters typed within 450 ms.
        ::Sleep(500);
        ::SendMessageW(list, WM_CHAR, test.typed, 1);
        EXPECT_EQ(WindowSelection(list), test.selected) << static_cast<char>(test.typed);
        EXPECT_EQ(form[L"List1"].selected, test.selected) << static_cast<char>(test.typed);
    }
    runtime.Unload(form);
}

TEST_F(Controls, TheSelectionGoesBothWays)
{
    BackupsForm form(os, runtime, BackupsLayout());
    form.onLoad = [&form] {
        for (int row = 0; row < 1000; ++row) {
            form[L"List1"].rows.push_back(Row(row));
        }
    };
    runtime.Show(form, 0);
    HWND list = ListOf(AsHwnd(form.hWnd()));
    Control& data = form[L"List1"];

    // From the data to the window.
    const std::vector<std::vector<std::size_t>> selections = {{3, 7, 500}, {7}, {}, {0, 999}};
    for (const auto& selection : selections) {
        data.selected = selection;
        runtime.SyncAll();
        EXPECT_EQ(WindowSelection(list), selection);
    }
    // Rows past the end select nothing and leave the data.
    data.selected = {5, 2000};
    runtime.SyncAll();
    EXPECT_EQ(WindowSelection(list), std::vector<std::size_t>{5});
    EXPECT_EQ(data.selected, std::vector<std::size_t>{5});

    // From the user to the data, without an event.
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED;
    state.state = LVIS_SELECTED;
    ::SendMessageW(list, LVM_SETITEMSTATE, 10, reinterpret_cast<LPARAM>(&state));
    ::SendMessageW(list, LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&state));
    EXPECT_EQ(data.selected, (std::vector<std::size_t>{2, 5, 10}));
    state.state = 0;
    ::SendMessageW(list, LVM_SETITEMSTATE, 5, reinterpret_cast<LPARAM>(&state));
    EXPECT_EQ(data.selected, (std::vector<std::size_t>{2, 10}));
    runtime.SyncAll();
    EXPECT_EQ(WindowSelection(list), (std::vector<std::size_t>{2, 10})) << "the next event keeps it";
    ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
    EXPECT_TRUE(data.selected.empty());
    // Shift and a key select a range at once.
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(list, LVM_SETITEMSTATE, 20, reinterpret_cast<LPARAM>(&state));
    ::SendMessageW(list, LVM_SETSELECTIONMARK, 0, 20);
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    ::SetKeyboardState(keys);
    ::SendMessageW(list, WM_KEYDOWN, VK_DOWN, 1);
    ::SendMessageW(list, WM_KEYDOWN, VK_DOWN, 1);
    keys[VK_SHIFT] = 0;
    ::SetKeyboardState(keys);
    EXPECT_EQ(WindowSelection(list), (std::vector<std::size_t>{20, 21, 22}));
    EXPECT_EQ(data.selected, (std::vector<std::size_t>{20, 21, 22}));
    EXPECT_TRUE(form.events.empty());
    data.selected.clear();
    runtime.SyncAll();

    // Rows removed take their selection with them.
    data.selected = {1, 998};
    runtime.SyncAll();
    data.rows.resize(500);
    runtime.SyncAll();
    EXPECT_EQ(data.selected, std::vector<std::size_t>{1});
    EXPECT_EQ(WindowSelection(list), std::vector<std::size_t>{1});
    runtime.Unload(form);
}

TEST_F(Controls, ADoubleClickOnARowFiresDblClick)
{
    BackupsForm form(os, runtime, BackupsLayout());
    form.onLoad = [&form] { form[L"List1"].rows = {Row(0), Row(1)}; };
    runtime.Show(form, 0);
    HWND list = ListOf(AsHwnd(form.hWnd()));
    RECT row{};
    row.left = LVIR_BOUNDS;
    ASSERT_TRUE(::SendMessageW(list, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row)));
    const LPARAM onRow = MAKELPARAM(row.left + 5, (row.top + row.bottom) / 2);
    ::SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, onRow);
    ::SendMessageW(list, WM_LBUTTONUP, 0, onRow);
    Win32Runtime::PumpMessages();
    EXPECT_EQ(form[L"List1"].selected, std::vector<std::size_t>{1}) << "a click selects";
    ::SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, onRow);
    ::SendMessageW(list, WM_LBUTTONUP, 0, onRow);
    Win32Runtime::PumpMessages();
    EXPECT_EQ(form.events, std::vector<std::wstring>{L"List1_DblClick"});

    // Below the rows: no row, no event.
    const LPARAM below = MAKELPARAM(row.left + 5, row.bottom + 3 * (row.bottom - row.top));
    ::SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, below);
    ::SendMessageW(list, WM_LBUTTONUP, 0, below);
    Win32Runtime::PumpMessages();
    EXPECT_EQ(form.events.size(), 1u);
    runtime.Unload(form);
}

std::wstring WindowText(HWND window)
{
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

HWND TextBoxOf(HWND window)
{
    return ::FindWindowExW(window, nullptr, L"EDIT", nullptr);
}

std::wstring ClipboardText()
{
    std::wstring text;
    if (!::OpenClipboard(nullptr)) {
        return L"(clipboard not open)";
    }
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT); data != nullptr) {
        if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data)); chars != nullptr) {
            text = chars;
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return text;
}

void ClearClipboard()
{
    if (::OpenClipboard(nullptr)) {
        ::EmptyClipboard();
        ::CloseClipboard();
    }
}

// Real key presses, through the system's input: the keys go down in order and up in reverse.
void Press(std::initializer_list<WORD> keys)
{
    std::vector<INPUT> inputs;
    for (const WORD key : keys) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        inputs.push_back(input);
    }
    for (auto key = keys.end(); key != keys.begin();) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = *--key;
        input.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    for (int i = 0; i < 5; ++i) {
        ::Sleep(10);
        Win32Runtime::PumpMessages();
    }
}

// Brings the window to the front with the focus in the given child, so that real keys reach it.
void FocusFor(HWND window, HWND child)
{
    ::SetForegroundWindow(window);
    Win32Runtime::PumpMessages();
    ::SetFocus(child);
    Win32Runtime::PumpMessages();
}

// A read-only text box is the system's edit control: it wraps, scrolls and takes text set or
// appended, and draws names of any script.
TEST_F(Controls, AReadOnlyTextBoxIsASystemEdit)
{
    BackupsForm form(os, runtime, BackupsLayout());
    runtime.Show(form, 0);
    HWND edit = TextBoxOf(AsHwnd(form.hWnd()));
    ASSERT_NE(edit, nullptr);
    const LONG_PTR style = ::GetWindowLongPtrW(edit, GWL_STYLE);
    EXPECT_NE(style & ES_READONLY, 0);
    EXPECT_NE(style & WS_VSCROLL, 0);
    EXPECT_EQ(style & (WS_HSCROLL | ES_AUTOHSCROLL), 0) << "long lines wrap";
    EXPECT_NE(style & WS_TABSTOP, 0);
    ExpectNamesDrawn(edit);
    struct Step {
        std::wstring text;
        int setTexts;
    };
    const Step steps[] = {{L"first step", 0}, {L"first step\r\nsecond", 0}, {L"another text", 1}, {L"", 1}};
    for (const Step& step : steps) {
        form[L"Text1"].caption = step.text;
        const Watch watch(edit);
        runtime.SyncAll();
        EXPECT_EQ(watch[WM_SETTEXT], step.setTexts) << "appended, not set anew";
        EXPECT_EQ(WindowText(edit), step.text);
    }
    runtime.Unload(form);
}

// The text box paints with its control's colours, in the form's font.
TEST_F(Controls, AReadOnlyTextBoxShowsItsColours)
{
    BackupsForm form(os, runtime, BackupsLayout());
    form.onLoad = [&form] {
        form[L"Text1"].backColor = 0x00FFFF; // yellow
        form[L"Text1"].foreColor = 0xFF0000; // blue
        form[L"Text1"].caption = L"\x2588\x2588\x2588\x2588\x2588\x2588\r\nsecond";
    };
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    HWND view = TextBoxOf(window);
    ::SetForegroundWindow(window);
    ::RedrawWindow(view, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Win32Runtime::PumpMessages();
    RECT client{};
    ::GetClientRect(view, &client);
    const platform::win32::WindowDc dc(view);
    EXPECT_EQ(::GetPixel(dc.get(), client.right - 3, client.bottom - 3), 0x00FFFFu) << "backColor";
    int blue = 0;
    for (int x = 0; x < 30; ++x) {
        blue += ::GetPixel(dc.get(), x, 6) == 0xFF0000u ? 1 : 0;
    }
    EXPECT_GT(blue, 10) << "foreColor";
    runtime.Unload(form);
}

// A click on a heading fires ColumnClick with its column, and the heading shows the form's sort
// arrow; Ctrl+A and Ctrl+C in the list go to its KeyDown; the clipboard takes a text and gives it
// back whole.
TEST_F(Controls, HeadingsCtrlKeysAndTheClipboard)
{
    BackupsForm form(os, runtime, BackupsLayout());
    form.onLoad = [&form] { form[L"List1"].rows = {Row(0), Row(1)}; };
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    HWND list = ListOf(window);
    auto* header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    const auto arrows = [header] {
        std::vector<int> fmt;
        for (int column = 0; column < 3; ++column) {
            HDITEMW item{};
            item.mask = HDI_FORMAT;
            ::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
            fmt.push_back(item.fmt & (HDF_SORTUP | HDF_SORTDOWN));
        }
        return fmt;
    };
    EXPECT_EQ(arrows(), (std::vector<int>{0, 0, 0}));
    const auto click = [header](int column) {
        RECT rect{};
        ::SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&rect));
        const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        ::SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::SendMessageW(header, WM_LBUTTONUP, 0, at);
        Win32Runtime::PumpMessages();
    };
    click(1);
    EXPECT_EQ(arrows(), (std::vector<int>{0, HDF_SORTUP, 0}));
    click(1);
    EXPECT_EQ(arrows(), (std::vector<int>{0, HDF_SORTDOWN, 0}));
    click(2);
    EXPECT_EQ(arrows(), (std::vector<int>{0, 0, HDF_SORTUP}));
    EXPECT_EQ(form.events,
              (std::vector<std::wstring>{L"List1_ColumnClick 1", L"List1_ColumnClick 1", L"List1_ColumnClick 2"}));

    form.events.clear();
    FocusFor(window, list);
    ASSERT_EQ(::GetFocus(), list);
    Press({VK_CONTROL, 'A'});
    Press({VK_CONTROL, 'C'});
    Press({'C'}); // a letter alone goes to the row that starts so
    EXPECT_EQ(form.events, (std::vector<std::wstring>{L"List1_KeyDown 65 2", L"List1_KeyDown 67 2"}));

    const std::wstring text = L"Change\tKey\r\n\"a \"\"b\"\"\"\t\u0410\u2026\r\n";
    ClearClipboard();
    os.SetClipboardText(form.hWnd(), text);
    EXPECT_EQ(ClipboardText(), text);
    runtime.Unload(form);
}

// The keys that move through a list select the row they lead to, and take little time in
// 100 000 rows, whose form counts its changes.
TEST_F(Controls, KeysMoveThroughManyRowsQuickly)
{
    BackupsForm form(os, runtime, BackupsLayout());
    form.onLoad = [&form] {
        Control& list = form[L"List1"];
        list.rowsVersion = 1;
        for (int row = 0; row < 100000; ++row) {
            list.rows.push_back(Row(row));
        }
    };
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    HWND list = ListOf(window);
    FocusFor(window, list);
    form[L"List1"].selected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    runtime.SyncAll();
    const int page = static_cast<int>(::SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
    ASSERT_GT(page, 1);
    struct Move {
        WPARAM key;
        std::size_t row;
    };
    const Move moves[] = {
        {VK_DOWN, 1}, // from the first selected row, which has the focus
        {VK_NEXT, static_cast<std::size_t>(page) - 1},
        {VK_NEXT, 2 * static_cast<std::size_t>(page) - 2},
        {VK_END, 99999},
        {VK_UP, 99998},
        {VK_PRIOR, 100000 - static_cast<std::size_t>(page)},
        {VK_HOME, 0},
    };
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    for (const Move& move : moves) {
        LARGE_INTEGER start{};
        LARGE_INTEGER end{};
        ::QueryPerformanceCounter(&start);
        ::SendMessageW(list, WM_KEYDOWN, move.key, 1);
        ::UpdateWindow(list);
        ::QueryPerformanceCounter(&end);
        const double took =
            static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
        EXPECT_LT(took, 50.0) << "key " << move.key;
        EXPECT_EQ(form[L"List1"].selected, std::vector<std::size_t>{move.row}) << "key " << move.key;
        EXPECT_EQ(WindowSelection(list), std::vector<std::size_t>{move.row}) << "key " << move.key;
        EXPECT_EQ(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED),
                  static_cast<LRESULT>(move.row));
    }
    runtime.Unload(form);
}

// Each anchored control follows the client area's growth; the others keep their place.
TEST_F(Controls, AnchoredControlsFollowTheWindowsSize)
{
    BackupsForm form(os, runtime, BackupsLayout());
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    struct Expected {
        const wchar_t* name;
        RECT layout;
        RECT grown; // after 100 x 50 pixels more
    };
    const Expected expected[] = {
        {L"List1", {8, 8, 308, 168}, {8, 8, 408, 218}},             // width and height
        {L"Text1", {8, 176, 308, 256}, {8, 226, 408, 306}},         // width, moves down
        {L"lblRefresh", {8, 272, 78, 289}, {8, 322, 78, 339}},      // moves down
        {L"lblTall", {320, 40, 380, 140}, {320, 40, 380, 190}},     // height
        {L"Check1", {320, 8, 390, 25}, {320, 8, 390, 25}},          // stays
        {L"Progress1", {320, 272, 390, 289}, {420, 322, 490, 339}}, // moves right and down
    };
    const std::map<std::wstring, HWND> children = {
        {L"List1", ListOf(window)},
        {L"Text1", TextBoxOf(window)},
        {L"Check1", ::FindWindowExW(window, nullptr, L"BUTTON", nullptr)},
        {L"Progress1", ::FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr)}};
    RECT outer{};
    ::GetWindowRect(window, &outer);
    for (const int grow : {0, 1, 0}) {
        ::SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + 100 * grow,
                       outer.bottom - outer.top + 50 * grow, SWP_NOMOVE | SWP_NOZORDER);
        RECT client{};
        ::GetClientRect(window, &client);
        ASSERT_EQ(client.right, 400 + 100 * grow);
        ASSERT_EQ(client.bottom, 300 + 50 * grow);
        for (const Expected& e : expected) {
            const RECT& want = grow != 0 ? e.grown : e.layout;
            const RECT rect = runtime.ControlRect(form, e.name);
            EXPECT_TRUE(::EqualRect(&rect, &want)) << "grow " << grow << " " << Show(rect);
            if (const auto child = children.find(e.name); child != children.end()) {
                const RECT real = ChildRect(window, child->second);
                EXPECT_TRUE(::EqualRect(&real, &want)) << "grow " << grow << " window " << Show(real);
            }
        }
        // The moved label is hit where it is now, and its tooltip covers it there.
        const RECT refresh = runtime.ControlRect(form, L"lblRefresh");
        const LPARAM at = MAKELPARAM(refresh.left + 2, refresh.bottom - 2);
        ::SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::SendMessageW(window, WM_LBUTTONUP, 0, at);
        EXPECT_EQ(form.events, std::vector<std::wstring>{L"lblRefresh_Click"});
        form.events.clear();
        HWND tips = nullptr;
        while ((tips = ::FindWindowExW(nullptr, tips, TOOLTIPS_CLASSW, nullptr)) != nullptr &&
               ::GetWindowThreadProcessId(tips, nullptr) != ::GetCurrentThreadId()) {
        }
        ASSERT_NE(tips, nullptr);
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = window;
        tool.uId = 3; // the label's index
        ASSERT_TRUE(::SendMessageW(tips, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)));
        EXPECT_TRUE(::EqualRect(&tool.rect, &refresh)) << Show(tool.rect);
    }
    runtime.Unload(form);
}

// The system's progress bar, no Tab stop, shows the range and position of the form's data, and
// runs as a marquee while the work gives no count. Its window has a taskbar button of its own; an
// owned window shows its progress on its owner's, and a tool window has none.
TEST_F(Controls, AProgressBarShowsItsRangeAndPosition)
{
    BackupsForm form(os, runtime, BackupsLayout());
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    HWND bar = ::FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(::GetWindowLongPtrW(bar, GWL_STYLE) & WS_TABSTOP, 0);
    EXPECT_FALSE(::IsWindowVisible(bar));
    struct Case {
        int maximum;
        int value;
        bool visible;
    };
    const Case cases[] = {{0, 0, true},  {1203, 501, true}, {1203, 1001, true},
                          {56, 0, true}, {0, 0, true},      {0, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + "/" + std::to_string(c.maximum));
        form[L"Progress1"].maximum = c.maximum;
        form[L"Progress1"].value = c.value;
        form[L"Progress1"].visible = c.visible;
        runtime.SyncAll();
        EXPECT_EQ(::IsWindowVisible(bar) != FALSE, c.visible);
        EXPECT_EQ((::GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE) != 0, c.maximum == 0);
        if (c.maximum != 0) {
            EXPECT_EQ(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0), c.maximum);
            EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), c.value);
        }
    }
    EXPECT_EQ(platform::win32::TaskbarButtonOf(window), window);
    platform::win32::Window owned(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, window, nullptr,
                                                    ::GetModuleHandleW(nullptr), nullptr));
    EXPECT_EQ(platform::win32::TaskbarButtonOf(owned.get()), window);
    ::SetWindowLongPtrW(window, GWL_EXSTYLE, ::GetWindowLongPtrW(window, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
    EXPECT_EQ(platform::win32::TaskbarButtonOf(owned.get()), nullptr);
    runtime.Unload(form);
}

// Enter, Esc and F5 fire Form_KeyDown wherever the focus is in the window.
TEST_F(Controls, TheWindowsKeysReachTheForm)
{
    BackupsForm form(os, runtime, BackupsLayout());
    form.onLoad = [&form] { form[L"List1"].rows = {Row(0), Row(1)}; };
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    ::SetForegroundWindow(window);
    Win32Runtime::PumpMessages();
    ASSERT_EQ(::GetActiveWindow(), window);
    const HWND targets[] = {ListOf(window), TextBoxOf(window), ::FindWindowExW(window, nullptr, L"BUTTON", nullptr)};
    struct Key {
        WPARAM key;
        int code;
    };
    const Key keys[] = {
        {VK_RETURN, platform::vbKeyReturn}, {VK_ESCAPE, platform::vbKeyEscape}, {VK_F5, platform::vbKeyF5}};
    for (HWND target : targets) {
        ::SetFocus(target);
        ASSERT_EQ(::GetFocus(), target);
        for (const Key& key : keys) {
            form.keys.clear();
            ::PostMessageW(target, WM_KEYDOWN, key.key, 1);
            ::PostMessageW(target, WM_KEYUP, key.key, 0xC0000001);
            Win32Runtime::PumpMessages();
            EXPECT_EQ(form.keys, std::vector<int>{key.code}) << "key " << key.key << " at window " << target;
        }
    }
    EXPECT_TRUE(::IsWindow(window)) << "Esc in the text box does not close the window";
    EXPECT_EQ(WindowText(targets[1]), L"") << "Enter types nothing into the read-only box";

    // Tab moves on to the next control.
    ::SetFocus(targets[0]);
    ::PostMessageW(targets[0], WM_KEYDOWN, VK_TAB, 1);
    Win32Runtime::PumpMessages();
    EXPECT_EQ(::GetFocus(), targets[1]);
    runtime.Unload(form);
}

// The main window takes no key of its own: Enter stays the text box's new line.
TEST_F(Controls, TheMainWindowsKeysAreUnchanged)
{
    Form1 form(os, runtime);
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    HWND edit = ::FindWindowExW(window, nullptr, L"EDIT", nullptr);
    ::SetForegroundWindow(window);
    ::SetFocus(edit);
    Win32Runtime::PumpMessages();
    const std::wstring before = WindowText(edit);
    for (const WPARAM key : {VK_F5, VK_RETURN}) {
        ::PostMessageW(edit, WM_KEYDOWN, key, 1);
        ::PostMessageW(edit, WM_KEYUP, key, 0xC0000001);
    }
    Win32Runtime::PumpMessages();
    EXPECT_TRUE(::IsWindow(window));
    EXPECT_EQ(WindowText(edit).size(), before.size() + 2) << "Enter made a new line";
    runtime.Unload(form);
}

// A modal window has the same controls and keys, and is freed when its own key handler unloads it.
TEST_F(Controls, AModalWindowTakesKeysAndIsFreed)
{
    BackupsForm form(os, runtime, BackupsLayout());
    HWND list = nullptr;
    std::vector<std::size_t> shownSelection;
    form.onLoad = [&] {
        form[L"List1"].rows = {Row(0), Row(1), Row(2)};
        form[L"Timer1"].interval = 10;
    };
    form.onTick = [&] {
        form[L"Timer1"].enabled = false;
        form[L"List1"].selected = {2};
        list = ListOf(AsHwnd(form.hWnd()));
        ::SetFocus(list);
        ::PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 1);
        ::PostMessageW(list, WM_KEYDOWN, VK_F5, 1);
    };
    form.onKey = [&](int code) {
        if (code == platform::vbKeyF5) {
            shownSelection = WindowSelection(list);
            runtime.Unload(form);
        }
    };
    runtime.Show(form, 1);
    EXPECT_EQ(form.keys, (std::vector<int>{platform::vbKeyEscape, platform::vbKeyF5}));
    EXPECT_EQ(shownSelection, std::vector<std::size_t>{2});
    EXPECT_FALSE(::IsWindow(list));
    EXPECT_EQ(runtime.WindowCount(), 0u);
}

// A choice of two options and a drop-down list; a click on the second option picks the list's
// first item.
class ChoiceForm : public platform::Form {
public:
    ChoiceForm(platform::Os& system, platform::Runtime& forms) : Form(system, forms, Layout())
    {
        On(L"opt1_Click", [this](platform::EventArgs&) { events.emplace_back(L"opt1_Click"); });
        On(L"opt2_Click", [this](platform::EventArgs&) {
            events.emplace_back(L"opt2_Click");
            (*this)[L"cbo1"].value = 0;
        });
        On(L"cbo1_Click", [this](platform::EventArgs&) { events.emplace_back(L"cbo1_Click"); });
    }
    static platform::Layout Layout()
    {
        platform::Layout layout;
        layout.name = L"TestChoice";
        layout.clientWidth = 4500;
        layout.clientHeight = 3000;
        Control one{.name = L"opt1", .kind = ControlKind::Option, .caption = L"One", .left = 120, .top = 120};
        one.width = 1500;
        one.height = 255;
        one.group = true;
        one.value = 1;
        Control two = one;
        two.name = L"opt2";
        two.caption = L"Two";
        two.top = 480;
        two.group = false;
        two.value = 0;
        Control list{.name = L"cbo1", .kind = ControlKind::ComboBox, .left = 1800, .top = 120, .width = 1500};
        list.height = 1500;
        list.items = {L"Sunday", L"Monday", L"Tuesday"};
        list.value = 1;
        layout.controls = {one, two, list};
        return layout;
    }
    std::vector<std::wstring> events;
};

TEST_F(Controls, OptionsAndADropDownListTellTheirValues)
{
    ChoiceForm form(os, runtime);
    runtime.Show(form, 0);
    HWND window = AsHwnd(form.hWnd());
    HWND one = ::FindWindowExW(window, nullptr, L"BUTTON", L"One");
    HWND two = ::FindWindowExW(window, nullptr, L"BUTTON", L"Two");
    HWND list = ::FindWindowExW(window, nullptr, L"COMBOBOX", nullptr);
    ASSERT_TRUE(one != nullptr && two != nullptr && list != nullptr);
    EXPECT_EQ(::SendMessageW(one, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(::SendMessageW(list, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(::SendMessageW(list, CB_GETCURSEL, 0, 0), 1);

    ::SendMessageW(two, BM_CLICK, 0, 0);
    Win32Runtime::PumpMessages();
    EXPECT_EQ(form[L"opt1"].value, 0) << "the other option of the group is cleared";
    EXPECT_EQ(form[L"opt2"].value, 1);
    EXPECT_EQ(::SendMessageW(list, CB_GETCURSEL, 0, 0), 0) << "a value set by the form reaches the list";

    // The user picks an item: the list tells its parent.
    ::SendMessageW(list, CB_SETCURSEL, 2, 0);
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(list), CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    EXPECT_EQ(form[L"cbo1"].value, 2);
    EXPECT_EQ(form.events, (std::vector<std::wstring>{L"opt2_Click", L"cbo1_Click"}));
    runtime.Unload(form);
}

} // namespace
