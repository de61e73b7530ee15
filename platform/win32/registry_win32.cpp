// The registry: the program's settings, and the list's key read as a whole tree and written back.
#include "platform/win32/os_win32.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

namespace platform::win32 {

namespace {

// Where GetSetting has always kept its entries, so that the count of an earlier version stays.
const std::wstring kSettingsRoot = L"Software\\VB and VBA Program Settings\\";

std::wstring SettingsKey(const std::wstring& appName, const std::wstring& section)
{
    return kSettingsRoot + appName + L"\\" + section;
}

} // namespace

std::wstring Win32Os::GetSetting(const std::wstring& appName, const std::wstring& section, const std::wstring& key)
{
    const std::wstring path = SettingsKey(appName, section);
    DWORD size = 0;
    LSTATUS status =
        ::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), key.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        return {};
    }
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1);
    if (status == ERROR_SUCCESS) {
        size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        status =
            ::RegGetValueW(HKEY_CURRENT_USER, path.c_str(), key.c_str(), RRF_RT_REG_SZ, nullptr, buffer.data(), &size);
    }
    if (status == ERROR_UNSUPPORTED_TYPE) {
        throw NotText(L"Reading the setting", L"HKEY_CURRENT_USER\\" + path + L"\\" + key, L"It is not text.");
    }
    if (status != ERROR_SUCCESS) {
        throw Failure(L"Reading the setting", L"HKEY_CURRENT_USER\\" + path + L"\\" + key, ErrorText(status));
    }
    return buffer.data();
}

void Win32Os::SaveSetting(const std::wstring& appName, const std::wstring& section, const std::wstring& key,
                          const std::wstring& value)
{
    const std::wstring path = SettingsKey(appName, section);
    HKEY opened = nullptr;
    LSTATUS status =
        ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr);
    const Key owner(opened);
    if (status == ERROR_SUCCESS) {
        status = ::RegSetValueExW(opened, key.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    if (status != ERROR_SUCCESS) {
        throw Failure(L"Writing the setting", L"HKEY_CURRENT_USER\\" + path + L"\\" + key, ErrorText(status));
    }
}

void Win32Os::DeleteSetting(const std::wstring& appName, const std::wstring& section)
{
    const std::wstring path = SettingsKey(appName, section);
    const LSTATUS status = ::RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    const LSTATUS gone = status == ERROR_SUCCESS ? ::RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str()) : status;
    if (gone != ERROR_SUCCESS && gone != ERROR_FILE_NOT_FOUND) {
        throw Failure(L"Removing the settings", L"HKEY_CURRENT_USER\\" + path, ErrorText(gone));
    }
}

namespace {

constexpr wchar_t kCurrentUserShort[] = L"HKCU\\";
constexpr wchar_t kCurrentUser[] = L"HKEY_CURRENT_USER\\";
constexpr int kRegistryReaders = 4;

} // namespace

std::wstring BelowCurrentUser(const std::wstring& key)
{
    for (const std::wstring prefix : {kCurrentUserShort, kCurrentUser}) {
        if (key.size() >= prefix.size() && ::CompareStringOrdinal(key.c_str(), static_cast<int>(prefix.size()),
                                                                  prefix.c_str(), -1, TRUE) == CSTR_EQUAL) {
            return key.substr(prefix.size());
        }
    }
    throw Failure(L"Reading the registry key", key, L"Only keys under HKEY_CURRENT_USER are read.");
}

