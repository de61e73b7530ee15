// Measurements for scripts/benchmark, from outside the program or with its own engine:
//   measure check FILE          seconds to read a backup back and compare it with the add-on's key
//   measure pauses TITLE S      the longest the window took to answer a message, over S seconds
//   measure appears TITLE       seconds until a visible window with the title shows, and the
//                               time of day then
//   measure closed FILE BYTES   waits until the file holds BYTES and its writer has closed it, and
//                               prints the time of day then (seconds since 1970)
//   measure ended PROGRAM       waits for a process of that file name (reg.exe) to start, then for
//                               it to end, and prints the time of day then and when it started
//   measure run LINE            starts a console program as a user does with a shortcut set to run
//                               minimised: a console window of its own, minimised and not active;
//                               prints the seconds until it has ended, and until the system made it
//   measure filled TITLE        seconds until the last cell of every row of its list view is filled
//   measure rows TITLE [N]      the cells of its list view (the Nth, from 1), a line per row, tab
//                               between cells
//   measure table TITLE ROWS    waits until its second list view shows with ROWS rows, and prints
//                               the time of day then
//   measure sort TITLE COLUMN   clicks the heading of its second list view's column (from 0) and
//                               prints the seconds until the rows show sorted
//   measure compare FILE FILE   seconds to read two backups and make the rows of their comparison
//   measure clipboard           the text on the clipboard
//   measure text TITLE          the text of its text box
//   measure copied TITLE        seconds from its label saying "checked" until one says "copy kept"
// Output is one "key=value" per line, for the shell.
#include "backup/backup_paths.h"
#include "backup/check.h"
#include "backup/compare_text.h"
#include "backup/list_file.h"
#include "backup/reg_file.h"
#include "find_window.h"
#include "platform/win32/handles.h"
#include "platform/win32/os_win32.h"

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string>

