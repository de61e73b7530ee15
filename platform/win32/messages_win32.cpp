// What the program tells and asks the user: message boxes, and lines on the console it was
// started from.
#include "platform/win32/handles.h"
#include "platform/win32/os_win32.h"

#include <cwchar>
#include <string>

namespace platform::win32 {

namespace {

// The clipboard, open until the end of the scope. Another program may hold it for a moment
// (a clipboard manager reading what changed): a few tries before giving up.
class OpenClipboardScope {
public:
    explicit OpenClipboardScope(HWND owner)
    {
        for (int attempt = 0; attempt < 10 && !open_; ++attempt) {
            open_ = ::OpenClipboard(owner) != FALSE;
            if (!open_) {
                ::Sleep(10);
            }
        }
        if (!open_) {
            ThrowLastError(L"Opening", L"the clipboard");
        }
    }
    ~OpenClipboardScope() { ::CloseClipboard(); }
    OpenClipboardScope(const OpenClipboardScope&) = delete;
    OpenClipboardScope& operator=(const OpenClipboardScope&) = delete;

private:
    bool open_ = false;
};

} // namespace

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

// The memory is the clipboard's once SetClipboardData took it; until then it is freed on failure.
void Win32Os::SetClipboardText(WindowHandle owner, const std::wstring& text)
{
    GlobalMemory memory(::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t)));
    if (!memory) {
        ThrowLastError(L"Taking memory for", L"the clipboard");
    }
    void* data = ::GlobalLock(memory.get());
    if (data == nullptr) {
        ThrowLastError(L"Taking memory for", L"the clipboard");
    }
    std::wmemcpy(static_cast<wchar_t*>(data), text.c_str(), text.size() + 1);
    ::GlobalUnlock(memory.get());
    const OpenClipboardScope clipboard(reinterpret_cast<HWND>(owner));
    if (!::EmptyClipboard()) {
        ThrowLastError(L"Emptying", L"the clipboard");
    }
    if (::SetClipboardData(CF_UNICODETEXT, memory.get()) == nullptr) {
        ThrowLastError(L"Putting the text on", L"the clipboard");
    }
    memory.release();
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

} // namespace platform::win32
