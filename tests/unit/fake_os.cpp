#include "fake_os.h"

#include <algorithm>
#include <array>
#include <cwctype>
#include <exception>
#include <stdexcept>
#include <utility>

namespace fake {

std::wstring Lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

namespace {

std::wstring Parent(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L'\\'));
}

class Process final : public platform::Process {
public:
    explicit Process(std::shared_ptr<std::optional<std::uint32_t>> exit) : exit_(std::move(exit)) {}
    std::optional<std::uint32_t> ExitCode() override { return *exit_; }

private:
    std::shared_ptr<std::optional<std::uint32_t>> exit_;
};

} // namespace

Os::Os() : lastExit(std::make_shared<std::optional<std::uint32_t>>())
{
    files[L"c:\\windows\\system32\\reg.exe"] = "MZ";
}

void Os::Call(const std::wstring& name, const std::wstring& argument)
{
    calls.push_back(name + L" " + argument);
    if (name == failing && failingAfter-- <= 0) {
        if (failingOnce) {
            failing.clear();
        }
        if (outOfMemory) {
            throw std::bad_alloc();
        }
        throw platform::Failure(name, argument, L"The device is not ready.");
    }
}

void Os::Change(const std::wstring& name, const std::wstring& argument)
{
    if (changes++ == killAt) {
        calls.push_back(L"Killed at " + name + L" " + argument);
        throw Killed{};
    }
    Call(name, argument);
}

std::wstring Os::Setting() const
{
    auto found = settings.find(L"lsBundle\\TimesRun\\1");
    return found == settings.end() ? L"<none>" : found->second;
}

std::vector<std::wstring> Os::CallsNamed(const std::wstring& name) const
{
    std::vector<std::wstring> named;
    for (const auto& call : calls) {
        if (call.rfind(name + L" ", 0) == 0) {
            named.push_back(call.substr(name.size() + 1));
        }
    }
    return named;
}

std::wstring Os::GetSetting(const std::wstring& appName, const std::wstring& section, const std::wstring& key)
{
    const std::wstring path = appName + L"\\" + section + L"\\" + key;
    Call(L"GetSetting", path);
    if (settingsNotText.count(path) != 0) {
        throw platform::NotText(L"Reading the setting", path, L"It is not text.");
    }
    auto found = settings.find(path);
    return found == settings.end() ? L"" : found->second;
}

void Os::SaveSetting(const std::wstring& appName, const std::wstring& section, const std::wstring& key,
                     const std::wstring& value)
{
    Change(L"SaveSetting", value);
    settings[appName + L"\\" + section + L"\\" + key] = value;
}

// The fake registry holds the add-on's key (addOnTree) and keys beside it (otherKeys), each
// named HKCU\Software\Zephrix\<name>; trees name their keys HKEY_CURRENT_USER\...
namespace {

constexpr wchar_t kAddOn[] = L"hkcu\\software\\zephrix\\wrenlet2";
constexpr std::size_t kCurrentUserLength = 17; // HKEY_CURRENT_USER

// "hkcu\software\zephrix\<name>" of a key or of a path below it, in either spelling of the root.
std::wstring TopKey(const std::wstring& path)
{
    std::wstring lower = Lower(path);
    if (lower.rfind(L"hkey_current_user", 0) == 0) {
        lower.replace(0, kCurrentUserLength, L"hkcu");
    }
    std::size_t end = 0;
    for (int step = 0; step < 4 && end != std::wstring::npos; ++step) {
        end = lower.find(L'\\', end + 1);
    }
    return lower.substr(0, end);
}

} // namespace

bool Os::RegistryKeyExists(const std::wstring& key)
{
    Call(L"RegistryKeyExists", key);
    return registryKeys.count(Lower(key)) != 0 || otherKeys.count(Lower(key)) != 0;
}

std::optional<platform::RegistryTree> Os::ReadRegistryTree(const std::wstring& key)
{
    Call(L"ReadRegistryTree", key);
    if (const auto other = otherKeys.find(Lower(key)); other != otherKeys.end()) {
        return other->second;
    }
    if (registryKeys.count(Lower(key)) == 0) {
        return std::nullopt;
    }
    return addOnTree;
}

