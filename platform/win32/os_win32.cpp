#include "platform/win32/os_win32.h"

#include "platform/win32/handles.h"

#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <cwchar>
#include <exception>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
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

class Win32Process final : public Process {
public:
    explicit Win32Process(HANDLE process) : process_(process) {}

    std::optional<std::uint32_t> ExitCode() override
    {
        if (::WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) {
            return std::nullopt;
        }
        DWORD code = 0;
        if (!::GetExitCodeProcess(process_.get(), &code)) {
            ThrowLastError(L"Reading the exit code of", L"a started program");
        }
        return code;
    }

private:
    Handle process_;
};

} // namespace

namespace {

// One of the system's folders, as GetSystemDirectory and its kin give it.
std::wstring FolderPath(UINT(WINAPI* query)(LPWSTR, UINT), const wchar_t* what)
{
    wchar_t buffer[MAX_PATH];
    const UINT length = query(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        ThrowLastError(L"Finding", what);
    }
    return std::wstring(buffer, length);
}

} // namespace

std::wstring ErrorText(DWORD code)
{
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length != 0 ? std::wstring(buffer, length) : L"Error " + std::to_wstring(code) + L".";
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    return text;
}

void ThrowLastError(const std::wstring& operation, const std::wstring& subject)
{
    throw Failure(operation, subject, ErrorText(::GetLastError()));
}

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

Library LoadSystemLibrary(const wchar_t* name)
{
    Library library(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!library) {
        ThrowLastError(L"Loading the system library", name);
    }
    return library;
}

std::unique_ptr<Process> Win32Os::Shell(const std::wstring& commandLine, int windowStyle)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(windowStyle == vbMinimizedFocus     ? SW_SHOWMINIMIZED
                                            : windowStyle == vbMinimizedNoFocus ? SW_SHOWMINNOACTIVE
                                                                                : SW_SHOWNORMAL);
    PROCESS_INFORMATION started{};
    std::wstring mutableLine = commandLine;
    if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &started)) {
        ThrowLastError(L"Starting", commandLine);
    }
    const Handle thread(started.hThread);
    return std::make_unique<Win32Process>(started.hProcess);
}

std::wstring Win32Os::AppPath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            ThrowLastError(L"Finding", L"the program's own folder");
        }
        if (length < buffer.size()) {
            std::wstring path(buffer.data(), length);
            path.erase(path.find_last_of(L'\\'));
            if (path.size() == 2 && path[1] == L':') {
                path += L'\\';
            }
            return path;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring Win32Os::SystemPath()
{
    return FolderPath(::GetSystemDirectoryW, L"the system folder");
}

std::wstring Win32Os::WindowsPath()
{
    return FolderPath(::GetSystemWindowsDirectoryW, L"the Windows folder");
}

bool Win32Os::FileExists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32Os::FolderExists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring CurrentUserSid()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    const Handle owner(token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    wchar_t* sid = nullptr;
    if (size == 0 || !::GetTokenInformation(token, TokenUser, user.data(), size, &size) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
        return {};
    }
    std::wstring text(sid);
    ::LocalFree(sid);
    return text;
}

namespace {

// An access list for the current user, SYSTEM and the administrators only, inherited by what is
// made inside and inheriting nothing: backups lie in C:\, which every user may read.
// Null when the user's identity cannot be read.
struct PrivateSecurity {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PrivateSecurity()
    {
        const std::wstring sid = CurrentUserSid();
        if (sid.empty()) {
            return;
        }
        const std::wstring sddl = L"D:P(A;OICI;FA;;;" + sid + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                    nullptr)) {
            descriptor = nullptr;
        }
    }
    ~PrivateSecurity() { ::LocalFree(descriptor); }
    PrivateSecurity(const PrivateSecurity&) = delete;
    PrivateSecurity& operator=(const PrivateSecurity&) = delete;
};

} // namespace

bool Win32Os::MakeNewDir(const std::wstring& path)
{
    // Built once: the user does not change while the program runs, and later exports need not wait for it.
    static const PrivateSecurity security;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security.descriptor, FALSE};
    if (::CreateDirectoryW(path.c_str(), security.descriptor != nullptr ? &attributes : nullptr)) {
        return true;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        return false;
    }
    // A drive that keeps no access lists: the folder as the drive makes it.
    if (security.descriptor != nullptr && ::CreateDirectoryW(path.c_str(), nullptr)) {
        return true;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        return false;
    }
    ThrowLastError(L"Creating the folder", path);
}

void Win32Os::AppendText(const std::wstring& path, const std::wstring& text)
{
    const FileHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        ThrowLastError(L"Opening the file", path);
    }
    const int size =
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        ThrowLastError(L"Writing the file", path);
    }
}

void Win32Os::SetAttr(const std::wstring& path, unsigned attributes)
{
    // Win32 spells "no attribute at all" as FILE_ATTRIBUTE_NORMAL.
    if (!::SetFileAttributesW(path.c_str(), attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes)) {
        ThrowLastError(L"Setting the attributes of", path);
    }
}

