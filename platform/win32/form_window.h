// One loaded form's window and what its parts share: the runtime's own header, not for the forms.
#pragma once

#include "platform/win32/forms_win32.h"
#include "platform/win32/handles.h"
#include "platform/win32/picture.h"

#include <commctrl.h>

#include <deque>
#include <map>
#include <optional>

namespace platform::win32 {

inline constexpr wchar_t kWindowClass[] = L"LarkSpoolForm";
inline constexpr int kIconResource = 1;
inline constexpr UINT kFirstChildId = 100;
inline constexpr UINT kFirstMenuCommand = 1000;
// The system keeps the low four bits of a system menu command for itself.
inline constexpr UINT kSystemCommandStep = 16;
inline constexpr int kTwipsPerInch = 1440;

inline COLORREF Resolve(Color color)
{
    return (color & 0x80000000u) != 0 ? ::GetSysColor(static_cast<int>(color & 0xFFu)) : color;
}

inline constexpr wchar_t kCommandClass[] = L"LarkSpoolCommand";

// Labels and pictures, painted by the form. Those that take the keyboard or speak to assistive
// technology are windows of their own, which the form paints all the same.
inline bool IsPainted(const Control& control)
{
    return control.kind == ControlKind::Label || control.kind == ControlKind::Picture;
}

inline bool IsWindowless(const Control& control)
{
    return (control.kind == ControlKind::Label && !control.command && !control.liveRegion) ||
           (control.kind == ControlKind::Picture && control.accessibleName.empty());
}

// Runtime code under way. A window unloaded meanwhile is freed only when the outermost such call
// returns: until then one of its handlers may still be running.
class Win32Runtime::Busy {
public:
    explicit Busy(Win32Runtime& runtime) noexcept : runtime_(runtime) { ++runtime_.busy_; }
    ~Busy()
    {
        if (--runtime_.busy_ == 0) {
            runtime_.FreeUnloaded();
        }
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    Win32Runtime& runtime_;
};

// One loaded form's window. Handlers change the form's data; Sync brings the window up to date.
class FormWindow {
public:
    // A window with an owner stays above it, and the owner is active again when it closes.
    FormWindow(Win32Runtime& runtime, Form& shownForm, HINSTANCE instance, HWND owner);
    ~FormWindow();
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    Form& form;
    bool modal = false;
    bool shown = false;

