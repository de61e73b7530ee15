// LarkSpool.com, the console half of LarkSpool. A command prompt waits only for console programs
// and finds LarkSpool.com before LarkSpool.exe, so "LarkSpool /check FILE" typed there runs this:
// it starts LarkSpool.exe from its own folder with its own standard handles and the arguments as
// typed, waits for it and ends with its exit code, which the prompt keeps in %ERRORLEVEL%.
#include "platform/win32/error_text.h"
#include "platform/win32/handles.h"

#include <string>

namespace {

constexpr int kExitNotStarted = 11; // LarkSpool.exe's own codes end at 10

// Ctrl+C and Ctrl+Break would bring the prompt back while LarkSpool.exe still works. It is never
// stopped halfway (a restore would leave the list to the next start's recovery): the prompt waits.
BOOL WINAPI WaitForTheEnd(DWORD /*event*/)
{
    return TRUE;
}

void PrintError(const std::wstring& line)
{
    HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    const std::wstring text = line + L"\r\n";
    DWORD written = 0;
    DWORD mode = 0;
    if (::GetConsoleMode(error, &mode)) {
        ::WriteConsoleW(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    ::WriteFile(error, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// This program's own path, however long; empty when the system cannot tell.
std::wstring OwnPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// What follows the program's name on the command line, exactly as typed, quotes and the space
// before it included. The name ends at the first blank outside quotes, as the system reads it.
const wchar_t* Arguments(const wchar_t* line)
{
    bool quoted = false;
    for (; *line != L'\0'; ++line) {
        if (*line == L'"') {
            quoted = !quoted;
        } else if (!quoted && (*line == L' ' || *line == L'\t')) {
            break;
        }
    }
    return line;
}

} // namespace

int main()
{
    // Beside this program, never from the current folder or PATH, where anyone may plant one.
    const std::wstring own = OwnPath();
    const std::wstring program = own.substr(0, own.find_last_of(L'\\') + 1) + L"LarkSpool.exe";
    std::wstring commandLine = L"\"" + program + L"\"" + Arguments(::GetCommandLineW());

    // The child gets this program's handles, so its output goes where the prompt sent this one's.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    ::SetConsoleCtrlHandler(WaitForTheEnd, TRUE);
    PROCESS_INFORMATION started{};
    if (own.empty() || !::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                         nullptr, &startup, &started)) {
        PrintError(program + L" could not be started: " + platform::win32::ErrorText(::GetLastError()));
        return kExitNotStarted;
    }
    const platform::win32::Handle process(started.hProcess);
    const platform::win32::Handle thread(started.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.get(), &exitCode);
    return static_cast<int>(exitCode);
}
