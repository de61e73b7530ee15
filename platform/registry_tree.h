// A registry key with all its subkeys, as the live registry holds it or as a registration file
// writes it. Both sides of a comparison come in this one form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Value types as the registry numbers them.
constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegDwordBigEndian = 5;
constexpr std::uint32_t kRegLink = 6;
constexpr std::uint32_t kRegMultiSz = 7;
constexpr std::uint32_t kRegQword = 11;

struct RegistryValue {
    std::wstring name{};            // empty: the key's default value
    std::uint32_t type = kRegNone;  // any number; files may name types the registry has no name for
    std::vector<std::uint8_t> data; // the bytes as the registry keeps them: strings in UTF-16 LE
    bool deleted = false;           // "name"=- in a registration file
    int line = 0;                   // where a registration file sets it; 0 for the live registry
};

struct RegistryKey {
    std::wstring path{}; // the full name, e.g. HKEY_CURRENT_USER\Software\Zephrix\Wrenlet2\Groups
    std::vector<RegistryValue> values;
    bool deleted = false; // [-key] in a registration file
    int line = 0;         // the line of its section in a registration file; 0 for the live registry
};

// A key and its subkeys, each key once with its full path; parents come before their children.
using RegistryTree = std::vector<RegistryKey>;

} // namespace platform
