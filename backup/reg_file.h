// Reads the registration files that the registry tool and the registry editor write:
// "Windows Registry Editor Version 5.00" (UTF-16 LE with a byte-order mark) and "REGEDIT4"
// (8-bit, in the system's ANSI code page). Knows no window and no Win32: it works on the file's
// bytes, and platform/ decodes 8-bit text.
#pragma once

#include "platform/registry_tree.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace backup {

// A file that is not a registration file, with the line where reading stopped.
class RegFileError : public std::runtime_error {
public:
    RegFileError(int line, std::wstring reason);
    int line() const noexcept { return line_; }
    const std::wstring& reason() const noexcept { return reason_; }
    // "line 12: <reason>"
    std::wstring text() const;

private:
    int line_;
    std::wstring reason_;
};

enum class RegFileFormat { Version5, Regedit4 };

struct RegFile {
    RegFileFormat format = RegFileFormat::Version5;
    // The sections in the order of the file; a key that has two sections appears twice.
    platform::RegistryTree keys;
};

// Throws RegFileError for anything that is not a well-formed registration file.
RegFile ReadRegFile(std::span<const std::uint8_t> bytes);

} // namespace backup