namespace {

double Seconds()
{
    LARGE_INTEGER frequency{}, now{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// A system time as seconds since 1970, as the shell's date +%s.%N counts.
double SecondsSince1970(const FILETIME& time)
{
    const unsigned long long ticks = (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ULL) / 1e7;
}

// The time of day as the shell's date +%s.%N gives it, to time from a step the shell takes.
double SecondsSince1970()
{
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return SecondsSince1970(now);
}

// When the system made the process: how much of a start went before the program's first step.
double Started(HANDLE process)
{
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    return ::GetProcessTimes(process, &created, &exited, &kernel, &user) ? SecondsSince1970(created) : 0;
}

// The text of a list view's cell in another process: the item and its buffer must live there.
class RemoteList {
public:
    explicit RemoteList(HWND list) : list_(list)
    {
        DWORD processId = 0;
        ::GetWindowThreadProcessId(list, &processId);
        process_ = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
        memory_ = static_cast<BYTE*>(
            ::VirtualAllocEx(process_, nullptr, sizeof(LVITEMW) + kChars * 2, MEM_COMMIT, PAGE_READWRITE));
    }
    ~RemoteList()
    {
        ::VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
        ::CloseHandle(process_);
    }
    RemoteList(const RemoteList&) = delete;
    RemoteList& operator=(const RemoteList&) = delete;

    int Rows() const { return static_cast<int>(::SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }
    std::wstring Cell(int row, int column)
    {
        LVITEMW item{};
        item.iSubItem = column;
        item.cchTextMax = kChars;
        item.pszText = reinterpret_cast<wchar_t*>(memory_ + sizeof item);
        SIZE_T moved = 0;
        ::WriteProcessMemory(process_, memory_, &item, sizeof item, &moved);
        ::SendMessageW(list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(memory_));
        wchar_t text[kChars] = L"";
        ::ReadProcessMemory(process_, memory_ + sizeof item, text, sizeof text, &moved);
        text[kChars - 1] = L'\0';
        return text;
    }

private:
    static constexpr int kChars = 256;
    HWND list_;
    HANDLE process_ = nullptr;
    BYTE* memory_ = nullptr;
};

int Check(const wchar_t* file)
{
    platform::win32::Win32Os os;
    // Its parts first: where the time goes.
    const double t0 = Seconds();
    const std::vector<std::uint8_t> bytes = os.ReadFileBytes(file);
    const double t1 = Seconds();
    const backup::RegFile parsed = backup::ReadRegFile(bytes);
    const double t2 = Seconds();
    const platform::RegistryTree live = os.ReadRegistryTree(backup::kAddOnKey).value_or(platform::RegistryTree{});
    const double t3 = Seconds();
    const std::size_t differences = backup::CompareTrees(parsed.keys, live).size();
    const double t4 = Seconds();
    std::printf("file_seconds=%.4f\nreader_seconds=%.4f\nkey_seconds=%.4f\ncompare_seconds=%.4f\ndifferences=%zu\n",
                t1 - t0, t2 - t1, t3 - t2, t4 - t3, differences);
    const double start = Seconds();
    const backup::CheckResult result = backup::CheckBackup(os, file, backup::kAddOnKey);
    const double took = Seconds() - start;
    std::printf("seconds=%.4f\nvalues=%zu\nsame=%d\n", took, result.values,
                result.outcome == backup::CheckResult::Outcome::Same ? 1 : 0);
    return 0;
}

int Pauses(const wchar_t* title, double seconds)
{
    HWND window = e2e::FindWindowWithTitle(title);
    if (window == nullptr) {
        return 1;
    }
    double longest = 0;
    const double end = Seconds() + seconds;
    while (Seconds() < end) {
        const double start = Seconds();
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
        longest = std::max(longest, Seconds() - start);
        ::Sleep(5);
    }
    std::printf("longest_pause_ms=%.1f\n", longest * 1000);
    return 0;
}

int Appears(const wchar_t* title)
{
    const double start = Seconds();
    while (e2e::FindWindowWithTitle(title) == nullptr) {
        if (Seconds() - start > 30) {
            return 1;
        }
        ::Sleep(1);
    }
    std::printf("seconds=%.4f\ntime=%.4f\n", Seconds() - start, SecondsSince1970());
    return 0;
}

int Filled(const wchar_t* title)
{
    const double start = Seconds();
    HWND window = nullptr;
    HWND list = nullptr;
    while (list == nullptr && Seconds() - start < 30) {
        window = e2e::FindWindowWithTitle(title);
        list = window != nullptr ? ::FindWindowExW(window, nullptr, WC_LISTVIEWW, nullptr) : nullptr;
        ::Sleep(1);
    }
    if (list == nullptr) {
        return 1;
    }
    RemoteList remote(list);
    int rows = 0;
    for (;;) {
        rows = remote.Rows();
        if (rows > 0 && !remote.Cell(rows - 1, 5).empty()) {
            break;
        }
        if (Seconds() - start > 120) {
            return 1;
        }
        ::Sleep(5);
    }
    std::printf("seconds=%.4f\nrows=%d\n", Seconds() - start, rows);
    return 0;
}

// The writer has closed the file once it can be opened without sharing; that is tried only when
// it is long enough, so that the writer never finds it taken.
int Closed(const wchar_t* file, unsigned long long bytes)
{
    const double start = Seconds();
    for (;;) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (::GetFileAttributesExW(file, GetFileExInfoStandard, &data) &&
            ((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) >= bytes) {
            HANDLE alone = ::CreateFileW(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (alone != INVALID_HANDLE_VALUE) {
                ::CloseHandle(alone);
                std::printf("time=%.4f\n", SecondsSince1970());
                return 0;
            }
        }
        if (Seconds() - start > 120) {
            return 1;
        }
        ::Sleep(5); // gentle on the Wine server, which the writer needs
    }
}

// The process is looked for every 5 ms, gently on the Wine server, which the program needs; only
// its end is timed, which the wait sees at once.
int Ended(const wchar_t* program)
{
    const double start = Seconds();
    platform::win32::Handle process;
    while (!process) {
        if (Seconds() - start > 120) {
            return 1;
        }
        const platform::win32::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = snapshot && ::Process32FirstW(snapshot.get(), &entry); more && !process;
             more = ::Process32NextW(snapshot.get(), &entry)) {
            if (::lstrcmpiW(entry.szExeFile, program) == 0) {
                process.reset(
                    ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
            }
        }
        if (!process) {
            ::Sleep(5);
        }
    }
    ::WaitForSingleObject(process.get(), INFINITE);
    const double ended = SecondsSince1970();
    std::printf("started=%.4f\ntime=%.4f\n", Started(process.get()), ended);
    return 0;
}

int Run(const wchar_t* commandLine)
{
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMINNOACTIVE;
    PROCESS_INFORMATION started{};
    const double start = Seconds();
    const double startTime = SecondsSince1970();
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                          &started)) {
        return 1;
    }
    const platform::win32::Handle thread(started.hThread);
    const platform::win32::Handle process(started.hProcess);
    ::WaitForSingleObject(process.get(), INFINITE);
    std::printf("seconds=%.4f\nstarted_after=%.4f\n", Seconds() - start, Started(process.get()) - startTime);
    return 0;
}

// The window's nth list view, from 1, in the order the window made them.
HWND ListView(const wchar_t* title, int nth)
{
    HWND window = e2e::FindWindowWithTitle(title);
    HWND list = nullptr;
    for (int i = 0; i < nth && window != nullptr; ++i) {
        list = ::FindWindowExW(window, list, WC_LISTVIEWW, nullptr);
        if (list == nullptr) {
            break;
        }
    }
    return list;
}

HWND Child(const wchar_t* title, const wchar_t* windowClass)
{
    HWND window = e2e::FindWindowWithTitle(title);
    return window != nullptr ? ::FindWindowExW(window, nullptr, windowClass, nullptr) : nullptr;
}

int Rows(const wchar_t* title, int nth)
{
    HWND list = ListView(title, nth);
    if (list == nullptr) {
        return 1;
    }
    RemoteList remote(list);
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int columns = static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < remote.Rows(); ++row) {
        std::wstring line;
        for (int column = 0; column < columns; ++column) {
            line += (column == 0 ? L"" : L"\t") + remote.Cell(row, column);
        }
        std::printf("%ls\n", line.c_str());
    }
    return 0;
}

int Table(const wchar_t* title, int rows)
{
    const double start = Seconds();
    for (;;) {
        HWND list = ListView(title, 2);
        if (list != nullptr && ::IsWindowVisible(list) && ::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == rows) {
            break;
        }
        if (Seconds() - start > 120) {
            return 1;
        }
        ::Sleep(2);
    }
    std::printf("time=%.4f\n", SecondsSince1970());
    return 0;
}

// The heading is clicked where the widths of the columns before it put it. Sorted, the second
// row's cell of that column is another one: the list answers only once the sorting has ended.
int Sort(const wchar_t* title, int column)
{
    HWND list = ListView(title, 2);
    if (list == nullptr) {
        return 1;
    }
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    int x = 0;
    for (int before = 0; before < column; ++before) {
        x += static_cast<int>(::SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(before), 0));
    }
    x += 10;
    RemoteList remote(list);
    const std::wstring was = remote.Cell(1, column);
    const double start = Seconds();
    ::PostMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 5));
    ::PostMessageW(header, WM_LBUTTONUP, 0, MAKELPARAM(x, 5));
    while (remote.Cell(1, column) == was) {
        if (Seconds() - start > 30) {
            return 1;
        }
        ::Sleep(1);
    }
    std::printf("seconds=%.4f\n", Seconds() - start);
    return 0;
}

