#include "backup/backup_paths.h"

namespace backup {

std::wstring BackupFolder(std::wstring_view runNumber)
{
    return L"C:\\Larkspool" + std::wstring(runNumber);
}

std::wstring BackupFile(std::wstring_view runNumber)
{
    return BackupFolder(runNumber) + L"\\" + BackupFileName(runNumber);
}

std::wstring BackupFileName(std::wstring_view runNumber)
{
    return L"Larkspool" + std::wstring(runNumber) + L".reg";
}

std::wstring DateStampFile(std::wstring_view runNumber)
{
    return L"C:\\LarkSpool" + std::wstring(runNumber) + L"\\Date Created.txt";
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name)
{
    std::wstring path(folder);
    if (path.empty() || path.back() != L'\\') {
        path += L'\\';
    }
    return path + std::wstring(name);
}

// The rules of CommandLineToArgvW: backslashes are literal unless they precede a quote, so
// those before a quote, and before the closing quote, are doubled.
std::wstring QuoteArgument(std::wstring_view argument)
{
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring ExportCommandLine(std::wstring_view registryTool, std::wstring_view runNumber)
{
    return QuoteArgument(registryTool) + L" EXPORT " + kAddOnKey + L" " + QuoteArgument(BackupFile(runNumber)) + L" /y";
}

std::wstring FileBrowserCommandLine(std::wstring_view windowsFolder, std::wstring_view argument)
{
    return QuoteArgument(JoinPath(windowsFolder, L"explorer.exe")) + L" " + std::wstring(argument);
}

std::wstring FormatKilobytes(std::uint64_t bytes, std::wstring_view decimalSeparator)
{
    // Whole hundredths of a kilobyte, rounded in integers so that no binary fraction can tip a half.
    const std::uint64_t hundredths = (bytes * 100 + 512) / 1024;
    const std::uint64_t whole = hundredths / 100;
    const std::uint64_t fraction = hundredths % 100;

    std::wstring text = whole == 0 ? L"" : std::to_wstring(whole);
    text += decimalSeparator;
    if (fraction % 10 != 0) {
        text += static_cast<wchar_t>(L'0' + fraction / 10);
        text += static_cast<wchar_t>(L'0' + fraction % 10);
    } else if (fraction != 0) {
        text += static_cast<wchar_t>(L'0' + fraction / 10);
    }
    return text;
}

} // namespace backup
