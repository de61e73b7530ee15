// Stands for a registry tool that ends with code 0 after writing only part of its file: it
// copies C:\half-export.reg to the file named in "reg EXPORT KEY FILE /y".
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        return 2;
    }
    return ::CopyFileW(L"C:\\half-export.reg", argv[3], FALSE) ? 0 : 3;
}
