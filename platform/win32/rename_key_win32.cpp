// Renaming a registry key: in one step where the system can do it safely.
#include "platform/win32/os_win32.h"

namespace platform::win32 {

namespace {

bool RunsUnderWine()
{
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Wine 8's registry server mishandles a rename: when the new name sorts just after the old one,
// it writes the key over its next sibling in its index (the restore's new list could no longer be
// opened, and later calls hung), and it fails once the program has ended, taking every program of
// the user with it, the messenger too. There the key is copied under its new name and then
// removed: not one step, so a caller that must survive a crash in between tells the two apart by
// what they hold (the copy grows, then the original shrinks).
void CopyAndRemoveKey(const std::wstring& key, const std::wstring& below, const std::wstring& newName)
{
    const std::wstring target = below.substr(0, below.find_last_of(L'\\') + 1) + newName;
    HKEY source = nullptr;
    LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, below.c_str(), 0, KEY_READ, &source);
    const Key sourceOwner(source);
    HKEY created = nullptr;
    DWORD disposition = 0;
    if (status == ERROR_SUCCESS) {
        status = ::RegCreateKeyExW(HKEY_CURRENT_USER, target.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                                   &disposition);
    }
    const Key createdOwner(created);
    if (status == ERROR_SUCCESS && disposition != REG_CREATED_NEW_KEY) {
        status = ERROR_ALREADY_EXISTS;
    } else if (status == ERROR_SUCCESS) {
        status = ::RegCopyTreeW(source, nullptr, created);
        if (status != ERROR_SUCCESS) {
            ::RegDeleteTreeW(HKEY_CURRENT_USER, target.c_str()); // the original still stands whole
            ::RegDeleteKeyW(HKEY_CURRENT_USER, target.c_str());
        }
    }
    if (status == ERROR_SUCCESS) {
        status = ::RegDeleteTreeW(HKEY_CURRENT_USER, below.c_str());
    }
    if (status == ERROR_SUCCESS) {
        status = ::RegDeleteKeyW(HKEY_CURRENT_USER, below.c_str());
        status = status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status; // gone with its tree already
    }
    if (status != ERROR_SUCCESS) {
        throw Failure(L"Renaming the registry key", key + L" to " + newName, ErrorText(status));
    }
}

} // namespace

void Win32Os::RenameRegistryKey(const std::wstring& key, const std::wstring& newName)
{
    const std::wstring below = BelowCurrentUser(key);
    if (RunsUnderWine()) {
        CopyAndRemoveKey(key, below, newName);
        return;
    }
    const LSTATUS status = ::RegRenameKey(HKEY_CURRENT_USER, below.c_str(), newName.c_str());
    if (status != ERROR_SUCCESS) {
        throw Failure(L"Renaming the registry key", key + L" to " + newName, ErrorText(status));
    }
}

} // namespace platform::win32
