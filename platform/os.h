// The operating system as the program's logic sees it: settings store, processes, files,
// date and time, window placement, messages and ending the program. The Win32 build implements
// it in platform/win32; the unit tests use a fake.
#pragma once

#include "platform/registry_tree.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// A platform operation that failed, in words a user can read: what was attempted, on what,
// and the system's own explanation.
class Failure : public std::runtime_error {
public:
    Failure(const std::wstring& operation, const std::wstring& subject, const std::wstring& reason);
    const std::wstring& text() const noexcept { return text_; }
    // The system's own explanation alone.
    const std::wstring& reason() const noexcept { return reason_; }
    // What it was attempted on.
    const std::wstring& subject() const noexcept { return subject_; }

private:
    std::wstring text_;
    std::wstring subject_;
    std::wstring reason_;
};

// A settings entry that holds something other than text.
class NotText : public Failure {
public:
    using Failure::Failure;
};

// What failed, in the user's words: a Failure's text, or what another exception says.
std::wstring FailureText(const std::exception& error);

// The message that tells the user of a failure that ends the program.
std::wstring StopMessage(const std::exception& error);

// 8-bit text in the system's ANSI code page, as the registry tool reads a registration file
// without a byte-order mark; under Wine the code page follows the locale (LC_ALL, LANG). A byte
// the code page has no character for becomes what the system makes of it. Safe to call from a
// job's thread.
std::wstring DecodeAnsi(std::span<const std::uint8_t> bytes);

// The platform's window handle value, as a window's hWnd reports it.
using WindowHandle = std::intptr_t;

// Window styles of Shell.
constexpr int vbNormalFocus = 1;
constexpr int vbMinimizedFocus = 2;
// Minimised, and the window that has the keyboard keeps it.
constexpr int vbMinimizedNoFocus = 6;

// File attribute of SetAttr.
constexpr unsigned vbReadOnly = 1;

// A process that Shell started. Nobody waits for it; its end can be looked at.
class Process {
public:
    virtual ~Process() = default;
    // The exit code once the process has ended; nothing while it runs.
    virtual std::optional<std::uint32_t> ExitCode() = 0;
};

// Work running on a thread of its own. Destroying it waits for the work to end, unless it was
// let go.
class Job {
public:
    virtual ~Job() = default;
    // Whether the work has ended; what it wrote is then safe to read. Once it has ended, what the
    // work threw is thrown here, once.
    virtual bool Done() = 0;
    // Nobody waits for the work any more: it ends on its own, with the data it shares, or with
    // the program.
    virtual void LetGo() = 0;
};

// The lock of the add-on's list, shared by every LarkSpool of the user's session. Released when
// destroyed, which must happen on the thread that took it, or by the system when its owner ends.
class ListLock {
public:
    virtual ~ListLock() = default;
};

// Exit codes of the process.
constexpr int kExitNormal = 0;
constexpr int kExitFailure = 1;

enum class MessageKind { Information, Error };

// A key as it stands: its full path (HKEY_CURRENT_USER\...), how many values it holds, and when
// it or its values were last written, in 100-nanosecond steps since 1601 (UTC).
struct KeyStamp {
    std::wstring path;
    std::size_t values = 0;
    std::uint64_t written = 0;
};

class Os {
public:
    virtual ~Os() = default;

