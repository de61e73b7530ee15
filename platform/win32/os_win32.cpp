#include "platform/win32/os_win32.h"

#include "platform/win32/handles.h"

#include <sddl.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <cwchar>
#include <exception>
#include <memory>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

namespace platform::win32 {

namespace {

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

void ThrowLastError(const std::wstring& operation, const std::wstring& subject)
{
    throw Failure(operation, subject, ErrorText(::GetLastError()));
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

std::uint64_t Win32Os::SystemTime()
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
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

void Win32Os::Sleep(int milliseconds)
{
    ::Sleep(static_cast<DWORD>(milliseconds));
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
