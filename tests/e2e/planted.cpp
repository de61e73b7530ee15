// Stands for a program planted at C:\My.exe: if anything starts it, it leaves a mark.
#include <windows.h>

int wmain()
{
    HANDLE mark = ::CreateFileW(L"C:\\planted-program-ran.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark != INVALID_HANDLE_VALUE) {
        ::CloseHandle(mark);
    }
    return 0;
}