std::uint64_t Win32Os::FileLen(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        ThrowLastError(L"Reading the size of", path);
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<std::uint8_t> Win32Os::ReadFileBytes(const std::wstring& path)
{
    const FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        ThrowLastError(L"Opening the file", path);
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr)) {
            ThrowLastError(L"Reading the file", path);
        }
        if (read == 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), chunk, chunk + read);
    }
}

void Win32Os::RemoveFile(const std::wstring& path)
{
    if (!::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL) || !::DeleteFileW(path.c_str())) {
        ThrowLastError(L"Deleting the file", path);
    }
}

bool Win32Os::RemoveEmptyDir(const std::wstring& path)
{
    if (::RemoveDirectoryW(path.c_str())) {
        return true;
    }
    if (::GetLastError() == ERROR_DIR_NOT_EMPTY) {
        return false;
    }
    ThrowLastError(L"Removing the folder", path);
}

void Win32Os::RemoveFolder(const std::wstring& path)
{
    WIN32_FIND_DATAW found{};
    const FindHandle search(
        ::FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!search && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        ThrowLastError(L"Listing the folder", path);
    }
    for (bool more = static_cast<bool>(search); more; more = ::FindNextFileW(search.get(), &found)) {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        // A link to a folder is removed as a link; what it points to is not this backup's.
        const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                            (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        if (folder) {
            RemoveFolder(path + L"\\" + name);
        } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (!::RemoveDirectoryW((path + L"\\" + name).c_str())) {
                ThrowLastError(L"Removing the folder", path + L"\\" + name);
            }
        } else {
            RemoveFile(path + L"\\" + name);
        }
    }
    if (search && ::GetLastError() != ERROR_NO_MORE_FILES) {
        ThrowLastError(L"Listing the folder", path);
    }
    if (!::RemoveDirectoryW(path.c_str())) {
        ThrowLastError(L"Removing the folder", path);
    }
}

std::vector<std::wstring> Win32Os::ListFolders(const std::wstring& folder)
{
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = folder + (folder.empty() || folder.back() != L'\\' ? L"\\*" : L"*");
    const FindHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchLimitToDirectories,
                                               nullptr, FIND_FIRST_EX_LARGE_FETCH));
    std::vector<std::wstring> names;
    if (!search) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
            return names;
        }
        ThrowLastError(L"Listing the folder", folder);
    }
    do {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (::FindNextFileW(search.get(), &found));
    if (::GetLastError() != ERROR_NO_MORE_FILES) {
        ThrowLastError(L"Listing the folder", folder);
    }
    return names;
}

namespace {

class ThreadJob final : public Job {
public:
    explicit ThreadJob(std::function<void()> work)
        : state_(std::make_shared<State>()), thread_([state = state_, run = std::move(work)] {
              try {
                  run();
              } catch (...) {
                  // Told where the job is looked at, instead of ending the program here.
                  state->failure = std::current_exception();
              }
              state->done.store(true, std::memory_order_release);
          })
    {
    }
    ~ThreadJob() override
    {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    ThreadJob(const ThreadJob&) = delete;
    ThreadJob& operator=(const ThreadJob&) = delete;
    bool Done() override
    {
        if (!state_->done.load(std::memory_order_acquire)) {
            return false;
        }
        if (std::exception_ptr failure = std::exchange(state_->failure, nullptr)) {
            std::rethrow_exception(failure);
        }
        return true;
    }
    void LetGo() override { thread_.detach(); }

private:
    struct State {
        std::atomic<bool> done{false};
        std::exception_ptr failure;
    };
    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace

std::unique_ptr<Job> Win32Os::StartJob(std::function<void()> work)
{
    try {
        return std::make_unique<ThreadJob>(std::move(work));
    } catch (const std::system_error& error) {
        throw Failure(L"Starting a thread", L"", std::wstring(error.what(), error.what() + std::strlen(error.what())));
    }
}

namespace {

// The windows that ask Windows not to end the session; used on the windows' thread only.
std::set<HWND>& SessionBlockers()
{
    static std::set<HWND> blockers;
    return blockers;
}

} // namespace

void Win32Os::BlockEndOfSession(WindowHandle window, const std::wstring& reason)
{
    const HWND hwnd = reinterpret_cast<HWND>(window);
    // Wine keeps no reason (the calls fail with ERROR_CALL_NOT_IMPLEMENTED): the session is then
    // held up by the window's answer alone, without the reason shown.
    if (reason.empty()) {
        SessionBlockers().erase(hwnd);
        ::ShutdownBlockReasonDestroy(hwnd);
    } else {
        SessionBlockers().insert(hwnd);
        ::ShutdownBlockReasonCreate(hwnd, reason.c_str());
    }
}

bool EndOfSessionBlocked(HWND window)
{
    return SessionBlockers().count(window) != 0;
}

std::wstring Win32Os::DateText()
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    wchar_t text[16];
    std::swprintf(text, 16, L"%02u-%02u-%04u", now.wMonth, now.wDay, now.wYear);
    return text;
}

std::wstring Win32Os::TimeText()
{
    wchar_t text[80];
    const int length = ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, nullptr, nullptr, text, 80);
    if (length == 0) {
        ThrowLastError(L"Formatting", L"the time of day");
    }
    return text;
}

std::wstring Win32Os::DecimalSeparator()
{
    wchar_t text[8];
    if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, text, 8) == 0) {
        ThrowLastError(L"Reading", L"the decimal separator");
    }
    return text;
}