namespace {

// Opens a key for reading; an empty owner when it does not exist.
Key OpenForReading(HKEY parent, const std::wstring& subkey, const std::wstring& fullName)
{
    HKEY opened = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(parent, subkey.c_str(), 0, KEY_READ, &opened);
    if (status == ERROR_FILE_NOT_FOUND) {
        return Key();
    }
    if (status != ERROR_SUCCESS) {
        throw Failure(L"Opening the registry key", fullName, ErrorText(status));
    }
    return Key(opened);
}

// The values of one open key; false when the key has been deleted since it was opened.
bool ReadValues(HKEY key, RegistryKey& into)
{
    DWORD longestName = 0, longestData = 0;
    LSTATUS status = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        &longestName, &longestData, nullptr, nullptr);
    if (status == ERROR_KEY_DELETED) {
        return false;
    }
    if (status != ERROR_SUCCESS) {
        throw Failure(L"Reading the registry key", into.path, ErrorText(status));
    }
    std::vector<wchar_t> name(longestName + 1);
    // Never empty: given no buffer, RegEnumValue reports a value's size and succeeds without
    // copying, also for a value that has gained data since the key was sized.
    std::vector<BYTE> data(std::max<DWORD>(longestData, 1));
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        status = ::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
        if (status == ERROR_NO_MORE_ITEMS) {
            return true;
        }
        if (status == ERROR_KEY_DELETED) {
            return false;
        }
        if (status == ERROR_MORE_DATA) { // a value grew while it was read: ask again with room for it
            name.resize(std::max<std::size_t>(name.size() * 2, 16384));
            data.resize(std::max<std::size_t>(data.size() * 2, dataLength));
            continue;
        }
        if (status != ERROR_SUCCESS) {
            throw Failure(L"Reading a value of the registry key", into.path, ErrorText(status));
        }
        into.values.push_back({.name = std::wstring(name.data(), nameLength),
                               .type = type,
                               .data = std::vector<std::uint8_t>(data.begin(), data.begin() + dataLength)});
        ++index;
    }
}

// The key and, depth first, all below it, without their values; a subkey deleted meanwhile is
// passed over.
void ListSubtree(HKEY key, const std::wstring& path, RegistryTree& tree)
{
    tree.push_back({.path = path, .values = {}});
    std::vector<wchar_t> subkey(256); // the registry's longest key name, with its NUL
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(subkey.size());
        const LSTATUS status = ::RegEnumKeyExW(key, index, subkey.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status == ERROR_KEY_DELETED) {
            tree.back().path.clear(); // left out with the keys deleted before their values were read
            return;
        }
        if (status != ERROR_SUCCESS) {
            throw Failure(L"Reading a subkey of the registry key", path, ErrorText(status));
        }
        names.emplace_back(subkey.data(), length);
    }
    for (const std::wstring& name : names) {
        const std::wstring childPath = path + L"\\" + name;
        const Key child = OpenForReading(key, name, childPath);
        if (child) {
            ListSubtree(child.get(), childPath, tree);
        }
    }
}

// The values of every key of the tree. Under Wine each value is a request to the registry's
// server; several threads keep it busy while each waits for its answer.
void ReadAllValues(RegistryTree& tree, std::size_t prefixLength)
{
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::exception_ptr failure;
    const auto work = [&] {
        for (std::size_t i = next++; i < tree.size(); i = next++) {
            if (tree[i].path.empty()) {
                continue; // deleted while it was listed
            }
            try {
                const Key key = OpenForReading(HKEY_CURRENT_USER, tree[i].path.substr(prefixLength), tree[i].path);
                if (!key || !ReadValues(key.get(), tree[i])) {
                    tree[i].path.clear(); // deleted since it was listed
                }
            } catch (...) {
                const std::lock_guard<std::mutex> guard(lock);
                failure = failure ? failure : std::current_exception();
            }
        }
    };
    {
        // Joined at the end of this block, also when one of them could not be started.
        std::vector<std::jthread> helpers;
        for (int i = 0; i < kRegistryReaders - 1 && static_cast<std::size_t>(i + 1) < tree.size(); ++i) {
            helpers.emplace_back(work);
        }
        work();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    std::erase_if(tree, [](const RegistryKey& key) { return key.path.empty(); });
}

// How one key stands; nothing when it was deleted meanwhile.
std::optional<KeyStamp> StampOf(HKEY key, const std::wstring& path)
{
    DWORD values = 0;
    FILETIME written{};
    const LSTATUS status = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                              nullptr, nullptr, nullptr, &written);
    if (status == ERROR_KEY_DELETED) {
        return std::nullopt;
    }
    if (status != ERROR_SUCCESS) {
        throw Failure(L"Reading the registry key", path, ErrorText(status));
    }
    return KeyStamp{.path = path,
                    .values = values,
                    .written = (std::uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime};
}

} // namespace

