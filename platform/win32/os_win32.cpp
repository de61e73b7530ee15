#include "platform/win32/os_win32.h"

#include "platform/win32/handles.h"

#include <cwchar>
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

bool Win32Os::RegistryKeyExists(const std::wstring& key)
{
    const std::wstring prefix = L"HKCU\\";
    if (key.compare(0, prefix.size(), prefix) != 0) {
        throw Failure(L"Looking up the registry key", key, L"Only keys under HKCU are looked up.");
    }
    HKEY opened = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str() + prefix.size(), 0, KEY_READ, &opened);
    const Key owner(opened);
    if (status == ERROR_FILE_NOT_FOUND) {
        return false;
    }
    if (status != ERROR_SUCCESS) {
        throw Failure(L"Looking up the registry key", key, ErrorText(status));
    }
    return true;
}

std::unique_ptr<Process> Win32Os::Shell(const std::wstring& commandLine, int windowStyle)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(windowStyle == vbMinimizedFocus ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
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

bool Win32Os::MakeNewDir(const std::wstring& path)
{
    if (::CreateDirectoryW(path.c_str(), nullptr)) {
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

void Win32Os::End()
{
    ::ExitProcess(0);
}

} // namespace platform::win32