    HWND hwnd() const noexcept { return window_.get(); }
    bool alive() const noexcept { return static_cast<bool>(window_); }
    // Waits for the picture being decoded; throws its failure.
    void TakePicture();
    void Sync();
    void Center();
    void FocusFirst();
    RECT PixelRect(const Control& control) const;
    void Dispatch(std::wstring_view control, std::wstring_view event, EventArgs& args);
    void Dispatch(std::wstring_view control, std::wstring_view event);
    HMENU MenuFor(const std::wstring& menu) const;
    // The keyboard was used: focus rectangles show from now on, access keys while Alt is held.
    void ShowCues(bool focus, bool accessKeys);
    // Clicks the control of an access key; false when none has it.
    bool AccessKey(wchar_t key);
    // The form's context menu at the focused control (Shift+F10, the context-menu key).
    void ContextMenuAtFocus();
    HWND ChildOf(std::wstring_view control) const;

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

private:
    static LRESULT CALLBACK ChildProc(HWND child, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleChild(HWND child, WNDPROC original, UINT message, WPARAM wParam, LPARAM lParam);
    // A child control's WM_COMMAND and WM_NOTIFY; false when they are about no control of the form.
    bool OnChildCommand(HWND child, WORD code);
    std::optional<LRESULT> OnNotify(NMHDR& header);
    void OnSelectionChanged(std::size_t index, int first, int last, bool selected);
    bool MoveInList(HWND list, WPARAM key);
    // Fires Form_KeyDown when the form handles it; false when it does not.
    bool FireKey(int keyCode);

    int Pixels(int twips) const { return ::MulDiv(twips, static_cast<int>(dpi_), kTwipsPerInch); }
    float Twips(int pixels) const { return static_cast<float>(pixels) * kTwipsPerInch / static_cast<float>(dpi_); }
    SIZE ClientPixels() const { return {Pixels(form.layout().clientWidth), Pixels(form.layout().clientHeight)}; }
    SIZE OuterPixels() const;
    Font CreateFont() const;
    Font CreateNamesFont() const;
    Icon LoadIcon(int width, int height) const;
    void SetIcons();
    void CreateChildren(HINSTANCE instance);
    void CreateMenus();
    // Files are taken by drag and drop only on a form that handles Form_DropFile.
    void AcceptDroppedFiles();
    void OnDropFiles(WPARAM drop);
    Library shell32_; // loaded with the first form that takes dropped files, not at start-up
    // The tooltips come with the first mouse message: nothing shows them before, and the start
    // is quicker without them.
    void CreateToolTips();
    bool toolTipsMade_ = false;
    void PlaceChildren();
    void FollowClientSize(SIZE client);
    void UpdateTabStops();
    void UpdateToolRects();
    void SyncChild(HWND child, Control& now, const Control& before, bool captionChanged);
    void SyncText(HWND edit, const std::wstring& now, const std::wstring& before);
    void SyncList(HWND list, Control& now, const Control& before);
    void SyncSelection(HWND list, const std::vector<std::size_t>& now, const std::vector<std::size_t>& before);
    void SetListColors(HWND list, const Control& control);
    // `fresh`: the bar was just made and shows nothing of `now` yet.
    void SyncProgress(HWND bar, const Control& now, const Control& before, bool fresh);
    void SetSortArrow(HWND list, const Control& control);
    // The hidden menu of a control: its own, else the form's.
    const std::wstring& MenuOf(const Control& control) const
    {
        return control.contextMenu.empty() ? form.layout().contextMenu : control.contextMenu;
    }
    void Paint(HDC dc);
    // A label in the given rectangle; a command label with its access key and focus rectangle.
    void PaintLabel(HDC dc, const Control& label, RECT rect, bool focused = false);
    void PaintPicture(HDC dc, RECT rect);
    void OnDrawItem(const DRAWITEMSTRUCT& item);
    // The colours a control shows: its own, or the system's in high contrast.
    COLORREF BackOf(const Control& control) const;
    COLORREF TextOf(const Control& control) const;
    COLORREF FormBack() const;
    HBRUSH BrushOf(COLORREF color);
    void OnColorsChanged();
    int HitTest(POINT point) const;
    int ChildIndex(HWND child) const;
    EventArgs MouseArgs(UINT message, WPARAM wParam, LPARAM lParam) const;
    HBRUSH BrushFor(Color color);
    LRESULT ControlColor(HDC dc, HWND child);
    void OnActivate(WPARAM wParam);
    void OnDpiChanged(UINT dpi, const RECT& suggested);

    Win32Runtime& runtime_;
    HINSTANCE instance_;
    UINT dpi_ = 96;
    Font font_;
    Font namesFont_; // for the controls that show names: lists and text boxes
    Icon bigIcon_;
    Icon smallIcon_;
    std::vector<HWND> children_; // by control; null for windowless controls
    // The child windows' own procedures. Not in window properties: under Wine each property
    // look-up asks the server, which a list filled with thousands of rows would feel.
    std::vector<WNDPROC> childProcs_;
    HWND focus_ = nullptr; // the control that had the focus when the window was left
    std::deque<std::wstring> toolTipTexts_;
    Window toolTip_;
    std::map<std::wstring, Menu> menus_;
    std::vector<std::wstring> menuCommands_;   // item names by command
    std::vector<std::wstring> systemCommands_; // system menu items by command / kSystemCommandStep - 1
    Bitmap picture_;
    SIZE pictureSize_{};
    std::unique_ptr<PictureLoad> pictureLoad_; // until the picture is taken
    std::map<COLORREF, Brush> brushes_;
    bool highContrast_ = false;
    bool showFocus_ = false;      // focus rectangles, once the keyboard was used
    bool showAccessKeys_ = false; // underlined access keys, while Alt is held
    std::vector<Control> shown_;  // what the window shows now
    SIZE client_{};               // the client area's size now, in pixels
    bool anchored_ = false;       // some control follows the window's size
    bool syncing_ = false;        // the controls' notifications echo Sync's own changes
    std::wstring shownCaption_;
    int pressed_ = -1;
    // Last, so destroyed first, also when the constructor fails: the window's messages still find
    // everything they use, and the window takes its pointer to this object with it.
    Window window_;
};

} // namespace platform::win32
