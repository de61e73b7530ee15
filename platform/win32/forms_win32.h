// The forms runtime on Win32: one top-level window per loaded form, labels and pictures painted
// by the form itself, real child windows for the check box, the text box and the list view.
#pragma once

#include "platform/forms.h"
#include "platform/win32/accessible.h"
#include "platform/win32/handles.h"
#include "platform/win32/taskbar.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::win32 {

class FormWindow;

class Win32Runtime final : public Runtime {
public:
    explicit Win32Runtime(HINSTANCE instance);
    ~Win32Runtime() override;
    Win32Runtime(const Win32Runtime&) = delete;
    Win32Runtime& operator=(const Win32Runtime&) = delete;

    void Show(Form& form, int modal) override;
    void Unload(Form& form) override;
    void PopupMenu(Form& form, const std::wstring& menu) override;
    WindowHandle hWnd(const Form& form) override;
    void Announce(Form& form, const std::wstring& control) override;
    // Destroys every window before it returns: the forms they show belong to the caller.
    int Run(Form& startup) override;

    // Brings every loaded window up to date with its form's data.
    void SyncAll();
    // Where a control lies in its window's client area, in pixels.
    RECT ControlRect(const Form& form, std::wstring_view control);
    // Runs pending messages without waiting, as the program's loop does, for tests of the layer.
    static void PumpMessages();
    // How many windows' states the runtime holds, shown or unloaded and not yet freed.
    std::size_t WindowCount() const noexcept { return windows_.size(); }
    // The face of the forms' font, looked up once.
    const std::wstring& FontFace();
    // The face of the font for names, given the system's message font.
    const std::wstring& NamesFace(const LOGFONTW& message);
    void LoadCommonControls();
    // For the message loops: keys that show the keyboard cues or open the context menu, before
    // the dialog manager sees them; true when the key was used up.
    bool Cue(const MSG& message);

    // Whether the system's high-contrast mode is on. Tests may answer for the system: Wine 8
    // cannot turn it on.
    std::function<bool()> highContrast = &SystemHighContrast;
    static bool SystemHighContrast();

    // The form that was last active among the program's own windows.
    const Form* lastActive = nullptr;

private:
    friend class FormWindow;
    class Busy;

    FormWindow* Find(const Form& form) const;
    void PopupMenuAt(FormWindow& window, const std::wstring& menu, POINT at);

    void EnableOthers(const FormWindow& except, bool enable);
    void CloseAll();
    void FreeUnloaded();

    HINSTANCE instance_;
    int busy_ = 0; // runtime calls and window messages under way
    std::wstring fontFace_;
    std::wstring namesFace_;
    Library commonControls_; // freed after the windows, which are destroyed first
    Accessibility accessibility;
    Taskbar taskbar; // cleared by the windows as they go, so it outlives them
    std::vector<std::unique_ptr<FormWindow>> windows_;
};

} // namespace platform::win32
