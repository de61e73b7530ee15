#include "platform/forms.h"

#include <algorithm>
#include <stdexcept>

namespace platform {

namespace {

std::wstring Widen(const char* text)
{
    std::wstring wide;
    for (const char* c = text; *c != '\0'; ++c) {
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    return wide;
}

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t c : text) {
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return narrow;
}

std::wstring Join(std::wstring_view control, std::wstring_view event)
{
    std::wstring name(control);
    name += L'_';
    name += event;
    return name;
}

} // namespace

Failure::Failure(const std::wstring& operation, const std::wstring& subject, const std::wstring& reason)
    : std::runtime_error(Narrow(operation + L" " + subject + L": " + reason)),
      text_(operation + L" \"" + subject + L"\" failed:\n" + reason), subject_(subject), reason_(reason)
{
}

std::wstring FailureText(const std::exception& error)
{
    const auto* failure = dynamic_cast<const Failure*>(&error);
    return failure != nullptr ? failure->text() : Widen(error.what());
}

std::wstring StopMessage(const std::exception& error)
{
    return L"LarkSpool has to stop.\n\n" + FailureText(error);
}

bool TabStop(const Layout& layout, const Control& control, int clientWidth, int clientHeight)
{
    const bool takesKeys = control.kind == ControlKind::CheckBox || control.kind == ControlKind::TextBox ||
                           control.kind == ControlKind::ListView || control.kind == ControlKind::Option ||
                           control.kind == ControlKind::ComboBox ||
                           (control.kind == ControlKind::Label && control.command);
    if (!takesKeys || !control.visible) {
        return false;
    }
    // Anchored controls grow and move with the client area.
    const int grownX = clientWidth - layout.clientWidth;
    const int grownY = clientHeight - layout.clientHeight;
    const int left = control.left + ((control.anchor & kAnchorRight) != 0 ? grownX : 0);
    const int top = control.top + ((control.anchor & kAnchorBottom) != 0 ? grownY : 0);
    const int width = control.width + ((control.anchor & kAnchorWidth) != 0 ? grownX : 0);
    const int height = control.height + ((control.anchor & kAnchorHeight) != 0 ? grownY : 0);
    return left < clientWidth && top < clientHeight && left + width > 0 && top + height > 0;
}

std::wstring FirstFocus(const Layout& layout, const std::vector<Control>& controls)
{
    const Control* first = nullptr;
    for (const Control& control : controls) {
        if (!TabStop(layout, control, layout.clientWidth, layout.clientHeight)) {
            continue;
        }
        if (control.name == layout.defaultCommand) {
            return control.name;
        }
        if (first == nullptr || control.tabIndex < first->tabIndex) {
            first = &control;
        }
    }
    return first != nullptr ? first->name : std::wstring();
}

Form::Form(Os& system, Runtime& forms, Layout layout)
    : os(system), runtime(forms), layout_(std::move(layout)), controls_(layout_.controls)
{
    Caption = layout_.caption;
}

namespace {

template <typename Controls> auto& FindControl(Controls& controls, std::wstring_view name)
{
    auto found = std::find_if(controls.begin(), controls.end(), [&](const Control& c) { return c.name == name; });
    if (found == controls.end()) {
        throw std::logic_error("no such control: " + Narrow(std::wstring(name)));
    }
    return *found;
}

} // namespace

Control& Form::operator[](std::wstring_view name)
{
    return FindControl(controls_, name);
}

const Control& Form::operator[](std::wstring_view name) const
{
    return FindControl(controls_, name);
}

void Form::Load()
{
    controls_ = layout_.controls;
    Caption = layout_.caption;
    Fire(L"Form", L"Load");
}

bool Form::Fire(std::wstring_view control, std::wstring_view event)
{
    EventArgs args;
    return Fire(control, event, args);
}

bool Form::Fire(std::wstring_view control, std::wstring_view event, EventArgs& args)
{
    auto found = handlers_.find(Join(control, event));
    if (found == handlers_.end()) {
        return false;
    }
    try {
        found->second(args);
    } catch (const std::exception& error) {
        os.MsgBox(StopMessage(error), MessageKind::Error);
        if (beforeFailureEnds) {
            beforeFailureEnds();
        }
        os.End(kExitFailure);
    }
    return true;
}

bool Form::HasHandler(std::wstring_view control, std::wstring_view event) const
{
    return handlers_.find(Join(control, event)) != handlers_.end();
}

// A handler is named after a control or menu of the layout, or the form itself: a misspelt name
// would never run, so it stops the form from being built.
void Form::On(std::wstring_view handlerName, Handler handler)
{
    const std::wstring_view owner = handlerName.substr(0, handlerName.find(L'_'));
    const bool known =
        owner == L"Form" ||
        std::any_of(layout_.controls.begin(), layout_.controls.end(),
                    [&](const Control& c) { return c.name == owner; }) ||
        std::any_of(layout_.menus.begin(), layout_.menus.end(), [&](const MenuItem& m) { return m.name == owner; });
    if (!known || owner.size() == handlerName.size()) {
        throw std::logic_error("no control or menu for the handler " + Narrow(std::wstring(handlerName)));
    }
    handlers_.emplace(std::wstring(handlerName), std::move(handler));
}

} // namespace platform
