#include "backup/list_file.h"

#include "backup/backup_paths.h"
#include "backup/compare.h"

#include <algorithm>
#include <set>

namespace backup {

namespace {

constexpr std::wstring_view kRoot = kAddOnKeyFullName;

std::wstring Line(int line)
{
    return L"line " + std::to_wstring(line) + L" ";
}

} // namespace

bool InsideAddOnKey(std::wstring_view path)
{
    if (path.size() < kRoot.size() || !SameName(path.substr(0, kRoot.size()), kRoot)) {
        return false;
    }
    if (path.size() == kRoot.size()) {
        return true;
    }
    if (path[kRoot.size()] != L'\\') {
        return false;
    }
    std::size_t start = kRoot.size() + 1;
    for (;;) {
        const std::size_t end = path.find(L'\\', start);
        const std::wstring_view step = path.substr(start, end - start);
        if (step.empty() || step == L"." || step == L"..") {
            return false;
        }
        if (end == std::wstring_view::npos) {
            return true;
        }
        start = end + 1;
    }
}

std::optional<std::wstring> NotABackupOfTheList(const RegFile& file)
{
    // The list a file stands for keeps what a deletion would take from it, so any deletion, even
    // inside the add-on's key, makes the file no backup; the program never writes one itself.
    if (file.keys.empty()) {
        return L"it writes nothing of that key";
    }
    for (const platform::RegistryKey& key : file.keys) {
        if (key.deleted) {
            return Line(key.line) + L"deletes " + key.path;
        }
        if (!InsideAddOnKey(key.path)) {
            return Line(key.line) + L"writes " + key.path;
        }
        const auto deleted = std::find_if(key.values.begin(), key.values.end(),
                                          [](const platform::RegistryValue& value) { return value.deleted; });
        if (deleted != key.values.end()) {
            const std::wstring name = deleted->name.empty() ? L"(Default)" : L"\"" + deleted->name + L"\"";
            return Line(deleted->line) + L"deletes the value " + name + L" of " + key.path;
        }
    }
    return std::nullopt;
}

platform::RegistryTree ListOf(const RegFile& file)
{
    platform::RegistryTree list;
    // A key named twice in other letter cases is merged by the comparison, as by the registry.
    std::set<std::wstring_view> named;
    for (const platform::RegistryKey& key : file.keys) {
        if (!key.deleted) {
            // Importing a section creates every key above it.
            for (std::size_t end = key.path.find(L'\\', kRoot.size()); end != std::wstring::npos;
                 end = key.path.find(L'\\', end + 1)) {
                const std::wstring_view parent = std::wstring_view(key.path).substr(0, end);
                if (named.insert(parent).second) {
                    list.push_back({.path = std::wstring(parent), .values = {}, .deleted = false, .line = key.line});
                }
            }
            named.insert(key.path);
        }
        list.push_back(key);
    }
    return list;
}

} // namespace backup