int Compare(const wchar_t* before, const wchar_t* after)
{
    platform::win32::Win32Os os;
    const double start = Seconds();
    const backup::RegFile older = backup::ReadRegFile(os.ReadFileBytes(before));
    const backup::RegFile newer = backup::ReadRegFile(os.ReadFileBytes(after));
    const double read = Seconds();
    const std::vector<backup::Difference> differences =
        backup::CompareTrees(backup::ListOf(older), backup::ListOf(newer));
    std::vector<std::vector<std::wstring>> rows;
    rows.reserve(differences.size());
    std::transform(differences.begin(), differences.end(), std::back_inserter(rows),
                   [](const backup::Difference& difference) {
                       return backup::DifferenceCells(difference, backup::kAddOnKeyFullName);
                   });
    std::printf("read_seconds=%.4f\nseconds=%.4f\nrows=%zu\n", read - start, Seconds() - start, rows.size());
    return 0;
}

int Clipboard()
{
    if (!::OpenClipboard(nullptr)) {
        return 1;
    }
    std::wstring text;
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT); data != nullptr) {
        if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data)); chars != nullptr) {
            text = chars;
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    _setmode(_fileno(stdout), _O_BINARY); // its line ends as they are
    std::printf("%ls", text.c_str());
    return 0;
}

