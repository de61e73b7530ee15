#include "platform/win32/forms_win32.h"

#include "platform/win32/form_window.h"
#include "platform/win32/os_win32.h"

#include <commctrl.h>
#include <objbase.h>

#ifndef EVENT_OBJECT_LIVEREGIONCHANGED
#define EVENT_OBJECT_LIVEREGIONCHANGED 0x8019
#endif

#include <algorithm>
#include <cwchar>
#include <string_view>
#include <vector>

namespace platform::win32 {

namespace {

constexpr wchar_t kDialogFace[] = L"MS Shell Dlg";
constexpr wchar_t kClassicFace[] = L"MS Sans Serif";
constexpr wchar_t kClassicTwinFace[] = L"Microsoft Sans Serif";

bool Installed(HDC dc, const wchar_t* face)
{
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    std::wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    ::EnumFontFamiliesExW(
        dc, &wanted,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM note) -> int {
            *reinterpret_cast<bool*>(note) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

// Whether the font draws every letter of the text, none as the missing-glyph box.
bool Draws(HDC dc, const LOGFONTW& wanted, std::wstring_view text)
{
    const Font font(::CreateFontIndirectW(&wanted));
    if (!font) {
        return false;
    }
    const Selection selected(dc, font.get());
    std::vector<WORD> glyphs(text.size());
    return ::GetGlyphIndicesW(dc, text.data(), static_cast<int>(text.size()), glyphs.data(),
                              GGI_MARK_NONEXISTING_GLYPHS) != GDI_ERROR &&
           std::find(glyphs.begin(), glyphs.end(), WORD{0xFFFF}) == glyphs.end();
}

// The runtime whose windows this thread's loops serve.
thread_local Win32Runtime* current = nullptr;

// Keys go through the dialog manager of the active window: Tab moves the focus, Enter and Esc
// reach the form, Alt and a letter click the control of that access key.
void Deliver(MSG& message)
{
    if (current != nullptr && current->Cue(message)) {
        return;
    }
    HWND active = ::GetActiveWindow();
    if (active == nullptr || !::IsDialogMessageW(active, &message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

} // namespace

bool Win32Runtime::Cue(const MSG& message)
{
    const bool down = message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN;
    const bool up = message.message == WM_KEYUP || message.message == WM_SYSKEYUP;
    const bool accessKey = message.message == WM_SYSCHAR;
    if ((!down && !up && !accessKey) || message.hwnd == nullptr) {
        return false;
    }
    HWND root = ::GetAncestor(message.hwnd, GA_ROOT);
    const auto found =
        std::find_if(windows_.begin(), windows_.end(), [&](const auto& window) { return window->hwnd() == root; });
    if (found == windows_.end() || !(*found)->alive()) {
        return false;
    }
    FormWindow& window = **found;
    if (accessKey) {
        const Busy busy(*this);
        return window.AccessKey(static_cast<wchar_t>(message.wParam));
    }
    const bool alt = ::GetKeyState(VK_MENU) < 0;
    switch (message.wParam) {
    case VK_MENU:
    case VK_LMENU: // as Wine reports it
    case VK_RMENU:
        window.ShowCues(down, down);
        return false;
    case VK_F10:
        if (down && ::GetKeyState(VK_SHIFT) < 0) {
            const Busy busy(*this);
            window.ShowCues(true, alt);
            window.ContextMenuAtFocus();
            return true;
        }
        return false;
    case VK_TAB:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
        if (down) {
            window.ShowCues(true, alt);
        }
        return false;
    default:
        return false;
    }
}

Win32Runtime::Win32Runtime(HINSTANCE instance) : instance_(instance)
{
    current = this;
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &FormWindow::Proc;
    windowClass.hInstance = instance;
    windowClass.hIcon =
        static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                        ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), LR_SHARED));
    windowClass.hIconSm =
        static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                        ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ThrowLastError(L"Registering the window class", kWindowClass);
    }
    // The command labels: buttons of a class of their own, so that the check box stays the
    // windows' only "BUTTON". A quick second click is a second click, as on the painted labels.
    WNDCLASSEXW command{};
    command.cbSize = sizeof command;
    if (!::GetClassInfoExW(nullptr, L"BUTTON", &command)) {
        ThrowLastError(L"Looking up the window class", L"BUTTON");
    }
    command.hInstance = instance;
    command.lpszClassName = kCommandClass;
    command.style &= ~static_cast<UINT>(CS_DBLCLKS);
    if (::RegisterClassExW(&command) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ThrowLastError(L"Registering the window class", kCommandClass);
    }
}

Win32Runtime::~Win32Runtime()
{
    CloseAll();
    windows_.clear();
    if (current == this) {
        current = nullptr;
    }
}

FormWindow* Win32Runtime::Find(const Form& form) const
{
    // The newest window of the form: older ones are unloaded.
    const auto found =
        std::find_if(windows_.rbegin(), windows_.rend(), [&](const auto& window) { return &window->form == &form; });
    return found != windows_.rend() ? found->get() : nullptr;
}

void Win32Runtime::EnableOthers(const FormWindow& except, bool enable)
{
    for (const auto& window : windows_) {
        if (window.get() != &except && window->alive()) {
            ::EnableWindow(window->hwnd(), enable ? TRUE : FALSE);
        }
    }
}

void Win32Runtime::Show(Form& form, int modal)
{
    const Busy busy(*this);
    FormWindow* window = Find(form);
    if (window == nullptr || !window->alive()) {
        // Each showing loads the form anew from its layout.
        // A modal window is owned by the window it was opened from, which gets the keyboard
        // back when it closes.
        const FormWindow* opener = modal != 0 && lastActive != nullptr ? Find(*lastActive) : nullptr;
        HWND owner = opener != nullptr && opener->alive() ? opener->hwnd() : nullptr;
        windows_.push_back(std::make_unique<FormWindow>(*this, form, instance_, owner));
        window = windows_.back().get();
        form.Load();
        SyncAll();
        window->Center();
    }
    if (!window->alive()) {
        return;
    }
    window->shown = true;
    ::ShowWindow(window->hwnd(), SW_SHOWNORMAL);
    window->TakePicture();
    window->FocusFirst();
    window->Dispatch(L"Form", L"Resize");
    if (modal == 0 || !window->alive()) {
        return;
    }
    window->modal = true;
    EnableOthers(*window, false);
    MSG message{};
    while (window->alive()) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0) {
                ::PostQuitMessage(static_cast<int>(message.wParam));
            }
            break;
        }
        if (!Cue(message) && !::IsDialogMessageW(window->hwnd(), &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    EnableOthers(*window, true);
}

void Win32Runtime::Unload(Form& form)
{
    const Busy busy(*this);
    FormWindow* window = Find(form);
    if (window == nullptr || !window->alive()) {
        return;
    }
    // The other windows take input again before this one goes, so that the platform hands the
    // activation back to them and not to another program.
    if (window->modal) {
        EnableOthers(*window, true);
    }
    ::DestroyWindow(window->hwnd());
    if (lastActive == &form) {
        const auto other =
            std::find_if(windows_.begin(), windows_.end(), [](const auto& candidate) { return candidate->alive(); });
        if (other != windows_.end()) {
            ::SetForegroundWindow((*other)->hwnd());
        }
    }
}

void Win32Runtime::PopupMenu(Form& form, const std::wstring& menu)
{
    const Busy busy(*this);
    FormWindow* window = Find(form);
    if (window == nullptr || !window->alive()) {
        return;
    }
    POINT pointer{};
    ::GetCursorPos(&pointer);
    PopupMenuAt(*window, menu, pointer);
}

void Win32Runtime::PopupMenuAt(FormWindow& window, const std::wstring& menu, POINT at)
{
    const Busy busy(*this);
    SyncAll();
    const UINT command = static_cast<UINT>(
        ::TrackPopupMenuEx(window.MenuFor(menu), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON | TPM_RETURNCMD, at.x,
                           at.y, window.hwnd(), nullptr));
    if (command != 0 && window.alive()) {
        ::SendMessageW(window.hwnd(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
    }
}

// The label's window has its new text first; a screen reader reads it when told.
void Win32Runtime::Announce(Form& form, const std::wstring& control)
{
    const Busy busy(*this);
    SyncAll();
    const FormWindow* window = Find(form);
    HWND child = window != nullptr && window->alive() ? window->ChildOf(control) : nullptr;
    if (child == nullptr) {
        return;
    }
    ::NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, child, OBJID_CLIENT, CHILDID_SELF);
    ::NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, child, OBJID_CLIENT, CHILDID_SELF);
}

WindowHandle Win32Runtime::hWnd(const Form& form)
{
    const FormWindow* window = Find(form);
    return window != nullptr ? reinterpret_cast<WindowHandle>(window->hwnd()) : 0;
}

int Win32Runtime::Run(Form& startup)
{
    Show(startup, 0);
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        Deliver(message);
    }
    CloseAll();
    return static_cast<int>(message.wParam);
}

// Newest first, so that each window goes before the ones it was shown above.
void Win32Runtime::CloseAll()
{
    const Busy busy(*this);
    for (std::size_t i = windows_.size(); i-- > 0;) {
        if (i < windows_.size() && windows_[i]->alive()) {
            ::DestroyWindow(windows_[i]->hwnd());
        }
    }
}

void Win32Runtime::FreeUnloaded()
{
    const auto dead =
        std::stable_partition(windows_.begin(), windows_.end(), [](const auto& window) { return window->alive(); });
    // Moved out first: freeing a window must not meet the list half changed.
    std::vector<std::unique_ptr<FormWindow>> unloaded(std::make_move_iterator(dead),
                                                      std::make_move_iterator(windows_.end()));
    windows_.erase(dead, windows_.end());
}

// The main window needs none of the common controls to show: they are loaded with the first
// tooltip or list.
void Win32Runtime::LoadCommonControls()
{
    if (commonControls_) {
        return;
    }
    Library library = LoadSystemLibrary(L"comctl32.dll");
    const auto initialize = LibraryFunction<decltype(&::InitCommonControlsEx)>(library, "InitCommonControlsEx");
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    if (initialize(&controls) == FALSE) {
        ThrowLastError(L"Starting", L"the common controls");
    }
    commonControls_ = std::move(library);
}

// The layouts were made with "MS Sans Serif". Windows maps "MS Shell Dlg" to its TrueType twin,
// "Microsoft Sans Serif". Wine has no such twin and maps it to its wider Tahoma, but has the
// classic font itself.
const std::wstring& Win32Runtime::FontFace()
{
    if (fontFace_.empty()) {
        const WindowDc screen(nullptr);
        const bool classicOnly = !Installed(screen.get(), kClassicTwinFace) && Installed(screen.get(), kClassicFace);
        fontFace_ = classicOnly ? kClassicFace : kDialogFace;
    }
    return fontFace_;
}

// Windows' message font has the letters of the common scripts and is linked to fonts of the
// others. Wine's has no Greek and no links: there, an installed font of its kind that has them.
const std::wstring& Win32Runtime::NamesFace(const LOGFONTW& message)
{
    if (namesFace_.empty()) {
        constexpr std::wstring_view kLetters = L"\x0391\x03B1\x03A9\x03C9\x0416\x0436\x042F\x044F"; // ΑαΩωЖжЯя
        const WindowDc screen(nullptr);
        namesFace_ = message.lfFaceName;
        if (!Draws(screen.get(), message, kLetters)) {
            for (const wchar_t* face :
                 {L"Segoe UI", L"Microsoft Sans Serif", L"Arial", L"DejaVu Sans", L"Liberation Sans", L"Noto Sans"}) {
                LOGFONTW candidate = message;
                std::wcsncpy(candidate.lfFaceName, face, LF_FACESIZE - 1);
                if (Installed(screen.get(), face) && Draws(screen.get(), candidate, kLetters)) {
                    namesFace_ = face;
                    break;
                }
            }
        }
    }
    return namesFace_;
}

bool Win32Runtime::SystemHighContrast()
{
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) != FALSE &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void Win32Runtime::SyncAll()
{
    const Busy busy(*this);
    for (const auto& window : windows_) {
        window->Sync();
    }
}

RECT Win32Runtime::ControlRect(const Form& form, std::wstring_view control)
{
    const FormWindow* window = Find(form);
    if (window == nullptr) {
        return {};
    }
    return window->PixelRect(form[control]);
}

void Win32Runtime::PumpMessages()
{
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        Deliver(message);
    }
}

} // namespace platform::win32
