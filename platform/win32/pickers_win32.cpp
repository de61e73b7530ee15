// The system's pickers. COM is loaded only while one is open, never at start-up, and none of its
// DLLs is imported.
#include "platform/win32/com.h"
#include "platform/win32/os_win32.h"

#include <knownfolders.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace platform::win32 {

namespace {

void Check(HRESULT result, const wchar_t* operation)
{
    if (FAILED(result)) {
        throw Failure(operation, L"the system's file picker", ErrorText(static_cast<DWORD>(result)));
    }
}

// The folder picker opens in the user's synced folder (OneDrive) when there is one, else in
// Documents; where neither is known, where the system chooses.
void StartInSyncedFolder(IFileOpenDialog& dialog)
{
    try {
        const Library shell32 = LoadSystemLibrary(L"shell32.dll");
        const auto knownFolderItem =
            LibraryFunction<decltype(&::SHGetKnownFolderItem)>(shell32, "SHGetKnownFolderItem");
        for (const KNOWNFOLDERID& known : {FOLDERID_SkyDrive, FOLDERID_Documents}) {
            ComPtr<IShellItem> folder;
            if (SUCCEEDED(knownFolderItem(known, KF_FLAG_DEFAULT, nullptr, IID_IShellItem,
                                          reinterpret_cast<void**>(folder.put())))) {
                dialog.SetFolder(folder.get());
                return;
            }
        }
    } catch (const Failure&) {
        // Without shell32's help the picker starts where the system chooses.
    }
}

// The picker, open on the window; the chosen file or folder, nothing on Cancel.
std::optional<std::wstring> Pick(WindowHandle owner, const std::wstring& title, bool folders)
{
    const Library ole32 = LoadSystemLibrary(L"ole32.dll");
    const auto initialize = LibraryFunction<decltype(&::CoInitializeEx)>(ole32, "CoInitializeEx");
    const auto createInstance = LibraryFunction<decltype(&::CoCreateInstance)>(ole32, "CoCreateInstance");
    const auto freeMemory = LibraryFunction<decltype(&::CoTaskMemFree)>(ole32, "CoTaskMemFree");
    const ComStarted com(initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE),
                         LibraryFunction<decltype(&::CoUninitialize)>(ole32, "CoUninitialize"),
                         L"the system's file picker");

    ComPtr<IFileOpenDialog> dialog;
    Check(createInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                         reinterpret_cast<void**>(dialog.put())),
          L"Opening");
    FILEOPENDIALOGOPTIONS options = 0;
    Check(dialog->GetOptions(&options), L"Preparing");
    options |= FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST;
    if (folders) {
        options |= FOS_PICKFOLDERS;
        StartInSyncedFolder(*dialog.get());
    } else {
        const COMDLG_FILTERSPEC types[] = {{L"Registration files (*.reg)", L"*.reg"}, {L"All files (*.*)", L"*.*"}};
        Check(dialog->SetFileTypes(2, types), L"Preparing");
        options |= FOS_FILEMUSTEXIST;
    }
    Check(dialog->SetOptions(options), L"Preparing");
    Check(dialog->SetTitle(title.c_str()), L"Preparing");
    const HRESULT shown = dialog->Show(reinterpret_cast<HWND>(owner));
    if (shown == HRESULT_FROM_WIN32(ERROR_CANCELLED)) {
        return std::nullopt;
    }
    Check(shown, L"Showing");
    ComPtr<IShellItem> item;
    Check(dialog->GetResult(item.put()), L"Reading the choice of");
    PWSTR path = nullptr;
    Check(item->GetDisplayName(SIGDN_FILESYSPATH, &path), L"Reading the choice of");
    std::wstring chosen(path);
    freeMemory(path);
    return chosen;
}

} // namespace

std::optional<std::wstring> Win32Os::ChooseFile(WindowHandle owner, const std::wstring& title)
{
    return Pick(owner, title, false);
}

std::optional<std::wstring> Win32Os::ChooseFolder(WindowHandle owner, const std::wstring& title)
{
    return Pick(owner, title, true);
}

} // namespace platform::win32
