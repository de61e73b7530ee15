// A small forms runtime: a window described by a fixed layout in twips, its controls as plain
// data, and events dispatched by name ("cmdExit_Click", "Form_Load") to the form's handlers.
// Handlers change the controls' data; the runtime brings the real window up to date after each
// event. Nothing here includes <windows.h>: the Win32 runtime lives in platform/win32.
#pragma once

#include "platform/os.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// 0x00BBGGRR; with the top bit set, a system colour by the index in the low byte.
using Color = std::uint32_t;
constexpr Color vbWindowBackground = 0x80000005;
constexpr Color vbWindowText = 0x80000008;

enum class ControlKind { Label, CheckBox, TextBox, Timer, Picture, ListView, Option, ComboBox, ProgressBar };

// How a control follows the window's size (bits; none: it keeps its place and size).
constexpr int kAnchorWidth = 1;  // its right edge keeps its distance to the window's right edge
constexpr int kAnchorHeight = 2; // its bottom edge keeps its distance to the window's bottom edge
constexpr int kAnchorBottom = 4; // it moves down and up with the window's bottom edge
constexpr int kAnchorRight = 8;  // it moves right and left with the window's right edge

// A column of a list view: its heading and width in twips.
struct ListColumn {
    std::wstring caption{};
    int width = 0;
};

struct Control {
    std::wstring name{};
    ControlKind kind = ControlKind::Label;
    std::wstring caption{};                       // a text box's text
    int left = 0, top = 0, width = 0, height = 0; // twips
    Color backColor = vbWindowBackground;
    Color foreColor = vbWindowText;
    bool transparent = false;
    int tabIndex = 0;
    bool visible = true;
    bool border = false; // flat single line
    bool centered = false;
    bool wordWrap = false;
    bool autoSize = false; // labels: grow to the text, to the right
    std::wstring toolTip{};
    // The hidden menu that a right-click, Shift+F10 and the context-menu key open on this control;
    // empty for the form's.
    std::wstring contextMenu{};
    bool crossCursor = false;
    // Check box: 0 unticked, 1 ticked, 2 greyed; option: 1 chosen; combo box: the item chosen;
    // progress bar: how much of `maximum` is done.
    int value = 0;
    // Progress bar: the whole amount of work; 0 while the work gives no count, which the bar shows
    // as going on without a measure (a marquee).
    int maximum = 0;
    bool taskbar = false;              // progress bar: shown on the window's taskbar button too while visible
    bool group = false;                // option: the first of its group
    std::vector<std::wstring> items{}; // combo box: its drop-down list
    bool enabled = true;               // timer
    int interval = 0;                  // timer, milliseconds
    int picture = 0;                   // picture: resource number of the JPEG
    bool readOnly = false;             // text box
    bool multiLine = true;             // text box: lines and scroll bars; else one line, as a time
    int anchor = 0;                    // kAnchor... bits
    int sortColumn = -1;               // list: the column whose heading shows the sort arrow; -1 none
    // A list of many rows: the form counts each change of its rows here, and the window compares
    // the count instead of every row, and reads the rows from the form instead of copying them.
    // 0: the window compares the rows themselves.
    std::uint64_t rowsVersion = 0;
    // List view: report style, one text per column in each row; the selected rows ascending.
    std::vector<ListColumn> columns{};
    std::vector<std::vector<std::wstring>> rows{};
    std::vector<std::size_t> selected{};
    bool multiSelect = false;
    bool sortDescending = false; // the arrow of sortColumn points down
    // Keyboard and assistive technology. A command label acts as a button: it takes the focus in
    // tab order, and Enter, Space or Alt with its access key click it.
    bool command = false;
    bool liveRegion = false;       // a label whose news (see Form::Announce) is told to screen readers
    wchar_t accessKey = 0;         // the caption's letter underlined while Alt is held
    std::wstring accessibleName{}; // a picture with a name is a link by that name
};

struct MenuItem {
    std::wstring name{};
    std::wstring caption{};
    std::wstring parent{}; // empty for a top-level menu
    bool visible = true;
};

enum class Frame { SizableToolWindow, Sizable };

