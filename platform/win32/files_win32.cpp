// Files written so that they are on the device when the call returns, read back past the cache,
// renamed without replacing, real paths and the computer's name: what a checked copy of a backup
// needs.
#include "platform/win32/os_win32.h"

#include <algorithm>
#include <memory>

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

namespace {

// Unbuffered reads go to the device in whole sectors, into memory aligned to them: a page is a
// multiple of every sector size in use.
constexpr std::size_t kSectorAlignment = 4096;
constexpr std::size_t kReadChunk = 1 << 16;

// The whole file, shared with readers only, so that no writer has it open meanwhile.
std::vector<std::uint8_t> ReadWithoutWriters(const std::wstring& path, DWORD flags)
{
    const FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | flags, nullptr));
    if (!file) {
        ThrowLastError(L"Opening the file", path);
    }
    std::vector<std::uint8_t> buffer(kReadChunk + kSectorAlignment);
    void* aligned = buffer.data();
    std::size_t space = buffer.size();
    auto* chunk = static_cast<std::uint8_t*>(std::align(kSectorAlignment, kReadChunk, aligned, space));
    std::vector<std::uint8_t> bytes;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), chunk, static_cast<DWORD>(kReadChunk), &read, nullptr)) {
            ThrowLastError(L"Reading the file", path);
        }
        if (read == 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), chunk, chunk + read);
    }
}

} // namespace

std::wstring Win32Os::FinalPath(const std::wstring& path)
{
    // Backup semantics open folders too; no access to the contents is asked for.
    const FileHandle opened(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!opened) {
        ThrowLastError(L"Opening", path);
    }
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(opened.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            ThrowLastError(L"Finding the real path of", path);
        }
        if (length < buffer.size()) {
            const std::wstring real(buffer.data(), length);
            // \\?\C:\x is C:\x, \\?\UNC\server\share is \\server\share.
            if (real.rfind(L"\\\\?\\UNC\\", 0) == 0) {
                return L"\\\\" + real.substr(8);
            }
            return real.rfind(L"\\\\?\\", 0) == 0 ? real.substr(4) : real;
        }
        buffer.resize(length); // the length it needs, its end included
    }
}

std::vector<std::uint8_t> Win32Os::ReadFileNoWriter(const std::wstring& path)
{
    return ReadWithoutWriters(path, 0);
}

// What comes back proves that the device (or the share's server) holds the bytes: the system's
// cache is passed by, its pages for the file having been flushed before.
std::vector<std::uint8_t> Win32Os::ReadFileUnbuffered(const std::wstring& path)
{
    return ReadWithoutWriters(path, FILE_FLAG_NO_BUFFERING);
}

std::uint32_t Win32Os::ProcessId()
{
    return ::GetCurrentProcessId();
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
