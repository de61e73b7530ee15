// The list's lock: a named mutex of the user's session, which the system gives up when its owner
// ends, and this process's name for the restore's journal.
#include "platform/win32/os_win32.h"

#include <cwchar>

namespace platform::win32 {

namespace {

class MutexLock final : public ListLock {
public:
    explicit MutexLock(Handle mutex) : mutex_(std::move(mutex)) {}
    ~MutexLock() override { ::ReleaseMutex(mutex_.get()); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Handle mutex_;
};

} // namespace

std::unique_ptr<ListLock> Win32Os::LockList(int milliseconds)
{
    // Per user as well as per session: a program run as another user in the same session keeps
    // a list of its own.
    const std::wstring name = L"Local\\LarkSpool-" + CurrentUserSid() + L"-list";
    Handle mutex(::CreateMutexW(nullptr, FALSE, name.c_str()));
    if (!mutex) {
        ThrowLastError(L"Creating the lock", name);
    }
    switch (::WaitForSingleObject(mutex.get(), static_cast<DWORD>(milliseconds))) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: // its owner was ended in the middle: the journal tells what it left
        return std::make_unique<MutexLock>(std::move(mutex));
    case WAIT_TIMEOUT:
        return nullptr;
    default:
        ThrowLastError(L"Waiting for the lock", name);
    }
}

std::wstring Win32Os::ProcessName()
{
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    SYSTEMTIME utc{};
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user) ||
        !::FileTimeToSystemTime(&created, &utc)) {
        ThrowLastError(L"Reading the start time of", L"this program");
    }
    wchar_t started[32] = {};
    std::swprintf(started, std::size(started), L"%02u-%02u-%04u %02u:%02u:%02u.%03u UTC", utc.wMonth, utc.wDay,
                  utc.wYear, utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
    return L"process " + std::to_wstring(::GetCurrentProcessId()) + L" started " + started;
}

} // namespace platform::win32
