#include "platform/win32/accessible.h"

#include "platform/win32/os_win32.h"

#include <commctrl.h>

#include <atomic>
#include <cwctype>
#include <memory>
#include <string>

namespace platform::win32 {

namespace {

std::wstring TextOf(HWND window)
{
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// A caption as it is read: without the "&" that marks its access key.
std::wstring WithoutAmpersand(std::wstring text)
{
    const auto at = text.find(L'&');
    if (at != std::wstring::npos) {
        text.erase(at, 1);
    }
    return text;
}

using AllocString = decltype(&::SysAllocStringLen);

void Clear(VARIANT* variant)
{
    variant->vt = VT_EMPTY;
}

void SetI4(VARIANT* variant, LONG value)
{
    variant->vt = VT_I4;
    variant->lVal = value;
}

std::wstring ListCell(HWND list, int row, int column)
{
    wchar_t text[512] = L"";
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 512;
    ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

// One control's window as MSAA shows it; a list's rows are its children, numbered from 1.
class ControlObject final : public IAccessible {
public:
    // Strings go to the client in the system's allocation, from oleaut32.dll, loaded with oleacc.
    ControlObject(HWND window, LONG role, AllocString allocString)
        : window_(window), role_(role), allocString_(allocString)
    {
    }
    ControlObject(const ControlObject&) = delete;
    ControlObject& operator=(const ControlObject&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0) {
            const std::unique_ptr<ControlObject> last(this);
        }
        return left;
    }

    // IDispatch: not offered; MSAA clients call the interface directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override
    {
        *parent = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override
    {
        *count = role_ == ROLE_SYSTEM_LIST ? Rows() : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT, IDispatch** child) override
    {
        *child = nullptr; // the rows are simple elements
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        *name = nullptr;
        const LONG row = Row(child);
        if (row < 0) {
            return E_INVALIDARG;
        }
        if (row > 0) {
            return Text(ListCell(window_, row - 1, 0), name);
        }
        if (role_ == ROLE_SYSTEM_TEXT || role_ == ROLE_SYSTEM_LIST) {
            return S_FALSE;
        }
        return Text(WithoutAmpersand(TextOf(window_)), name);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        *value = nullptr;
        if (Row(child) < 0) {
            return E_INVALIDARG;
        }
        if (Row(child) == 0 && role_ == ROLE_SYSTEM_PROGRESSBAR) {
            return Text(Percent(), value);
        }
        return Row(child) == 0 && role_ == ROLE_SYSTEM_TEXT ? Text(TextOf(window_), value) : S_FALSE;
    }
    // A row's other columns, as "Heading: text" each.
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override
    {
        *description = nullptr;
        const LONG row = Row(child);
        if (row <= 0) {
            return row < 0 ? E_INVALIDARG : S_FALSE;
        }
        HWND header = reinterpret_cast<HWND>(::SendMessageW(window_, LVM_GETHEADER, 0, 0));
        const auto columns = static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
        std::wstring text;
        for (int column = 1; column < columns; ++column) {
            wchar_t heading[128] = L"";
            LVCOLUMNW info{};
            info.mask = LVCF_TEXT;
            info.pszText = heading;
            info.cchTextMax = 128;
            ::SendMessageW(window_, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
            text += (text.empty() ? L"" : L", ") + std::wstring(heading) + L": " + ListCell(window_, row - 1, column);
        }
        return Text(text, description);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        const LONG row = Row(child);
        if (row < 0) {
            Clear(role);
            return E_INVALIDARG;
        }
        SetI4(role, row > 0 ? ROLE_SYSTEM_LISTITEM : role_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        const LONG row = Row(child);
        if (row < 0) {
            Clear(state);
            return E_INVALIDARG;
        }
        SetI4(state, row > 0 ? RowState(row - 1) : State());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* help) override
    {
        *help = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) override
    {
        *file = nullptr;
        *topic = 0;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override
    {
        *shortcut = nullptr;
        const std::wstring text = Row(child) == 0 ? TextOf(window_) : std::wstring();
        const auto at = text.find(L'&');
        if (role_ == ROLE_SYSTEM_STATICTEXT || at == std::wstring::npos || at + 1 >= text.size()) {
            return S_FALSE;
        }
        return Text(L"Alt+" + text.substr(at + 1, 1), shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override
    {
        Clear(focus);
        if (::GetFocus() != window_) {
            return S_FALSE;
        }
        const LRESULT row = role_ == ROLE_SYSTEM_LIST
                                ? ::SendMessageW(window_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED)
                                : -1;
        SetI4(focus, row >= 0 ? static_cast<LONG>(row) + 1 : CHILDID_SELF);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override
    {
        Clear(selection);
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        *action = nullptr;
        if (Row(child) != 0) {
            return S_FALSE;
        }
        if (role_ == ROLE_SYSTEM_PUSHBUTTON) {
            return Text(L"Press", action);
        }
        if (role_ == ROLE_SYSTEM_LINK) {
            return Text(L"Jump", action);
        }
        if (role_ == ROLE_SYSTEM_CHECKBUTTON) {
            return Text(Checked() ? L"Uncheck" : L"Check", action);
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG, VARIANT) override { return DISP_E_MEMBERNOTFOUND; }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override
    {
        const LONG row = Row(child);
        RECT rect{};
        if (row < 0) {
            return E_INVALIDARG;
        }
        if (row > 0) {
            rect.left = LVIR_BOUNDS;
            ::SendMessageW(window_, LVM_GETITEMRECT, static_cast<WPARAM>(row - 1), reinterpret_cast<LPARAM>(&rect));
            ::MapWindowPoints(window_, nullptr, reinterpret_cast<POINT*>(&rect), 2);
        } else {
            ::GetWindowRect(window_, &rect);
        }
        *left = rect.left;
        *top = rect.top;
        *width = rect.right - rect.left;
        *height = rect.bottom - rect.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG, VARIANT, VARIANT* end) override
    {
        Clear(end);
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override
    {
        RECT rect{};
        ::GetWindowRect(window_, &rect);
        Clear(child);
        if (!::PtInRect(&rect, POINT{x, y})) {
            return S_FALSE;
        }
        SetI4(child, CHILDID_SELF);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        if (Row(child) != 0 ||
            (role_ != ROLE_SYSTEM_PUSHBUTTON && role_ != ROLE_SYSTEM_LINK && role_ != ROLE_SYSTEM_CHECKBUTTON)) {
            return DISP_E_MEMBERNOTFOUND;
        }
        // Posted: the click may open a modal window, and the caller must not wait for it.
        ::PostMessageW(window_, BM_CLICK, 0, 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    ~ControlObject() = default;
    friend struct std::default_delete<ControlObject>;

    HRESULT Text(const std::wstring& text, BSTR* out) const
    {
        if (text.empty()) {
            return S_FALSE;
        }
        *out = allocString_(text.data(), static_cast<UINT>(text.size()));
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    LONG Rows() const { return static_cast<LONG>(::SendMessageW(window_, LVM_GETITEMCOUNT, 0, 0)); }
    // 0 for the control itself, a list's row from 1, -1 for what is neither.
    LONG Row(const VARIANT& child) const
    {
        if (child.vt != VT_I4) {
            return -1;
        }
        if (child.lVal == CHILDID_SELF) {
            return 0;
        }
        return role_ == ROLE_SYSTEM_LIST && child.lVal > 0 && child.lVal <= Rows() ? child.lVal : -1;
    }
    bool Checked() const { return ::SendMessageW(window_, BM_GETCHECK, 0, 0) == BST_CHECKED; }
    // A bar's share done, as Windows reads it: "40%"; nothing for a marquee, which has none.
    std::wstring Percent() const
    {
        if ((::GetWindowLongPtrW(window_, GWL_STYLE) & PBS_MARQUEE) != 0) {
            return L"";
        }
        PBRANGE range{};
        ::SendMessageW(window_, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        const auto done = static_cast<long long>(::SendMessageW(window_, PBM_GETPOS, 0, 0)) - range.iLow;
        const long long whole = static_cast<long long>(range.iHigh) - range.iLow;
        return whole > 0 ? std::to_wstring(done * 100 / whole) + L"%" : L"";
    }
    LONG State() const
    {
        LONG state = 0;
        if (!::IsWindowVisible(window_)) {
            state |= STATE_SYSTEM_INVISIBLE;
        }
        if (!::IsWindowEnabled(window_)) {
            state |= STATE_SYSTEM_UNAVAILABLE;
        } else if (role_ != ROLE_SYSTEM_STATICTEXT && role_ != ROLE_SYSTEM_PROGRESSBAR) {
            state |= STATE_SYSTEM_FOCUSABLE;
        }
        if (::GetFocus() == window_) {
            state |= STATE_SYSTEM_FOCUSED;
        }
        if ((role_ == ROLE_SYSTEM_CHECKBUTTON || role_ == ROLE_SYSTEM_RADIOBUTTON) && Checked()) {
            state |= STATE_SYSTEM_CHECKED;
        }
        if (role_ == ROLE_SYSTEM_LINK) {
            state |= STATE_SYSTEM_LINKED;
        }
        if ((role_ == ROLE_SYSTEM_TEXT && (::GetWindowLongPtrW(window_, GWL_STYLE) & ES_READONLY) != 0) ||
            role_ == ROLE_SYSTEM_PROGRESSBAR) {
            state |= STATE_SYSTEM_READONLY;
        }
        return state;
    }
    LONG RowState(LONG row) const
    {
        const auto itemState = static_cast<UINT>(
            ::SendMessageW(window_, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED | LVIS_FOCUSED));
        LONG state = STATE_SYSTEM_SELECTABLE | STATE_SYSTEM_FOCUSABLE;
        if ((::GetWindowLongPtrW(window_, GWL_STYLE) & LVS_SINGLESEL) == 0) {
            state |= STATE_SYSTEM_MULTISELECTABLE | STATE_SYSTEM_EXTSELECTABLE;
        }
        if ((itemState & LVIS_SELECTED) != 0) {
            state |= STATE_SYSTEM_SELECTED;
        }
        if ((itemState & LVIS_FOCUSED) != 0 && ::GetFocus() == window_) {
            state |= STATE_SYSTEM_FOCUSED;
        }
        return state;
    }

    HWND window_;
    LONG role_;
    AllocString allocString_;
    std::atomic<ULONG> references_{1};
};

} // namespace

LONG RoleOf(const Control& control)
{
    switch (control.kind) {
    case ControlKind::Label:
        return control.command ? ROLE_SYSTEM_PUSHBUTTON : control.liveRegion ? ROLE_SYSTEM_STATICTEXT : 0;
    case ControlKind::Picture:
        return control.accessibleName.empty() ? 0 : ROLE_SYSTEM_LINK;
    case ControlKind::CheckBox:
        return ROLE_SYSTEM_CHECKBUTTON;
    case ControlKind::Option:
        return ROLE_SYSTEM_RADIOBUTTON;
    case ControlKind::TextBox:
        return ROLE_SYSTEM_TEXT;
    case ControlKind::ListView:
        return ROLE_SYSTEM_LIST;
    case ControlKind::ProgressBar:
        return ROLE_SYSTEM_PROGRESSBAR;
    default:
        return 0;
    }
}

std::wstring WindowTextOf(const Control& control, bool altHeld)
{
    if (control.kind == ControlKind::Picture) {
        return control.accessibleName;
    }
    std::wstring text = control.caption;
    if (control.accessKey != 0 && (control.command || altHeld)) {
        const wchar_t keys[] = {static_cast<wchar_t>(std::towlower(control.accessKey)),
                                static_cast<wchar_t>(std::towupper(control.accessKey)), L'\0'};
        const auto at = text.find_first_of(keys);
        if (at != std::wstring::npos) {
            text.insert(at, 1, L'&');
        }
    }
    return text;
}

Accessibility::~Accessibility()
{
    if (comStarted_) {
        const auto uninitialize = LibraryFunction<decltype(&::CoUninitialize)>(ole32_, "CoUninitialize");
        uninitialize();
    }
}

bool Accessibility::Load()
{
    if (tried_) {
        return loaded_;
    }
    tried_ = true;
    try {
        Library ole32 = LoadSystemLibrary(L"ole32.dll");
        Library oleacc = LoadSystemLibrary(L"oleacc.dll");
        Library oleaut32 = LoadSystemLibrary(L"oleaut32.dll");
        const auto initialize = LibraryFunction<decltype(&::CoInitializeEx)>(ole32, "CoInitializeEx");
        lresultFromObject_ = LibraryFunction<decltype(&::LresultFromObject)>(oleacc, "LresultFromObject");
        createStdObject_ = LibraryFunction<decltype(&::CreateStdAccessibleObject)>(oleacc, "CreateStdAccessibleObject");
        allocString_ = LibraryFunction<AllocString>(oleaut32, "SysAllocStringLen");
        // The objects are handed over by COM, which this thread may not have started yet.
        comStarted_ = SUCCEEDED(initialize(nullptr, COINIT_APARTMENTTHREADED));
        ole32_ = std::move(ole32);
        oleacc_ = std::move(oleacc);
        oleaut32_ = std::move(oleaut32);
        loaded_ = true;
    } catch (const Failure&) {
        // The system's own objects answer.
    }
    return loaded_;
}

std::optional<LRESULT> Accessibility::Answer(HWND window, LONG role, WPARAM wParam, LPARAM lParam)
{
    if (static_cast<LONG>(lParam) != OBJID_CLIENT || role == 0 || !Load()) {
        return std::nullopt;
    }
    IAccessible* system = nullptr;
    if (SUCCEEDED(createStdObject_(window, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&system))) &&
        system != nullptr) {
        VARIANT self;
        SetI4(&self, CHILDID_SELF);
        VARIANT systemRole;
        Clear(&systemRole);
        const bool known =
            SUCCEEDED(system->get_accRole(self, &systemRole)) && systemRole.vt == VT_I4 && systemRole.lVal == role;
        system->Release();
        if (known) {
            return std::nullopt;
        }
    }
    auto object = std::make_unique<ControlObject>(window, role, allocString_);
    const LRESULT result = lresultFromObject_(__uuidof(IAccessible), wParam, object.get());
    object.release()->Release(); // what LresultFromObject handed over keeps its own reference
    return result;
}

} // namespace platform::win32
