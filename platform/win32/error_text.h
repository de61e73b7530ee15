// The system's words for an error code, for the program and its console launcher alike.
#pragma once

#include <windows.h>

#include <string>

namespace platform::win32 {

// The system's own words for an error code, without the line end.
std::wstring ErrorText(DWORD code);

} // namespace platform::win32