std::optional<std::vector<platform::KeyStamp>> Os::ReadRegistryStamps(const std::wstring& key)
{
    Call(L"ReadRegistryStamps", key);
    const auto other = otherKeys.find(Lower(key));
    if (other == otherKeys.end() && registryKeys.count(Lower(key)) == 0) {
        return std::nullopt;
    }
    std::vector<platform::KeyStamp> stamps;
    for (const platform::RegistryKey& each : other != otherKeys.end() ? other->second : addOnTree) {
        stamps.push_back({.path = each.path, .values = each.values.size(), .written = keysWritten.value_or(clock)});
    }
    return stamps;
}

void Os::DeleteRegistryTree(const std::wstring& key)
{
    Change(L"DeleteRegistryTree", key);
    if (Lower(key) == kAddOn) {
        registryKeys.erase(Lower(key));
        addOnTree.clear();
    }
    otherKeys.erase(Lower(key));
}

void Os::RenameRegistryKey(const std::wstring& key, const std::wstring& newName)
{
    Change(L"RenameRegistryKey", key + L" " + newName);
    const std::wstring from = Lower(key);
    const std::wstring to = from.substr(0, from.find_last_of(L'\\') + 1) + Lower(newName);
    const bool fromAddOn = from == kAddOn && registryKeys.count(kAddOn) != 0;
    if ((!fromAddOn && otherKeys.count(from) == 0) || registryKeys.count(to) != 0 || otherKeys.count(to) != 0) {
        throw platform::Failure(L"Renaming the registry key", key, L"Access is denied.");
    }
    platform::RegistryTree& source = fromAddOn ? addOnTree : otherKeys[from];
    if (to == kAddOn) {
        registryKeys.insert(kAddOn);
        addOnTree.clear(); // what a test left there while the key did not exist
    }
    platform::RegistryTree& target = to == kAddOn ? addOnTree : otherKeys[to];
    const auto renamed = [&newName](platform::RegistryKey moved) {
        std::size_t nameAt = 0;
        for (int step = 0; step < 3; ++step) {
            nameAt = moved.path.find(L'\\', nameAt) + 1;
        }
        const std::size_t nameEnd = std::min(moved.path.find(L'\\', nameAt), moved.path.size());
        moved.path.replace(nameAt, nameEnd - nameAt, newName);
        return moved;
    };
    // As a system without a rename in one step: copied key by key, then removed key by key.
    for (const platform::RegistryKey& moved : platform::RegistryTree(source)) {
        if (renameInSteps) {
            Change(L"RenameRegistryKey copies", moved.path);
        }
        target.push_back(renamed(moved));
    }
    while (!source.empty()) {
        if (renameInSteps) {
            Change(L"RenameRegistryKey removes", source.back().path);
        }
        source.pop_back();
    }
    if (fromAddOn) {
        registryKeys.erase(kAddOn);
    } else {
        otherKeys.erase(from);
    }
}

void Os::WriteRegistryTree(const platform::RegistryTree& tree)
{
    Change(L"WriteRegistryTree", tree.empty() ? L"" : tree.front().path);
    platform::RegistryTree written = tree;
    if (onWrite) {
        onWrite(written);
    }
    for (const platform::RegistryKey& key : written) {
        const std::wstring top = TopKey(key.path);
        if (top == kAddOn) {
            registryKeys.insert(kAddOn);
        }
        platform::RegistryTree& into = top == kAddOn ? addOnTree : otherKeys[top];
        const auto keyAt = [&into](const std::wstring& path) {
            auto found = std::find_if(into.begin(), into.end(),
                                      [&](const platform::RegistryKey& k) { return Lower(k.path) == Lower(path); });
            if (found == into.end()) {
                into.push_back({.path = path, .values = {}});
                found = into.end() - 1;
            }
            return found;
        };
        // Creating a key creates the keys above it, as far up as the add-on's key or the one beside it.
        const std::size_t topLength = top.size() + kCurrentUserLength - 4; // HKCU -> HKEY_CURRENT_USER
        for (std::size_t end = key.path.find(L'\\', topLength); end != std::wstring::npos;
             end = key.path.find(L'\\', end + 1)) {
            keyAt(key.path.substr(0, end));
        }
        auto found = keyAt(key.path);
        for (const platform::RegistryValue& value : key.values) {
            std::erase_if(found->values,
                          [&](const platform::RegistryValue& v) { return Lower(v.name) == Lower(value.name); });
            found->values.push_back(value);
            found->values.back().line = 0;
        }
    }
}