bool Win32Os::SetWindowPos(WindowHandle hWnd, WindowHandle hWndInsertAfter, int x, int y, int cx, int cy,
                           unsigned flags)
{
    return ::SetWindowPos(reinterpret_cast<HWND>(hWnd), reinterpret_cast<HWND>(hWndInsertAfter), x, y, cx, cy, flags) !=
           FALSE;
}

void Win32Os::MsgBox(const std::wstring& text, MessageKind kind)
{
    // The main window is topmost: the message must come up above it.
    const UINT icon = kind == MessageKind::Error ? MB_ICONERROR : MB_ICONINFORMATION;
    ::MessageBoxW(::GetActiveWindow(), text.c_str(), L"LarkSpool", MB_OK | icon | MB_TOPMOST | MB_SETFOREGROUND);
}

void Win32Os::Report(WindowHandle owner, const std::wstring& text, MessageKind kind)
{
    const HWND window = reinterpret_cast<HWND>(owner);
    DWORD foreground = 0;
    ::GetWindowThreadProcessId(::GetForegroundWindow(), &foreground);
    if (foreground != ::GetCurrentProcessId()) {
        FLASHWINFO flash{sizeof flash, window, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
        ::FlashWindowEx(&flash);
    }
    const UINT icon = kind == MessageKind::Error ? MB_ICONERROR : MB_ICONINFORMATION;
    ::MessageBoxW(window, text.c_str(), L"LarkSpool", MB_OK | icon | MB_SETFOREGROUND);
}

void Win32Os::Sleep(int milliseconds)
{
    ::Sleep(static_cast<DWORD>(milliseconds));
}

// A program of the window kind has no console of its own: the lines go to the console it was
// started from, or wherever that sent its output. Started from Explorer or the Task Scheduler,
// there is none, and nothing is written.
void Win32Os::Print(const std::wstring& line)
{
    Write(output_, STD_OUTPUT_HANDLE, line);
}

void Win32Os::PrintError(const std::wstring& line)
{
    Write(error_, STD_ERROR_HANDLE, line);
}

void Win32Os::Write(Stream& stream, DWORD which, const std::wstring& line)
{
    if (!stream.looked) {
        stream.looked = true;
        stream.handle = ::GetStdHandle(which);
        if (stream.handle == nullptr || stream.handle == INVALID_HANDLE_VALUE) {
            // Attached once; both streams then write to the parent's console.
            if (!console_ && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
                console_.reset(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
            }
            stream.handle = console_ ? console_.get() : nullptr;
        }
        DWORD mode = 0;
        stream.isConsole = stream.handle != nullptr && ::GetConsoleMode(stream.handle, &mode);
        // A console's handle that LarkSpool.com handed on: attached to that console, the lines
        // are written to it as text of any language, not as bytes in its code page.
        if (!stream.isConsole && stream.handle != nullptr && ::GetFileType(stream.handle) == FILE_TYPE_CHAR) {
            ::AttachConsole(ATTACH_PARENT_PROCESS); // fails harmlessly when attached already
            stream.isConsole = ::GetConsoleMode(stream.handle, &mode);
        }
    }
    if (stream.handle == nullptr || stream.handle == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::wstring text = line + L"\r\n";
    DWORD written = 0;
    // A reader that went away (a closed console or pipe) is no reason to stop a backup.
    if (stream.isConsole) {
        ::WriteConsoleW(stream.handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    ::WriteFile(stream.handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool Win32Os::Ask(const std::wstring& text)
{
    return ::MessageBoxW(::GetActiveWindow(), text.c_str(), L"LarkSpool",
                         MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION | MB_TOPMOST | MB_SETFOREGROUND) == IDYES;
}

void Win32Os::End(int exitCode)
{
    ::ExitProcess(static_cast<UINT>(exitCode));
}

} // namespace platform::win32

namespace platform {

std::wstring DecodeAnsi(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty()) {
        return {}; // the system refuses to convert nothing
    }
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        throw Failure(L"Decoding", L"8-bit text", L"It is longer than 2 GB.");
    }
    const auto* narrow = reinterpret_cast<const char*>(bytes.data());
    const int length = static_cast<int>(bytes.size());
    const int size = ::MultiByteToWideChar(CP_ACP, 0, narrow, length, nullptr, 0);
    if (size == 0) {
        win32::ThrowLastError(L"Decoding", L"8-bit text");
    }
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    if (::MultiByteToWideChar(CP_ACP, 0, narrow, length, text.data(), size) != size) {
        win32::ThrowLastError(L"Decoding", L"8-bit text");
    }
    return text;
}

} // namespace platform