    // Per-user application settings store. GetSetting gives empty text for a missing entry and
    // throws NotText for an entry that is not a string.
    virtual std::wstring GetSetting(const std::wstring& appName, const std::wstring& section,
                                    const std::wstring& key) = 0;
    virtual void SaveSetting(const std::wstring& appName, const std::wstring& section, const std::wstring& key,
                             const std::wstring& value) = 0;
    // Removes a whole section; nothing happens when it does not exist.
    virtual void DeleteSetting(const std::wstring& appName, const std::wstring& section) = 0;
    // Whether a registry key such as HKCU\Software\X exists.
    virtual bool RegistryKeyExists(const std::wstring& key) = 0;
    // A key under HKCU with all its subkeys and values, paths in full (HKEY_CURRENT_USER\...);
    // nothing when the key does not exist. Safe to call from a job's thread.
    virtual std::optional<RegistryTree> ReadRegistryTree(const std::wstring& key) = 0;
    // How a key under HKCU and each key below it stand, without reading their values: each key's
    // full path, how many values it holds and when it was last written; nothing when the key does
    // not exist. Far quicker than ReadRegistryTree for a key with many values.
    virtual std::optional<std::vector<KeyStamp>> ReadRegistryStamps(const std::wstring& key) = 0;
    // Now, as the registry counts its last write times.
    virtual std::uint64_t SystemTime() = 0;
    // Removes a key under HKCU with everything below it; nothing happens when it does not exist.
    virtual void DeleteRegistryTree(const std::wstring& key) = 0;
    // Creates the keys of the tree (paths in full, under HKEY_CURRENT_USER) and sets their values
    // as they stand, type and bytes unchanged. Deletion entries are not written.
    virtual void WriteRegistryTree(const RegistryTree& tree) = 0;
    // Gives a key under HKCU another last name, with everything below it; a key of that name must
    // not exist. In one step where the system can; elsewhere (Wine) the key is copied, then
    // removed, so that for a moment the copy or the original is only part of the key.
    virtual void RenameRegistryKey(const std::wstring& key, const std::wstring& newName) = 0;

    // Starts a command line with a window style and returns at once.
    virtual std::unique_ptr<Process> Shell(const std::wstring& commandLine, int windowStyle) = 0;