bool Win32Os::RegistryKeyExists(const std::wstring& key)
{
    return static_cast<bool>(OpenForReading(HKEY_CURRENT_USER, BelowCurrentUser(key), key));
}

std::optional<RegistryTree> Win32Os::ReadRegistryTree(const std::wstring& key)
{
    const std::wstring below = BelowCurrentUser(key);
    const Key opened = OpenForReading(HKEY_CURRENT_USER, below, key);
    if (!opened) {
        return std::nullopt;
    }
    RegistryTree tree;
    ListSubtree(opened.get(), kCurrentUser + below, tree);
    ReadAllValues(tree, std::wstring_view(kCurrentUser).size());
    if (tree.empty()) {
        return std::nullopt; // deleted while it was read
    }
    return tree;
}

std::optional<std::vector<KeyStamp>> Win32Os::ReadRegistryStamps(const std::wstring& key)
{
    const std::wstring below = BelowCurrentUser(key);
    const Key opened = OpenForReading(HKEY_CURRENT_USER, below, key);
    if (!opened) {
        return std::nullopt;
    }
    RegistryTree tree;
    ListSubtree(opened.get(), kCurrentUser + below, tree); // the paths only: no value is read
    std::vector<KeyStamp> stamps;
    for (const RegistryKey& listed : tree) {
        if (listed.path.empty()) {
            continue; // deleted while it was listed
        }
        const Key child =
            OpenForReading(HKEY_CURRENT_USER, listed.path.substr(std::wstring_view(kCurrentUser).size()), listed.path);
        if (child) {
            if (std::optional<KeyStamp> stamp = StampOf(child.get(), listed.path)) {
                stamps.push_back(std::move(*stamp));
            }
        }
    }
    return stamps;
}

void Win32Os::DeleteRegistryTree(const std::wstring& key)
{
    const LSTATUS status = ::RegDeleteTreeW(HKEY_CURRENT_USER, BelowCurrentUser(key).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        throw Failure(L"Deleting the registry key", key, ErrorText(status));
    }
    // RegDeleteTree empties the key; the key itself goes last.
    const LSTATUS gone = ::RegDeleteKeyW(HKEY_CURRENT_USER, BelowCurrentUser(key).c_str());
    if (gone != ERROR_SUCCESS && gone != ERROR_FILE_NOT_FOUND) {
        throw Failure(L"Deleting the registry key", key, ErrorText(gone));
    }
}

void Win32Os::WriteRegistryTree(const RegistryTree& tree)
{
    for (const RegistryKey& key : tree) {
        if (key.deleted) {
            continue;
        }
        HKEY created = nullptr;
        LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, BelowCurrentUser(key.path).c_str(), 0, nullptr, 0,
                                           KEY_SET_VALUE, nullptr, &created, nullptr);
        const Key owner(created);
        if (status != ERROR_SUCCESS) {
            throw Failure(L"Creating the registry key", key.path, ErrorText(status));
        }
        for (const RegistryValue& value : key.values) {
            if (value.deleted) {
                continue;
            }
            status = ::RegSetValueExW(created, value.name.c_str(), 0, value.type, value.data.data(),
                                      static_cast<DWORD>(value.data.size()));
            if (status != ERROR_SUCCESS) {
                throw Failure(L"Writing the value \"" + value.name + L"\" of the registry key", key.path,
                              ErrorText(status));
            }
        }
    }
}

} // namespace platform::win32
