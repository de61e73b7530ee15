// What the forms' controls tell assistive technology (MSAA): their role, name and state. Where
// the system's own object for a control already gives its role (Windows does for buttons, check
// boxes, lists, text boxes and progress bars), that object answers; where it does not (Wine gives
// every control the role of a plain client area), the runtime's own does.
#pragma once

#include "platform/forms.h"
#include "platform/win32/handles.h"

#include <oleacc.h>

#include <optional>

namespace platform::win32 {

// The MSAA role of a control's window; 0 for none of the runtime's own.
LONG RoleOf(const Control& control);

// The window text of a control: its caption, marked with "&" before its access key's letter.
// A command label's always is: the form paints it, and underlines the letter only while Alt is
// held. A check box's is only while Alt is held, as Wine's check box would underline it always.
std::wstring WindowTextOf(const Control& control, bool altHeld);

// oleacc and COM, loaded at the first question of assistive technology: most runs ask none.
class Accessibility {
public:
    Accessibility() = default;
    ~Accessibility();
    Accessibility(const Accessibility&) = delete;
    Accessibility& operator=(const Accessibility&) = delete;

    // The answer to WM_GETOBJECT for a control's client area; none where the system's own object
    // answers.
    std::optional<LRESULT> Answer(HWND window, LONG role, WPARAM wParam, LPARAM lParam);

private:
    bool Load();

    Library oleacc_;
    Library ole32_;
    Library oleaut32_;
    decltype(&::SysAllocStringLen) allocString_ = nullptr;
    bool comStarted_ = false;
    bool tried_ = false;
    bool loaded_ = false;
    decltype(&::LresultFromObject) lresultFromObject_ = nullptr;
    decltype(&::CreateStdAccessibleObject) createStdObject_ = nullptr;
};

} // namespace platform::win32
