#include "fake_os.h"

#include <algorithm>
#include <cwctype>
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
        throw platform::Failure(name, argument, L"The device is not ready.");
    }
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
    Call(L"SaveSetting", value);
    settings[appName + L"\\" + section + L"\\" + key] = value;
}

bool Os::RegistryKeyExists(const std::wstring& key)
{
    Call(L"RegistryKeyExists", key);
    return registryKeys.count(Lower(key)) != 0;
}

std::optional<platform::RegistryTree> Os::ReadRegistryTree(const std::wstring& key)
{
    Call(L"ReadRegistryTree", key);
    if (registryKeys.count(Lower(key)) == 0) {
        return std::nullopt;
    }
    return addOnTree;
}

// The fake registry holds the add-on's key alone, as addOnTree.
void Os::DeleteRegistryTree(const std::wstring& key)
{
    Call(L"DeleteRegistryTree", key);
    registryKeys.erase(Lower(key));
    addOnTree.clear();
}

void Os::WriteRegistryTree(const platform::RegistryTree& tree)
{
    Call(L"WriteRegistryTree", tree.empty() ? L"" : tree.front().path);
    platform::RegistryTree written = tree;
    if (onWrite) {
        onWrite(written);
    }
    registryKeys.insert(L"hkcu\\software\\zephrix\\wrenlet2");
    for (const platform::RegistryKey& key : written) {
        auto found = std::find_if(addOnTree.begin(), addOnTree.end(),
                                  [&](const platform::RegistryKey& k) { return Lower(k.path) == Lower(key.path); });
        if (found == addOnTree.end()) {
            addOnTree.push_back({.path = key.path, .values = {}});
            found = addOnTree.end() - 1;
        }
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
    return files.count(Lower(path)) != 0;
}

bool Os::MakeNewDir(const std::wstring& path)
{
    Call(L"MakeNewDir", path);
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

std::vector<std::uint8_t> Os::ReadFileBytes(const std::wstring& path)
{
    Call(L"ReadFileBytes", path);
    auto found = files.find(Lower(path));
    if (found == files.end()) {
        throw platform::Failure(L"Opening the file", path, L"The system cannot find the file specified.");
    }
    return {found->second.begin(), found->second.end()};
}

void Os::RemoveFile(const std::wstring& path)
{
    Call(L"RemoveFile", path);
    if (files.erase(Lower(path)) == 0) {
        throw platform::Failure(L"Deleting the file", path, L"The system cannot find the file specified.");
    }
    attributes.erase(Lower(path));
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

namespace {

class DoneJob final : public platform::Job {
public:
    explicit DoneJob(std::shared_ptr<bool> done) : done_(std::move(done)) {}
    bool Done() override { return *done_; }

private:
    std::shared_ptr<bool> done_;
};

} // namespace

std::unique_ptr<platform::Job> Os::StartJob(std::function<void()> work)
{
    Call(L"StartJob", L"");
    auto done = std::make_shared<bool>(false);
    heldJobs.push_back([done, run = std::move(work)] {
        run();
        *done = true;
    });
    if (!holdJobs) {
        RunJobs();
    }
    return std::make_unique<DoneJob>(done);
}

void Os::RunJobs()
{
    for (auto jobs = std::exchange(heldJobs, {}); auto& job : jobs) {
        job();
    }
}

bool Os::Ask(const std::wstring& text)
{
    Call(L"Ask", text);
    questions.push_back(text);
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

void Os::MsgBox(const std::wstring& text, platform::MessageKind /*kind*/)
{
    Call(L"MsgBox", text);
    messages.push_back(text);
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
    form.Fire(L"Form", L"Resize");
    form.Fire(L"Form", L"Activate");
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

} // namespace fake
