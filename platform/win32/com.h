// COM interfaces owned as handles are: released once, by their owner.
#pragma once

#include "platform/win32/os_win32.h"

#include <objbase.h>
#include <unknwn.h>

namespace platform::win32 {

// Holds one COM interface and releases it.
template <typename T> class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* operator->() const noexcept { return p_; }
    T* get() const noexcept { return p_; }
    T** put() noexcept { return &p_; }
    void reset() noexcept
    {
        if (p_ != nullptr) {
            p_->Release();
            p_ = nullptr;
        }
    }

private:
    T* p_ = nullptr;
};

// CoUninitialize for a CoInitializeEx that succeeded; one that found COM started in another mode
// leaves it as it is. Any other failure is thrown, naming what COM was started for.
class ComStarted {
public:
    ComStarted(HRESULT started, decltype(&::CoUninitialize) uninitialize, const wchar_t* subject)
        : uninitialize_(SUCCEEDED(started) ? uninitialize : nullptr)
    {
        if (FAILED(started) && started != RPC_E_CHANGED_MODE) {
            throw Failure(L"Starting COM for", subject, ErrorText(static_cast<DWORD>(started)));
        }
    }
    ~ComStarted()
    {
        if (uninitialize_ != nullptr) {
            uninitialize_();
        }
    }
    ComStarted(const ComStarted&) = delete;
    ComStarted& operator=(const ComStarted&) = delete;

private:
    decltype(&::CoUninitialize) uninitialize_;
};

} // namespace platform::win32