struct Layout {
    std::wstring name;
    std::wstring caption;
    Color backColor = vbWindowBackground;
    Frame frame = Frame::Sizable;
    int clientWidth = 0, clientHeight = 0; // twips
    std::vector<Control> controls;         // in the order the window creates them
    std::vector<MenuItem> menus;
    std::wstring contextMenu{}; // the hidden menu that Shift+F10 and the context-menu key open
    std::wstring systemMenu{};  // a hidden menu whose items also stand in the window's system menu
    // The command label that has the keyboard when the form shows, and that Enter clicks where
    // the focused control takes no Enter itself; empty for none.
    std::wstring defaultCommand{};
};

// Whether Tab stops at the control in a client area of that size (twips): a check box, text box,
// list or command label that shows and lies at least partly inside it.
bool TabStop(const Layout& layout, const Control& control, int clientWidth, int clientHeight);
// The control that has the keyboard when the form shows: its default command, else the first
// Tab stop by tab index; empty for none.
std::wstring FirstFocus(const Layout& layout, const std::vector<Control>& controls);

// Mouse events carry the button (1 left, 2 right, 4 middle), the shift state and the position
// in twips; Unload carries the cancel argument.
// Form_KeyDown carries the key: Enter, Esc, F5 and Delete, wherever the focus is in the window.
constexpr int vbKeyReturn = 13;
constexpr int vbKeyEscape = 27;
constexpr int vbKeyF5 = 116;
constexpr int vbKeyDelete = 46;
// In a list, Ctrl with A or C goes to the list's own KeyDown.
constexpr int vbKeyA = 65;
constexpr int vbKeyC = 67;
constexpr int vbCtrlMask = 2;

// Why a form unloads: closed by the user or the program, or Windows ends the session.
constexpr int vbFormControlMenu = 0;
constexpr int vbAppWindows = 2;

struct EventArgs {
    int button = 0;
    int shift = 0;
    float x = 0, y = 0;
    int cancel = 0;
    int keyCode = 0;
    int unloadMode = vbFormControlMenu;
    std::wstring path;    // Form_DropFile: the file dropped on the form
    int column = -1;      // a list's ColumnClick: the column whose heading was clicked
    std::wstring control; // Form_KeyDown: the control that has the keyboard, empty for none
};

class Form;

// The windowing side of the platform.
class Runtime {
public:
    virtual ~Runtime() = default;
    // Loads the form (controls back to the layout, Form_Load) and shows it; modal returns only
    // when the form is unloaded.
    virtual void Show(Form& form, int modal) = 0;
    virtual void Unload(Form& form) = 0;
    // Shows a hidden top-level menu at the pointer; returns when it closes, after the chosen
    // item's click has run.
    virtual void PopupMenu(Form& form, const std::wstring& menu) = 0;
    virtual WindowHandle hWnd(const Form& form) = 0;
    // Tells assistive technology that the label's text is news worth speaking.
    virtual void Announce(Form& form, const std::wstring& control) = 0;
    // Shows the start-up form and runs events until the program ends.
    virtual int Run(Form& startup) = 0;
};

class Form {
public:
    Form(Os& system, Runtime& forms, Layout layout);
    virtual ~Form() = default;
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    const Layout& layout() const noexcept { return layout_; }
    std::vector<Control>& controls() noexcept { return controls_; }
    const std::vector<Control>& controls() const noexcept { return controls_; }
    Control& operator[](std::wstring_view name);
    const Control& operator[](std::wstring_view name) const;

    // Controls and caption back to the layout, then Form_Load.
    void Load();
    // Runs the handler named control + "_" + event, if the form has one. A failure in it is shown
    // to the user and ends the program. Returns whether a handler ran.
    bool Fire(std::wstring_view control, std::wstring_view event, EventArgs& args);
    bool Fire(std::wstring_view control, std::wstring_view event);
    bool HasHandler(std::wstring_view control, std::wstring_view event) const;

    WindowHandle hWnd() { return runtime.hWnd(*this); }
    void Show(int modal = 0) { runtime.Show(*this, modal); }
    void PopupMenu(const std::wstring& menu) { runtime.PopupMenu(*this, menu); }
    void Announce(const std::wstring& control) { runtime.Announce(*this, control); }

    std::wstring Caption;

protected:
    using Handler = std::function<void(EventArgs&)>;
    void On(std::wstring_view handlerName, Handler handler);

    // Runs when a handler's failure is about to end the program, so that work which must not be
    // cut off (a restore changing the key) ends first.
    std::function<void()> beforeFailureEnds;

    Os& os;
    Runtime& runtime;

private:
    Layout layout_;
    std::vector<Control> controls_;
    std::map<std::wstring, Handler, std::less<>> handlers_;
};

} // namespace platform
