// A pretend operating system and window runtime that record what the program asks of them.
#pragma once

#include "platform/forms.h"
#include "platform/os.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fake {

// Thrown by End, so that a test sees the program stop where it would have.
struct Ended {
    int exitCode = 0;
};

// Thrown where the program is killed (killAt), as by Task Manager or a power loss.
struct Killed {};

struct WindowPosCall {
    platform::WindowHandle hWnd, insertAfter;
    int x, y, cx, cy;
    unsigned flags;
    bool operator==(const WindowPosCall&) const = default;
};

class Os final : public platform::Os {
public:
    // Every operation, in order, as "Name argument".
    std::vector<std::wstring> calls;
    // The operation (by name) that fails from now on, after succeeding this many more times.
    std::wstring failing;
    int failingAfter = 0;
    bool failingOnce = false; // the operation fails once, then works again
    bool outOfMemory = false; // the failing operation runs out of memory instead

    std::map<std::wstring, std::wstring> settings; // "app\section\key" -> text
    std::set<std::wstring> registryKeys{L"hkcu\\software\\zephrix\\wrenlet2"};
    // What ReadRegistryTree gives for the add-on's key while it exists.
    platform::RegistryTree addOnTree;
    // The system's clock, as the registry counts, moved on at each look; and when the add-on's
    // keys were last written: unless a test says so, just now.
    std::uint64_t clock = 1000;
    std::optional<std::uint64_t> keysWritten;
    // Keys beside it (HKCU\Software\Zephrix\<name>, lower case), with their trees.
    std::map<std::wstring, platform::RegistryTree> otherKeys;
    // The program is killed at the change of the settings or the registry with this index (from 0).
    int killAt = -1;
    int changes = 0;
    // Renames copy the key, then remove it, one key at a time: killable in between.
    bool renameInSteps = false;
    // Entries of the settings store that are not text.
    std::set<std::wstring> settingsNotText;
    // Jobs run at once, on the caller's thread, unless held back; held jobs run on RunJobs.
    bool holdJobs = false;
    std::vector<std::function<void()>> heldJobs;
    void RunJobs(std::size_t most = SIZE_MAX); // the oldest held jobs
    std::set<std::wstring> folders;            // lower case
    std::map<std::wstring, std::string> files; // lower case path -> bytes
    std::map<std::wstring, unsigned> attributes;
    std::wstring appPath = L"D:\\Tools";
    std::wstring computerName = L"HOMEPC";
    std::wstring systemPath = L"C:\\windows\\system32";
    std::wstring date = L"12-07-2026";
    std::wstring time = L"3:04:05 PM";
    std::wstring decimal = L".";
    std::vector<WindowPosCall> windowPos;
    std::vector<std::wstring> messages;
    std::vector<std::wstring> printed; // every line, standard output and error in their order
    std::vector<std::wstring> errors;  // those of them that went to standard error
    std::vector<std::wstring> questions;
    std::wstring clipboard;
    bool answer = true;                       // Yes
    std::optional<std::wstring> chosenFile;   // what the file picker gives; nothing: Cancel
    std::optional<std::wstring> chosenFolder; // what the folder picker gives; nothing: Cancel
    std::vector<bool> answers;                // the answers to the next questions, before `answer`
    // Runs while a question is open, as the user's clicks elsewhere would (once).
    std::function<void()> whileAsked;
    // Changes what WriteRegistryTree writes, as a registry that loses or garbles something.
    std::function<void(platform::RegistryTree&)> onWrite;
    // Called at each Sleep, as time passing: a test lets the registry tool end there.
    std::function<void()> onSleep;
    // The list's lock: held by another LarkSpool, or by how many holders of this one.
    bool lockHeldElsewhere = false;
    int locksHeld = 0;
    // Called once while LockList waits, as time passing: a test lets the other LarkSpool end there.
    std::function<void()> onLockWait;
    // Exit code of the last process started; nothing while it runs.
    std::shared_ptr<std::optional<std::uint32_t>> lastExit;
    // The copies elsewhere: paths the system resolves elsewhere, as junctions and short names do
    // (lower case, from -> to); files another program writes now, letting others read them, and
    // files it holds without sharing (as Wine's registry tool holds its export); what the device
    // holds where it differs from what the cache gives, applied to what is read past the cache.
    std::map<std::wstring, std::wstring> links;
    std::set<std::wstring> beingWritten;
    std::set<std::wstring> locked;
    std::function<void(const std::wstring& path, std::string& bytes)> onDevice;
    std::uint32_t processId = 4242;
    // The Task Scheduler's tasks ("\\LarkSpool\\name" -> XML); while unreachable, each of its
    // operations fails with the reason given.
    std::map<std::wstring, std::wstring> tasks;
    std::wstring schedulerUnreachable;

    Os();
    std::wstring Setting() const; // the run count entry, or "<none>"
    std::vector<std::wstring> CallsNamed(const std::wstring& name) const;

