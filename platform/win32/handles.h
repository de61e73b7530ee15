// Owners for the Win32 handles the program uses: each closes its handle exactly once.
#pragma once

#include <windows.h>

#include <utility>

namespace platform::win32 {

template <typename Traits> class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type handle) noexcept : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Type get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }
    Type release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
    void reset(Type handle = Traits::Invalid()) noexcept
    {
        if (handle_ != Traits::Invalid()) {
            Traits::Close(handle_);
        }
        handle_ = handle;
    }

private:
    Type handle_ = Traits::Invalid();
};

// Handles whose "none" is null, closed by the given function.
template <typename T, auto CloseFunction> struct NullHandleTraits {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { CloseFunction(h); }
};

// File handles, whose "none" is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

// Directory searches, whose "none" is INVALID_HANDLE_VALUE.
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};

inline void DeleteGdiObject(HGDIOBJ object) noexcept
{
    ::DeleteObject(object);
}

using Handle = UniqueHandle<NullHandleTraits<HANDLE, ::CloseHandle>>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using Key = UniqueHandle<NullHandleTraits<HKEY, ::RegCloseKey>>;
using Font = UniqueHandle<NullHandleTraits<HFONT, DeleteGdiObject>>;
using Brush = UniqueHandle<NullHandleTraits<HBRUSH, DeleteGdiObject>>;
using Bitmap = UniqueHandle<NullHandleTraits<HBITMAP, DeleteGdiObject>>;
using Menu = UniqueHandle<NullHandleTraits<HMENU, ::DestroyMenu>>;
using MemoryDc = UniqueHandle<NullHandleTraits<HDC, ::DeleteDC>>;
using Window = UniqueHandle<NullHandleTraits<HWND, ::DestroyWindow>>;
using Icon = UniqueHandle<NullHandleTraits<HICON, ::DestroyIcon>>;
using Hook = UniqueHandle<NullHandleTraits<HHOOK, ::UnhookWindowsHookEx>>;
using GlobalMemory = UniqueHandle<NullHandleTraits<HGLOBAL, ::GlobalFree>>;
using Library = UniqueHandle<NullHandleTraits<HMODULE, ::FreeLibrary>>;

// A window's device context, given back to the window it came from.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    ~WindowDc() { ::ReleaseDC(window_, dc_); }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

class PaintDc {
public:
    explicit PaintDc(HWND window) noexcept : window_(window) { ::BeginPaint(window_, &paint_); }
    ~PaintDc() { ::EndPaint(window_, &paint_); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    HDC get() const noexcept { return paint_.hdc; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
};

// Selects an object into a DC and puts the old one back.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(::SelectObject(dc, object)) {}
    ~Selection() { ::SelectObject(dc_, old_); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

} // namespace platform::win32
