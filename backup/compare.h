// One comparison of two key trees (a backup file's and the live key's, or two files'), and the
// counts and texts that the windows and the command line show of it.
#pragma once

#include "platform/registry_tree.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace backup {

enum class Change { Added, Removed, Changed };

// One key or value that is on one side only, or a value whose type or data differ.
struct Difference {
    Change change = Change::Changed;
    std::wstring key; // the key's full path, as the side that has it spells it
    // A whole key added or removed: no value. Each of that key's values is a difference of its own.
    std::optional<platform::RegistryValue> before; // empty when added
    std::optional<platform::RegistryValue> after;  // empty when removed
    bool wholeKey() const noexcept { return !before && !after; }
};

// What changed from `before` to `after`. Key and value names compare as the registry compares
// them (case-insensitively); a string's terminating NUL that one side lacks is no difference.
// Sections of the same key are merged (a later value replaces an earlier one of the same name);
// deletion entries count as absent. Differences come sorted by key path, then value name.
std::vector<Difference> CompareTrees(const platform::RegistryTree& before, const platform::RegistryTree& after);

// Whether two key or value names are the same to the registry.
bool SameName(std::wstring_view a, std::wstring_view b);
// A key or value name as the registry compares it: names that are the same fold alike.
std::wstring FoldedName(std::wstring_view name);

// Values in the tree, of every key, deletion entries left out.
std::size_t CountValues(const platform::RegistryTree& tree);
// Keys in the tree, each path once.
std::size_t CountKeys(const platform::RegistryTree& tree);

struct DifferenceCounts {
    std::size_t added = 0;
    std::size_t removed = 0;
    std::size_t changed = 0;
    bool operator==(const DifferenceCounts&) const = default;
};
DifferenceCounts Count(const std::vector<Difference>& differences);

} // namespace backup