std::unique_ptr<platform::Process> Os::Shell(const std::wstring& commandLine, int windowStyle)
{
    Call(L"Shell", std::to_wstring(windowStyle) + L" " + commandLine);
    lastExit = std::make_shared<std::optional<std::uint32_t>>();
    return std::make_unique<Process>(lastExit);
}

std::wstring Os::AppPath()
{
    return appPath;
}

std::wstring Os::SystemPath()
{
    return systemPath;
}

std::wstring Os::WindowsPath()
{
    return L"C:\\Windows";
}

bool Os::FileExists(const std::wstring& path)
{
    // The program that runs is there, wherever appPath says.
    return files.count(Lower(path)) != 0 || Lower(path) == Lower(appPath + L"\\LarkSpool.exe");
}

bool Os::FolderExists(const std::wstring& path)
{
    std::wstring folder = Lower(path);
    if (folder.size() == 3 && folder[1] == L':') { // a drive's root: there while any folder on it is
        return std::any_of(folders.begin(), folders.end(),
                           [&folder](const std::wstring& known) { return known.rfind(folder.substr(0, 2), 0) == 0; });
    }
    return folders.count(folder) != 0;
}

bool Os::MakeNewDir(const std::wstring& path)
{
    Call(L"MakeNewDir", path);
    const std::wstring parent = Lower(Parent(path));
    if (parent.size() > 2 && folders.count(parent) == 0) { // below a drive's root, as the system does
        throw platform::Failure(L"Creating the folder", path, L"The system cannot find the path specified.");
    }
    return folders.insert(Lower(path)).second;
}

void Os::AppendText(const std::wstring& path, const std::wstring& text)
{
    Call(L"AppendText", path);
    if (folders.count(Lower(Parent(path))) == 0) {
        throw platform::Failure(L"Opening the file", path, L"The system cannot find the path specified.");
    }
    std::string& bytes = files[Lower(path)];
    for (wchar_t c : text) {
        bytes += static_cast<char>(c);
    }
}

void Os::SetAttr(const std::wstring& path, unsigned value)
{
    Call(L"SetAttr", path);
    attributes[Lower(path)] = value;
}

std::uint64_t Os::FileLen(const std::wstring& path)
{
    Call(L"FileLen", path);
    auto found = files.find(Lower(path));
    if (found == files.end()) {
        throw platform::Failure(L"Reading the size of", path, L"The system cannot find the file specified.");
    }
    return found->second.size();
}

namespace {

constexpr wchar_t kInUse[] = L"The process cannot access the file because it is being used by another process.";

} // namespace

std::vector<std::uint8_t> Os::ReadFileBytes(const std::wstring& path)
{
    Call(L"ReadFileBytes", path);
    return Bytes(path);
}

std::vector<std::uint8_t> Os::Bytes(const std::wstring& path) const
{
    auto found = files.find(Lower(path));
    if (found == files.end()) {
        throw platform::Failure(L"Opening the file", path, L"The system cannot find the file specified.");
    }
    if (locked.count(Lower(path)) != 0) {
        throw platform::Failure(L"Opening the file", path, kInUse);
    }
    return {found->second.begin(), found->second.end()};
}