    std::wstring GetSetting(const std::wstring& appName, const std::wstring& section, const std::wstring& key) override;
    void SaveSetting(const std::wstring& appName, const std::wstring& section, const std::wstring& key,
                     const std::wstring& value) override;
    bool RegistryKeyExists(const std::wstring& key) override;
    std::optional<platform::RegistryTree> ReadRegistryTree(const std::wstring& key) override;
    std::optional<std::vector<platform::KeyStamp>> ReadRegistryStamps(const std::wstring& key) override;
    std::uint64_t SystemTime() override { return ++clock; }
    void DeleteRegistryTree(const std::wstring& key) override;
    void WriteRegistryTree(const platform::RegistryTree& tree) override;
    void RenameRegistryKey(const std::wstring& key, const std::wstring& newName) override;
    void DeleteSetting(const std::wstring& appName, const std::wstring& section) override;
    void RemoveFolder(const std::wstring& path) override;
    void BlockEndOfSession(platform::WindowHandle window, const std::wstring& reason) override;
    std::unique_ptr<platform::Process> Shell(const std::wstring& commandLine, int windowStyle) override;
    std::wstring AppPath() override;
    std::wstring SystemPath() override;
    std::wstring WindowsPath() override;
    bool FileExists(const std::wstring& path) override;
    bool FolderExists(const std::wstring& path) override;
    bool MakeNewDir(const std::wstring& path) override;
    void AppendText(const std::wstring& path, const std::wstring& text) override;
    void SetAttr(const std::wstring& path, unsigned value) override;
    std::uint64_t FileLen(const std::wstring& path) override;
    std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path) override;
    void RemoveFile(const std::wstring& path) override;
    bool RemoveEmptyDir(const std::wstring& path) override;
    void WriteFileFlushed(const std::wstring& path, const std::vector<std::uint8_t>& bytes) override;
    void RenameFile(const std::wstring& from, const std::wstring& to) override;
    std::wstring ComputerName() override;
    std::vector<std::wstring> ListFolders(const std::wstring& folder) override;
    std::unique_ptr<platform::ListLock> LockList(int milliseconds) override;
    std::wstring ProcessName() override;
    std::wstring FinalPath(const std::wstring& path) override;
    std::vector<std::uint8_t> ReadFileNoWriter(const std::wstring& path) override;
    std::vector<std::uint8_t> ReadFileUnbuffered(const std::wstring& path) override;
    std::uint32_t ProcessId() override;
    void RegisterTask(const std::wstring& folder, const std::wstring& name, const std::wstring& xml) override;
    std::optional<std::wstring> ReadTask(const std::wstring& folder, const std::wstring& name) override;
    void DeleteTask(const std::wstring& folder, const std::wstring& name) override;
    std::wstring UserSid() override;
    std::unique_ptr<platform::Job> StartJob(std::function<void()> work) override;
    void Sleep(int milliseconds) override;
    void Print(const std::wstring& line) override;
    void PrintError(const std::wstring& line) override;
    std::wstring DateText() override;
    std::wstring TimeText() override;
    std::wstring DecimalSeparator() override;
    bool SetWindowPos(platform::WindowHandle hWnd, platform::WindowHandle hWndInsertAfter, int x, int y, int cx, int cy,
                      unsigned flags) override;
    std::optional<std::wstring> ChooseFile(platform::WindowHandle owner, const std::wstring& title) override;
    std::optional<std::wstring> ChooseFolder(platform::WindowHandle owner, const std::wstring& title) override;
    void MsgBox(const std::wstring& text, platform::MessageKind kind) override;
    void Report(platform::WindowHandle owner, const std::wstring& text, platform::MessageKind kind) override;
    void SetClipboardText(platform::WindowHandle owner, const std::wstring& text) override;
    bool Ask(const std::wstring& text) override;
    [[noreturn]] void End(int exitCode) override;

private:
    void Call(const std::wstring& name, const std::wstring& argument);
    // A call of the Task Scheduler, which fails while it is unreachable.
    void Scheduler(const std::wstring& name, const std::wstring& task);
    // A file's bytes, as any read finds them.
    std::vector<std::uint8_t> Bytes(const std::wstring& path) const;
    // A change of the settings or the registry, where the program may be killed.
    void Change(const std::wstring& name, const std::wstring& argument);
};

class Runtime final : public platform::Runtime {
public:
    std::vector<std::wstring> calls; // "Show frmAbout 1", "PopupMenu mnu1", "Unload frmAbout", "Announce Label2"
    // The menu item that the user picks when a popup menu opens; empty: the menu is dismissed.
    std::wstring popupChoice;
    // The form shown last.
    platform::Form* shown = nullptr;
    // The keyboard as the dialog manager moves it: the control that has the focus, and a key
    // (Tab, Enter, Esc) pressed there.
    std::wstring focus;
    static constexpr int kTab = 9;
    void Key(platform::Form& form, int keyCode);

    void Show(platform::Form& form, int modal) override;
    void Unload(platform::Form& form) override;
    void PopupMenu(platform::Form& form, const std::wstring& menu) override;
    platform::WindowHandle hWnd(const platform::Form& form) override;
    void Announce(platform::Form& form, const std::wstring& control) override;
    int Run(platform::Form& startup) override;
};

std::wstring Lower(std::wstring text);

// The ANSI code page that platform::DecodeAnsi acts as while this lives: 1252 without one, 1251, or
// 932 with only the double-byte characters the tests use.
class AnsiCodePage {
public:
    explicit AnsiCodePage(unsigned codePage);
    ~AnsiCodePage();
    AnsiCodePage(const AnsiCodePage&) = delete;
    AnsiCodePage& operator=(const AnsiCodePage&) = delete;

private:
    unsigned before_;
};

} // namespace fake