int Text(const wchar_t* title)
{
    HWND edit = Child(title, L"Edit");
    if (edit == nullptr) {
        return 1;
    }
    const LRESULT length = ::SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    std::printf("%ls\n", text.c_str());
    return 0;
}

// A label that tells a result is a window of its own, with the label's text.
bool AnyLabelSays(HWND window, const wchar_t* words)
{
    for (HWND child = ::FindWindowExW(window, nullptr, L"Static", nullptr); child != nullptr;
         child = ::FindWindowExW(window, child, L"Static", nullptr)) {
        wchar_t text[512] = L"";
        ::GetWindowTextW(child, text, 512);
        if (std::wcsstr(text, words) != nullptr) {
            return true;
        }
    }
    return false;
}

int Copied(const wchar_t* title)
{
    HWND window = e2e::FindWindowWithTitle(title);
    if (window == nullptr) {
        return 1;
    }
    const double start = Seconds();
    double checked = 0;
    while (checked == 0 || !AnyLabelSays(window, L"copy kept")) {
        if (checked == 0 && AnyLabelSays(window, L"checked")) {
            checked = Seconds();
        }
        if (Seconds() - start > 60) {
            return 1;
        }
        ::Sleep(2);
    }
    std::printf("seconds=%.4f\n", Seconds() - checked);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc >= 2 ? argv[1] : L"";
    if (command == L"check" && argc >= 3) {
        return Check(argv[2]);
    }
    if (command == L"pauses" && argc >= 4) {
        return Pauses(argv[2], std::wcstod(argv[3], nullptr));
    }
    if (command == L"appears" && argc >= 3) {
        return Appears(argv[2]);
    }
    if (command == L"filled" && argc >= 3) {
        return Filled(argv[2]);
    }
    if (command == L"closed" && argc >= 4) {
        return Closed(argv[2], std::wcstoull(argv[3], nullptr, 10));
    }
    if (command == L"run" && argc >= 3) {
        return Run(argv[2]);
    }
    if (command == L"ended" && argc >= 3) {
        return Ended(argv[2]);
    }
    if (command == L"rows" && argc >= 3) {
        return Rows(argv[2], argc >= 4 ? static_cast<int>(std::wcstol(argv[3], nullptr, 10)) : 1);
    }
    if (command == L"table" && argc >= 4) {
        return Table(argv[2], static_cast<int>(std::wcstol(argv[3], nullptr, 10)));
    }
    if (command == L"sort" && argc >= 4) {
        return Sort(argv[2], static_cast<int>(std::wcstol(argv[3], nullptr, 10)));
    }
    if (command == L"compare" && argc >= 4) {
        return Compare(argv[2], argv[3]);
    }
    if (command == L"clipboard") {
        return Clipboard();
    }
    if (command == L"text" && argc >= 3) {
        return Text(argv[2]);
    }
    if (command == L"copied" && argc >= 3) {
        return Copied(argv[2]);
    }
    std::fprintf(
        stderr,
        "usage: measure check FILE | pauses TITLE SECONDS | appears TITLE | filled TITLE | closed FILE BYTES | "
        "ended PROGRAM | run LINE | rows TITLE [N] | table TITLE ROWS | sort TITLE COLUMN | compare FILE FILE | "
        "clipboard | text TITLE | copied TITLE\n");
    return 2;
}
