// A registration file as a backup of the add-on's list: whether it is one, and the list it holds.
// The check, the Backups list, Compare and the restore's vetting judge files by these alone.
#pragma once

#include "backup/reg_file.h"

#include <optional>
#include <string>
#include <string_view>

namespace backup {

// The path lies in the add-on's key: the key itself or below it, with no step that is empty,
// "." or "..", which the registry would resolve elsewhere.
bool InsideAddOnKey(std::wstring_view path);

// Why the file is no backup of the list: the first line that deletes a key or a value anywhere
// ("line 4 deletes the value "a" of <key>") or writes a key outside the add-on's key ("line 3
// writes HKEY_CURRENT_USER\Software\Classes\.bmp"), or that it writes nothing of that key.
// Nothing for a backup of the list: then importing it leaves ListOf(file).
std::optional<std::wstring> NotABackupOfTheList(const RegFile& file);

// The key tree that importing a backup of the list leaves: its sections, each after the keys it
// implies between the add-on's key and itself (empty, unless a section of their own gives values).
platform::RegistryTree ListOf(const RegFile& file);

} // namespace backup