void Os::WriteFileFlushed(const std::wstring& path, const std::vector<std::uint8_t>& bytes)
{
    Call(L"WriteFileFlushed", path);
    if (folders.count(Lower(Parent(path))) == 0) {
        throw platform::Failure(L"Creating the file", path, L"The system cannot find the path specified.");
    }
    if (!files.emplace(Lower(path), std::string(bytes.begin(), bytes.end())).second) {
        throw platform::Failure(L"Creating the file", path, L"The file exists.");
    }
}

void Os::RenameFile(const std::wstring& from, const std::wstring& to)
{
    Call(L"RenameFile", from + L" " + to);
    const auto found = files.find(Lower(from));
    if (found == files.end() || files.count(Lower(to)) != 0) {
        throw platform::Failure(L"Renaming the file", from, L"Cannot create a file when that file already exists.");
    }
    files[Lower(to)] = found->second;
    files.erase(found);
}

std::wstring Os::ComputerName()
{
    return computerName;
}

void Os::RemoveFile(const std::wstring& path)
{
    Call(L"RemoveFile", path);
    if (locked.count(Lower(path)) != 0) {
        throw platform::Failure(L"Deleting the file", path, kInUse);
    }
    if (files.erase(Lower(path)) == 0) {
        throw platform::Failure(L"Deleting the file", path, L"The system cannot find the file specified.");
    }
    attributes.erase(Lower(path));
}

void Os::DeleteSetting(const std::wstring& appName, const std::wstring& section)
{
    Change(L"DeleteSetting", appName + L"\\" + section);
    const std::wstring prefix = appName + L"\\" + section + L"\\";
    std::erase_if(settings, [&](const auto& entry) { return entry.first.rfind(prefix, 0) == 0; });
}

void Os::RemoveFolder(const std::wstring& path)
{
    Call(L"RemoveFolder", path);
    const std::wstring inside = Lower(path) + L"\\";
    std::erase_if(files, [&](const auto& file) { return file.first.rfind(inside, 0) == 0; });
    std::erase_if(attributes, [&](const auto& file) { return file.first.rfind(inside, 0) == 0; });
    std::erase_if(folders, [&](const std::wstring& folder) { return folder.rfind(inside, 0) == 0; });
    folders.erase(Lower(path));
}

void Os::BlockEndOfSession(platform::WindowHandle /*window*/, const std::wstring& reason)
{
    Call(L"BlockEndOfSession", reason);
}

bool Os::RemoveEmptyDir(const std::wstring& path)
{
    Call(L"RemoveEmptyDir", path);
    const std::wstring folder = Lower(path) + L"\\";
    for (const auto& file : files) {
        if (file.first.rfind(folder, 0) == 0) {
            return false;
        }
    }
    return folders.erase(Lower(path)) != 0;
}

// Folders are kept in lower case: the listing gives them as a user would have named them.
std::vector<std::wstring> Os::ListFolders(const std::wstring& folder)
{
    Call(L"ListFolders", folder);
    std::wstring prefix = Lower(folder);
    if (prefix.back() != L'\\') {
        prefix += L'\\';
    }
    std::vector<std::wstring> names;
    for (const std::wstring& path : folders) {
        if (path.rfind(prefix, 0) == 0 && path.find(L'\\', prefix.size()) == std::wstring::npos) {
            std::wstring name = path.substr(prefix.size());
            if (name.rfind(L"larkspool", 0) == 0) {
                name.replace(0, 9, L"Larkspool");
            }
            names.push_back(name);
        }
    }
    return names;
}

// Real paths: "." and ".." resolved, then the links, from the longest.
std::wstring Os::FinalPath(const std::wstring& path)
{
    Call(L"FinalPath", path);
    std::vector<std::wstring> steps;
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t end = std::min(path.find(L'\\', at), path.size());
        const std::wstring step = Lower(path.substr(at, end - at));
        if (step == L"..") {
            if (steps.size() > 1) {
                steps.pop_back();
            }
        } else if (!step.empty() && step != L".") {
            steps.push_back(step);
        }
        at = end + 1;
    }
    std::wstring real;
    for (const std::wstring& step : steps) {
        real += (real.empty() ? L"" : L"\\") + step;
        for (const auto& [from, to] : links) {
            if (real == from) {
                real = to;
            }
        }
    }
    if (real.size() == 2) {
        real += L'\\'; // a drive's root
    }
    if (!FileExists(real) && !FolderExists(real)) {
        throw platform::Failure(L"Opening", path, L"The system cannot find the file specified.");
    }
    return real;
}

