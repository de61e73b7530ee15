// The picture control's image: a JPEG resource decoded by WIC.
#pragma once

#include "platform/win32/handles.h"

#include <windows.h>

#include <exception>
#include <thread>

namespace platform::win32 {

// A JPEG kept as a resource, decoded into a 32-bit bitmap on a thread of its own: under Wine,
// starting COM and the decoder is a good part of the program's start, and the window can be
// made meanwhile. COM is started on that thread alone.
class PictureLoad {
public:
    // Finds the resource at once, and throws a Failure when it is not there.
    PictureLoad(HINSTANCE instance, int resource);
    ~PictureLoad();
    PictureLoad(const PictureLoad&) = delete;
    PictureLoad& operator=(const PictureLoad&) = delete;

    // Waits for the decoder: the bitmap and its size, or its Failure thrown.
    Bitmap Take(SIZE& size);

private:
    const BYTE* data_ = nullptr;
    DWORD length_ = 0;
    Bitmap bitmap_;
    SIZE size_{};
    std::exception_ptr failure_;
    std::thread thread_;
};

} // namespace platform::win32