    // The folder of the program's own executable; ends in a backslash only at a drive's root.
    virtual std::wstring AppPath() = 0;
    // The system folder that holds the platform's own tools.
    virtual std::wstring SystemPath() = 0;
    // The Windows folder, which holds the file browser.
    virtual std::wstring WindowsPath() = 0;
    virtual bool FileExists(const std::wstring& path) = 0;
    // Whether a folder (or a drive's root, such as E:\\) is there and can be reached now.
    virtual bool FolderExists(const std::wstring& path) = 0;
    // Creates one folder, private to the current user (with SYSTEM and the administrators) where
    // the drive keeps access lists; false when it exists already.
    virtual bool MakeNewDir(const std::wstring& path) = 0;
    // Opens the file for appending (creating it), writes the text in the ANSI code page, closes it.
    virtual void AppendText(const std::wstring& path, const std::wstring& text) = 0;
    // Replaces all attributes of the file.
    virtual void SetAttr(const std::wstring& path, unsigned attributes) = 0;
    // The file's length in bytes, read without opening, creating or locking the file.
    virtual std::uint64_t FileLen(const std::wstring& path) = 0;
    // The whole file. Safe to call from a job's thread.
    virtual std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path) = 0;
    // Deletes a file, read-only or not.
    virtual void RemoveFile(const std::wstring& path) = 0;
    // Removes an empty folder; false when something is still in it.
    virtual bool RemoveEmptyDir(const std::wstring& path) = 0;
    // Removes a folder with everything in it, read-only files included.
    virtual void RemoveFolder(const std::wstring& path) = 0;
    // Creates a new file (none may exist by that name), writes the bytes and flushes them to the
    // device before it returns.
    virtual void WriteFileFlushed(const std::wstring& path, const std::vector<std::uint8_t>& bytes) = 0;
    // Gives a file another name in its folder; fails when the new name exists.
    virtual void RenameFile(const std::wstring& from, const std::wstring& to) = 0;
    // The computer's name, as the network knows it.
    virtual std::wstring ComputerName() = 0;
    // The names of the folders in a folder.
    virtual std::vector<std::wstring> ListFolders(const std::wstring& folder) = 0;

    // Takes the list's lock, waiting at most this long; null while another LarkSpool (or another
    // thread of this one) holds it. A lock whose owner ended without giving it back is taken:
    // what that owner left half done is what the restore's journal is for.
    virtual std::unique_ptr<ListLock> LockList(int milliseconds) = 0;
    // This process as the journal names its owner: "process 1234 started 12-09-2026 07:01:02".
    virtual std::wstring ProcessName() = 0;
    // What the copies elsewhere need besides the files above.
    // The real path of a file or folder that exists, as the system resolves it: letter case,
    // "..", short 8.3 names, links and junctions ("C:\Larkspool8\Copies", "\\server\share\x").
    virtual std::wstring FinalPath(const std::wstring& path) = 0;
    // The whole file, opened so that nobody may write it meanwhile; fails while another program
    // has it open for writing, as the registry tool has the file it exports.
    virtual std::vector<std::uint8_t> ReadFileNoWriter(const std::wstring& path) = 0;
    // The same, read past the system's cache: what the device (or a share's server) holds.
    virtual std::vector<std::uint8_t> ReadFileUnbuffered(const std::wstring& path) = 0;
    // This process's id, which no other process running at the same time has.
    virtual std::uint32_t ProcessId() = 0;

    // The Task Scheduler of the current user. A task registered from its XML definition in the
    // folder (the root folder where folders are refused), replacing one of that name; as the
    // user, only while logged on, without elevation.
    virtual void RegisterTask(const std::wstring& folder, const std::wstring& name, const std::wstring& xml) = 0;
    // The registered definition, from the folder or the root folder; nothing when there is none.
    virtual std::optional<std::wstring> ReadTask(const std::wstring& folder, const std::wstring& name) = 0;
    // Deletes the task from the folder and the root folder; nothing happens when there is none.
    virtual void DeleteTask(const std::wstring& folder, const std::wstring& name) = 0;
    // The current user's security identifier (S-1-5-21-...), whose log-on starts a task.
    virtual std::wstring UserSid() = 0;

    // Runs work on a thread of its own, so that the window keeps answering.
    virtual std::unique_ptr<Job> StartJob(std::function<void()> work) = 0;
    virtual void Sleep(int milliseconds) = 0;

    // One line to the console the program was started from; nothing where there is none.
    virtual void Print(const std::wstring& line) = 0;
    // The same to standard error: a line that tells why a command failed or was refused.
    virtual void PrintError(const std::wstring& line) = 0;

    // Today as mm-dd-yyyy, whatever the regional settings.
    virtual std::wstring DateText() = 0;
    // The time of day in the user's regional format.
    virtual std::wstring TimeText() = 0;
    // The user's regional decimal separator.
    virtual std::wstring DecimalSeparator() = 0;

    // While a reason is given, Windows is asked not to end the session and shows the reason;
    // an empty reason lets it end the session again.
    virtual void BlockEndOfSession(WindowHandle window, const std::wstring& reason) = 0;

    virtual bool SetWindowPos(WindowHandle hWnd, WindowHandle hWndInsertAfter, int x, int y, int cx, int cy,
                              unsigned flags) = 0;

    // The system's file picker for a registration file, owned by the window; nothing on Cancel.
    virtual std::optional<std::wstring> ChooseFile(WindowHandle owner, const std::wstring& title) = 0;
    // The system's folder picker, starting in the user's synced folder when there is one, else in
    // Documents; nothing on Cancel.
    virtual std::optional<std::wstring> ChooseFolder(WindowHandle owner, const std::wstring& title) = 0;

    virtual void MsgBox(const std::wstring& text, MessageKind kind) = 0;
    // A message that reports a window's work: owned by that window, so that it stands above it;
    // while the program is not in front, the window's taskbar button flashes.
    virtual void Report(WindowHandle owner, const std::wstring& text, MessageKind kind) = 0;
    // Puts the text on the clipboard for the window; throws when the clipboard stays taken by
    // another program or the memory is not there.
    virtual void SetClipboardText(WindowHandle owner, const std::wstring& text) = 0;
    // A question with Yes and No, No the default; true for Yes.
    virtual bool Ask(const std::wstring& text) = 0;
    // Stops the program at once with the exit code: no further event runs.
    [[noreturn]] virtual void End(int exitCode = kExitNormal) = 0;
};

} // namespace platform
