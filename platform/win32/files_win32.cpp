// Files written so that they are on the device when the call returns, renamed without replacing,
// and the computer's name: what a checked copy of a backup needs.
#include "platform/win32/os_win32.h"

#include <algorithm>

namespace platform::win32 {

void Win32Os::WriteFileFlushed(const std::wstring& path, const std::vector<std::uint8_t>& bytes)
{
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        ThrowLastError(L"Creating the file", path);
    }
    constexpr std::size_t kChunk = 1 << 20;
    for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
        const DWORD length = static_cast<DWORD>(std::min(kChunk, bytes.size() - at));
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes.data() + at, length, &written, nullptr) || written != length) {
            ThrowLastError(L"Writing the file", path);
        }
    }
    if (!::FlushFileBuffers(file.get())) {
        ThrowLastError(L"Flushing the file", path);
    }
}

void Win32Os::RenameFile(const std::wstring& from, const std::wstring& to)
{
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        ThrowLastError(L"Renaming the file", from);
    }
}

std::wstring Win32Os::ComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &length)) {
        ThrowLastError(L"Reading", L"the computer's name");
    }
    return {name, length};
}

} // namespace platform::win32