std::vector<std::uint8_t> Os::ReadFileNoWriter(const std::wstring& path)
{
    Call(L"ReadFileNoWriter", path);
    if (beingWritten.count(Lower(path)) != 0) {
        throw platform::Failure(L"Opening the file", path, kInUse);
    }
    return Bytes(path);
}

std::vector<std::uint8_t> Os::ReadFileUnbuffered(const std::wstring& path)
{
    Call(L"ReadFileUnbuffered", path);
    if (beingWritten.count(Lower(path)) != 0) {
        throw platform::Failure(L"Opening the file", path, kInUse);
    }
    const std::vector<std::uint8_t> cached = Bytes(path);
    std::string bytes(cached.begin(), cached.end());
    if (onDevice) {
        onDevice(Lower(path), bytes);
    }
    return {bytes.begin(), bytes.end()};
}

std::uint32_t Os::ProcessId()
{
    return processId;
}

void Os::Sleep(int milliseconds)
{
    Call(L"Sleep", std::to_wstring(milliseconds));
    if (onSleep) {
        onSleep();
    }
}

void Os::Print(const std::wstring& line)
{
    printed.push_back(line);
}

void Os::PrintError(const std::wstring& line)
{
    printed.push_back(line);
    errors.push_back(line);
}

namespace {

struct JobState {
    bool done = false;
    std::exception_ptr failure;
};

class DoneJob final : public platform::Job {
public:
    DoneJob(std::shared_ptr<JobState> state, std::vector<std::wstring>& calls) : state_(std::move(state)), calls_(calls)
    {
    }
    // Destroyed while it still runs and nobody let it go: the real one is waited for here.
    ~DoneJob() override
    {
        if (!state_->done && !letGo_) {
            calls_.push_back(L"WaitForJob ");
        }
    }
    DoneJob(const DoneJob&) = delete;
    DoneJob& operator=(const DoneJob&) = delete;
    bool Done() override
    {
        if (state_->done && state_->failure) {
            std::rethrow_exception(std::exchange(state_->failure, nullptr));
        }
        return state_->done;
    }
    void LetGo() override { letGo_ = true; }

private:
    std::shared_ptr<JobState> state_;
    std::vector<std::wstring>& calls_;
    bool letGo_ = false;
};

class Lock final : public platform::ListLock {
public:
    explicit Lock(Os& os) : os_(os) { ++os_.locksHeld; }
    ~Lock() override
    {
        --os_.locksHeld;
        os_.calls.push_back(L"UnlockList ");
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    Os& os_;
};

} // namespace

std::unique_ptr<platform::ListLock> Os::LockList(int milliseconds)
{
    Call(L"LockList", std::to_wstring(milliseconds));
    if (milliseconds > 0 && onLockWait) {
        std::exchange(onLockWait, nullptr)();
    }
    if (lockHeldElsewhere || locksHeld > 0) {
        return nullptr;
    }
    return std::make_unique<Lock>(*this);
}

std::wstring Os::ProcessName()
{
    return L"process 42 started " + date + L" " + time;
}

void Os::Scheduler(const std::wstring& name, const std::wstring& task)
{
    Call(name, task);
    if (!schedulerUnreachable.empty()) {
        throw platform::Failure(L"Connecting to", L"the Task Scheduler", schedulerUnreachable);
    }
}

void Os::RegisterTask(const std::wstring& folder, const std::wstring& name, const std::wstring& xml)
{
    Scheduler(L"RegisterTask", folder + L"\\" + name);
    tasks[folder + L"\\" + name] = xml;
}

std::optional<std::wstring> Os::ReadTask(const std::wstring& folder, const std::wstring& name)
{
    Scheduler(L"ReadTask", folder + L"\\" + name);
    const auto found = tasks.find(folder + L"\\" + name);
    return found == tasks.end() ? std::nullopt : std::optional(found->second);
}

void Os::DeleteTask(const std::wstring& folder, const std::wstring& name)
{
    Scheduler(L"DeleteTask", folder + L"\\" + name);
    tasks.erase(folder + L"\\" + name);
}

std::wstring Os::UserSid()
{
    return L"S-1-5-21-1-2-3-1001";
}

std::unique_ptr<platform::Job> Os::StartJob(std::function<void()> work)
{
    Call(L"StartJob", L"");
    auto state = std::make_shared<JobState>();
    heldJobs.push_back([state, run = std::move(work)] {
        try {
            run();
        } catch (const Killed&) {
            throw;
        } catch (...) {
            state->failure = std::current_exception();
        }
        state->done = true;
    });
    if (!holdJobs) {
        RunJobs();
    }
    return std::make_unique<DoneJob>(state, calls);
}

void Os::RunJobs(std::size_t most)
{
    std::vector<std::function<void()>> jobs = std::exchange(heldJobs, {});
    if (jobs.size() > most) {
        heldJobs.assign(jobs.begin() + static_cast<std::ptrdiff_t>(most), jobs.end());
        jobs.resize(most);
    }
    for (auto& job : jobs) {
        job();
    }
}

bool Os::Ask(const std::wstring& text)
{
    Call(L"Ask", text);
    questions.push_back(text);
    if (whileAsked) {
        std::exchange(whileAsked, nullptr)();
    }
    if (!answers.empty()) {
        const bool given = answers.front();
        answers.erase(answers.begin());
        return given;
    }
    return answer;
}

std::wstring Os::DateText()
{
    return date;
}

std::wstring Os::TimeText()
{
    return time;
}

std::wstring Os::DecimalSeparator()
{
    return decimal;
}

bool Os::SetWindowPos(platform::WindowHandle hWnd, platform::WindowHandle hWndInsertAfter, int x, int y, int cx, int cy,
                      unsigned flags)
{
    Call(L"SetWindowPos", std::to_wstring(hWnd));
    windowPos.push_back({hWnd, hWndInsertAfter, x, y, cx, cy, flags});
    return hWnd != 0;
}

std::optional<std::wstring> Os::ChooseFile(platform::WindowHandle /*owner*/, const std::wstring& title)
{
    Call(L"ChooseFile", title);
    return chosenFile;
}

std::optional<std::wstring> Os::ChooseFolder(platform::WindowHandle /*owner*/, const std::wstring& title)
{
    Call(L"ChooseFolder", title);
    return chosenFolder;
}

void Os::MsgBox(const std::wstring& text, platform::MessageKind /*kind*/)
{
    Call(L"MsgBox", text);
    messages.push_back(text);
}

void Os::Report(platform::WindowHandle owner, const std::wstring& text, platform::MessageKind /*kind*/)
{
    Call(L"Report", std::to_wstring(owner));
    messages.push_back(text);
}

void Os::SetClipboardText(platform::WindowHandle /*owner*/, const std::wstring& text)
{
    Call(L"SetClipboardText", L"");
    clipboard = text;
}

void Os::End(int exitCode)
{
    calls.push_back(L"End " + std::to_wstring(exitCode));
    throw Ended{exitCode};
}

void Runtime::Show(platform::Form& form, int modal)
{
    calls.push_back(L"Show " + form.layout().name + L" " + std::to_wstring(modal));
    shown = &form;
    form.Load();
    focus = platform::FirstFocus(form.layout(), form.controls());
    form.Fire(L"Form", L"Resize");
    form.Fire(L"Form", L"Activate");
}

void Runtime::Key(platform::Form& form, int keyCode)
{
    const platform::Layout& layout = form.layout();
    if (keyCode == kTab) {
        std::vector<const platform::Control*> stops;
        for (const platform::Control& control : form.controls()) {
            if (platform::TabStop(layout, control, layout.clientWidth, layout.clientHeight)) {
                stops.push_back(&control);
            }
        }
        std::stable_sort(stops.begin(), stops.end(), [](auto* a, auto* b) { return a->tabIndex < b->tabIndex; });
        const auto at = std::find_if(stops.begin(), stops.end(), [this](auto* c) { return c->name == focus; });
        focus = at == stops.end() || at + 1 == stops.end() ? stops.front()->name : (*(at + 1))->name;
        return;
    }
    if (keyCode == platform::vbKeyReturn && !focus.empty() && form[focus].command) {
        form.Fire(focus, L"Click");
    } else if (keyCode == platform::vbKeyReturn && !layout.defaultCommand.empty()) {
        form.Fire(layout.defaultCommand, L"Click");
    } else {
        platform::EventArgs args;
        args.keyCode = keyCode;
        form.Fire(L"Form", L"KeyDown", args);
    }
}

void Runtime::Unload(platform::Form& form)
{
    calls.push_back(L"Unload " + form.layout().name);
}

void Runtime::PopupMenu(platform::Form& form, const std::wstring& menu)
{
    calls.push_back(L"PopupMenu " + menu);
    if (!popupChoice.empty()) {
        form.Fire(popupChoice, L"Click");
    }
}

platform::WindowHandle Runtime::hWnd(const platform::Form& form)
{
    return form.layout().name == L"Form1" ? 0x1001 : 0x2002;
}

void Runtime::Announce(platform::Form& /*form*/, const std::wstring& control)
{
    calls.push_back(L"Announce " + control);
}

int Runtime::Run(platform::Form& startup)
{
    Show(startup, 0);
    return 0;
}

namespace {

unsigned gAnsiCodePage = 1252;

// 0x80-0x9F of 1252; its five unassigned bytes stay the C1 controls of the same number, as the
// system decodes them.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// 0x80-0xBF of 1251 (0x98 unassigned); 0xC0-0xFF are U+0410-U+044F in order.
constexpr std::array<char32_t, 64> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

// Double-byte characters of 932; their second byte may be a backslash (0x5C).
const std::map<unsigned, wchar_t> kCp932Pairs = {
    {0x835C, L'\u30BD'}, {0x8374, L'\u30D5'}, {0x8367, L'\u30C8'}, {0x955C, L'\u8868'}, {0x8EA6, L'\u793A'},
};
constexpr wchar_t kCp932Default = L'\u30FB';

bool Cp932Lead(std::uint8_t byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

} // namespace

AnsiCodePage::AnsiCodePage(unsigned codePage) : before_(gAnsiCodePage)
{
    if (codePage != 1252 && codePage != 1251 && codePage != 932) {
        throw std::invalid_argument("the fake knows code pages 1252, 1251 and 932");
    }
    gAnsiCodePage = codePage;
}

AnsiCodePage::~AnsiCodePage()
{
    gAnsiCodePage = before_;
}

} // namespace fake

std::wstring platform::DecodeAnsi(std::span<const std::uint8_t> bytes)
{
    std::wstring text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t byte = bytes[i];
        if (byte < 0x80) {
            text.push_back(static_cast<wchar_t>(byte));
        } else if (fake::gAnsiCodePage == 1252) {
            text.push_back(static_cast<wchar_t>(byte <= 0x9F ? fake::kCp1252High[byte - 0x80] : byte));
        } else if (fake::gAnsiCodePage == 1251) {
            text.push_back(static_cast<wchar_t>(byte <= 0xBF ? fake::kCp1251High[byte - 0x80] : 0x0410 + byte - 0xC0));
        } else if (byte >= 0xA1 && byte <= 0xDF) { // 932: the half-width katakana
            text.push_back(static_cast<wchar_t>(0xFF61 + byte - 0xA1));
        } else if (fake::Cp932Lead(byte) && i + 1 < bytes.size()) {
            const auto found = fake::kCp932Pairs.find(byte * 0x100U + bytes[++i]);
            text.push_back(found == fake::kCp932Pairs.end() ? fake::kCp932Default : found->second);
        } else {
            text.push_back(fake::kCp932Default);
        }
    }
    return text;
}
