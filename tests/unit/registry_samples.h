// Key trees and the registration files that hold them, for tests of the backup engine.
#pragma once

#include "platform/registry_tree.h"

#include <string>

namespace samples {

// A string value as the registry keeps it: UTF-16 LE with its terminating NUL.
inline platform::RegistryValue Sz(const std::wstring& name, const std::wstring& text)
{
    platform::RegistryValue value{.name = name, .type = platform::kRegSz, .data = {}};
    for (wchar_t c : text) {
        value.data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        value.data.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    value.data.push_back(0);
    value.data.push_back(0);
    return value;
}

constexpr wchar_t kRoot[] = L"HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2";

// The add-on's key with a version and two names below it.
inline platform::RegistryTree AddOnKey()
{
    return {{.path = kRoot, .values = {Sz(L"Version", L"2.0")}},
            {.path = std::wstring(kRoot) + L"\\CustomNames",
             .values = {Sz(L"alice@example.org", L"Alice"), Sz(L"bob@example.org", L"Bobby")}}};
}

// A REGEDIT4 file of a tree of ASCII string values, as the registry tool would write it.
inline std::string Regedit4(const platform::RegistryTree& tree)
{
    std::string file = "REGEDIT4\r\n\r\n";
    const auto ascii = [](const std::wstring& text) { return std::string(text.begin(), text.end()); };
    for (const platform::RegistryKey& key : tree) {
        file += "[" + ascii(key.path) + "]\r\n";
        for (const platform::RegistryValue& value : key.values) {
            std::string text;
            for (std::size_t i = 0; i + 3 < value.data.size(); i += 2) {
                text += static_cast<char>(value.data[i]);
            }
            file += (value.name.empty() ? std::string("@") : "\"" + ascii(value.name) + "\"") + "=\"" + text + "\"\r\n";
        }
        file += "\r\n";
    }
    return file;
}

} // namespace samples
