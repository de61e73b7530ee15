// The operating system through Win32.
#pragma once

#include "platform/os.h"
#include "platform/win32/error_text.h"
#include "platform/win32/handles.h"

#include <windows.h>

namespace platform::win32 {

// A Failure for the last Win32 error.
[[noreturn]] void ThrowLastError(const std::wstring& operation, const std::wstring& subject);

// The path below HKCU of a key named HKCU\... or HKEY_CURRENT_USER\...
std::wstring BelowCurrentUser(const std::wstring& key);

// A DLL of the system's folder, loaded where it is first needed instead of before the program
// starts: each DLL loaded at start-up delays the first window.
Library LoadSystemLibrary(const wchar_t* name);

// A function of a loaded DLL, as the given function pointer type.
template <typename Function> Function LibraryFunction(const Library& library, const char* name)
{
    const FARPROC found = ::GetProcAddress(library.get(), name);
    if (found == nullptr) {
        ThrowLastError(L"Finding the system function", std::wstring(name, name + std::char_traits<char>::length(name)));
    }
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// The current user's security identifier as text (S-1-5-21-...); empty when it cannot be read.
std::wstring CurrentUserSid();

// Whether the window has asked Windows not to end the session (BlockEndOfSession).
bool EndOfSessionBlocked(HWND window);

class Win32Os final : public Os {
public:
    std::wstring GetSetting(const std::wstring& appName, const std::wstring& section, const std::wstring& key) override;
    void SaveSetting(const std::wstring& appName, const std::wstring& section, const std::wstring& key,
                     const std::wstring& value) override;
    void DeleteSetting(const std::wstring& appName, const std::wstring& section) override;
    bool RegistryKeyExists(const std::wstring& key) override;
    std::optional<RegistryTree> ReadRegistryTree(const std::wstring& key) override;
    std::optional<std::vector<KeyStamp>> ReadRegistryStamps(const std::wstring& key) override;
    std::uint64_t SystemTime() override;
    void DeleteRegistryTree(const std::wstring& key) override;
    void WriteRegistryTree(const RegistryTree& tree) override;
    void RenameRegistryKey(const std::wstring& key, const std::wstring& newName) override;
    std::unique_ptr<Process> Shell(const std::wstring& commandLine, int windowStyle) override;
    std::wstring AppPath() override;
    std::wstring SystemPath() override;
    std::wstring WindowsPath() override;
    bool FileExists(const std::wstring& path) override;
    bool FolderExists(const std::wstring& path) override;
    bool MakeNewDir(const std::wstring& path) override;
    void AppendText(const std::wstring& path, const std::wstring& text) override;
    void SetAttr(const std::wstring& path, unsigned attributes) override;
    std::uint64_t FileLen(const std::wstring& path) override;
    std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path) override;
    void RemoveFile(const std::wstring& path) override;
    bool RemoveEmptyDir(const std::wstring& path) override;
    void RemoveFolder(const std::wstring& path) override;
    void WriteFileFlushed(const std::wstring& path, const std::vector<std::uint8_t>& bytes) override;
    void RenameFile(const std::wstring& from, const std::wstring& to) override;
    std::wstring ComputerName() override;
    std::vector<std::wstring> ListFolders(const std::wstring& folder) override;
    std::unique_ptr<ListLock> LockList(int milliseconds) override;
    std::wstring ProcessName() override;
    // The copies elsewhere (files_win32.cpp).
    std::wstring FinalPath(const std::wstring& path) override;
    std::vector<std::uint8_t> ReadFileNoWriter(const std::wstring& path) override;
    std::vector<std::uint8_t> ReadFileUnbuffered(const std::wstring& path) override;
    std::uint32_t ProcessId() override;
    // The Task Scheduler (tasks_win32.cpp).
    void RegisterTask(const std::wstring& folder, const std::wstring& name, const std::wstring& xml) override;
    std::optional<std::wstring> ReadTask(const std::wstring& folder, const std::wstring& name) override;
    void DeleteTask(const std::wstring& folder, const std::wstring& name) override;
    std::wstring UserSid() override;
    std::unique_ptr<Job> StartJob(std::function<void()> work) override;
    void Sleep(int milliseconds) override;
    void Print(const std::wstring& line) override;
    void PrintError(const std::wstring& line) override;
    std::wstring DateText() override;
    std::wstring TimeText() override;
    std::wstring DecimalSeparator() override;
    void BlockEndOfSession(WindowHandle window, const std::wstring& reason) override;
    bool SetWindowPos(WindowHandle hWnd, WindowHandle hWndInsertAfter, int x, int y, int cx, int cy,
                      unsigned flags) override;
    std::optional<std::wstring> ChooseFile(WindowHandle owner, const std::wstring& title) override;
    std::optional<std::wstring> ChooseFolder(WindowHandle owner, const std::wstring& title) override;
    void MsgBox(const std::wstring& text, MessageKind kind) override;
    void Report(WindowHandle owner, const std::wstring& text, MessageKind kind) override;
    void SetClipboardText(WindowHandle owner, const std::wstring& text) override;
    bool Ask(const std::wstring& text) override;
    [[noreturn]] void End(int exitCode) override;

private:
    // Standard output or error: the parent's console, or where it sent the stream.
    struct Stream {
        bool looked = false;
        HANDLE handle = nullptr;
        bool isConsole = false;
    };
    void Write(Stream& stream, DWORD which, const std::wstring& line);

    Stream output_;
    Stream error_;
    FileHandle console_;
};

} // namespace platform::win32
