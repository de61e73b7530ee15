// The picture control's image: a JPEG resource decoded by WIC.
#pragma once

#include "platform/win32/handles.h"

#include <windows.h>

namespace platform::win32 {

// Decodes a JPEG kept as a resource into a 32-bit bitmap; throws a Failure when it cannot.
Bitmap LoadPicture(HINSTANCE instance, int resource, SIZE& size);

} // namespace platform::win32
