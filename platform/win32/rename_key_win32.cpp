// Renaming a registry key in one step, with a guard for Wine's registry server.
#include "platform/win32/os_win32.h"

namespace platform::win32 {

namespace {

// Wine 8's server, renaming a key to a name that keeps its place among its siblings but sorts
// after its old name, writes it over the next sibling in its index: that sibling (the new list
// beside the add-on's key) can no longer be opened, and later registry calls hang. A key whose
// name lies between the two for the moment makes the rename move the key, which it does right.
// Gives the spacer's path when one was made.
std::wstring MakeSpacer(const std::wstring& path, const std::wstring& newName)
{
    const std::size_t slash = path.rfind(L'\\');
    const std::wstring oldName = path.substr(slash == std::wstring::npos ? 0 : slash + 1);
    const std::wstring spacerName = newName.substr(0, newName.size() - 1); // sorts just before the new name
    if (spacerName.empty() ||
        ::CompareStringOrdinal(oldName.c_str(), -1, spacerName.c_str(), -1, TRUE) != CSTR_LESS_THAN) {
        return {};
    }
    const std::wstring spacer = slash == std::wstring::npos ? spacerName : path.substr(0, slash + 1) + spacerName;
    HKEY made = nullptr;
    DWORD disposition = 0;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, spacer.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_READ, nullptr, &made,
                          &disposition) != ERROR_SUCCESS) {
        return {};
    }
    const Key owned(made);
    return disposition == REG_CREATED_NEW_KEY ? spacer : std::wstring();
}

} // namespace

void Win32Os::RenameRegistryKey(const std::wstring& key, const std::wstring& newName)
{
    const std::wstring path = BelowCurrentUser(key);
    const std::wstring spacer = MakeSpacer(path, newName);
    const LSTATUS status = ::RegRenameKey(HKEY_CURRENT_USER, path.c_str(), newName.c_str());
    if (!spacer.empty()) {
        ::RegDeleteKeyW(HKEY_CURRENT_USER, spacer.c_str());
    }
    if (status != ERROR_SUCCESS) {
        throw Failure(L"Renaming the registry key", key + L" to " + newName, ErrorText(status));
    }
}

} // namespace platform::win32
