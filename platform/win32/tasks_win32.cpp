// The Task Scheduler of the current user through its COM interface. COM and its DLLs are loaded
// only here, never at start-up, and none of them is imported.
#include "platform/win32/com.h"
#include "platform/win32/os_win32.h"

#include <taskschd.h>

#include <cwchar>

namespace platform::win32 {

namespace {

constexpr wchar_t kScheduler[] = L"the Task Scheduler";

// The system's words for the result, with its code: many of COM's codes have no words.
std::wstring Reason(HRESULT result)
{
    wchar_t code[16] = {};
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(result));
    return ErrorText(static_cast<DWORD>(result)) + L" (" + code + L")";
}

void Check(HRESULT result, const std::wstring& operation, const std::wstring& subject)
{
    if (FAILED(result)) {
        throw Failure(operation, subject, Reason(result));
    }
}

bool NotFound(HRESULT result)
{
    return result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

// The Task Scheduler, connected for the calls of one operation.
class Scheduler {
public:
    Scheduler()
        : ole32_(LoadSystemLibrary(L"ole32.dll")), oleaut32_(LoadSystemLibrary(L"oleaut32.dll")),
          allocate_(LibraryFunction<decltype(&::SysAllocString)>(oleaut32_, "SysAllocString")),
          free_(LibraryFunction<decltype(&::SysFreeString)>(oleaut32_, "SysFreeString")),
          com_(
              LibraryFunction<decltype(&::CoInitializeEx)>(ole32_, "CoInitializeEx")(nullptr, COINIT_APARTMENTTHREADED),
              LibraryFunction<decltype(&::CoUninitialize)>(ole32_, "CoUninitialize"), kScheduler)
    {
        const auto createInstance = LibraryFunction<decltype(&::CoCreateInstance)>(ole32_, "CoCreateInstance");
        Check(createInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                             reinterpret_cast<void**>(service_.put())),
              L"Starting", kScheduler);
        const VARIANT none{};
        Check(service_->Connect(none, none, none, none), L"Connecting to", kScheduler);
        Check(service_->GetFolder(Text(L"\\").get(), root_.put()), L"Opening the root folder of", kScheduler);
    }

    // A string as COM passes it, freed with the scheduler.
    class String {
    public:
        String(BSTR text, decltype(&::SysFreeString) free) : text_(text), free_(free) {}
        ~String() { free_(text_); }
        String(const String&) = delete;
        String& operator=(const String&) = delete;
        BSTR get() const noexcept { return text_; }
        BSTR* put() noexcept { return &text_; }

    private:
        BSTR text_;
        decltype(&::SysFreeString) free_;
    };
    String Text(const std::wstring& text) const { return {allocate_(text.c_str()), free_}; }
    String Empty() const { return {nullptr, free_}; }

    ITaskFolder& Root() const { return *root_.get(); }
    // The folder; null when there is none and `create` is false, or it cannot be made.
    bool OpenFolder(const std::wstring& folder, bool create, ComPtr<ITaskFolder>& opened) const
    {
        if (SUCCEEDED(root_->GetFolder(Text(folder).get(), opened.put()))) {
            return true;
        }
        const VARIANT none{};
        return create && SUCCEEDED(root_->CreateFolder(Text(folder).get(), none, opened.put()));
    }

private:
    Library ole32_;
    Library oleaut32_;
    decltype(&::SysAllocString) allocate_;
    decltype(&::SysFreeString) free_;
    ComStarted com_;
    ComPtr<ITaskService> service_;
    ComPtr<ITaskFolder> root_;
};

// The registered definition in that folder; nothing when there is no such task.
std::optional<std::wstring> ReadFrom(const Scheduler& scheduler, ITaskFolder& folder, const std::wstring& name)
{
    ComPtr<IRegisteredTask> task;
    const HRESULT found = folder.GetTask(scheduler.Text(name).get(), task.put());
    if (NotFound(found)) {
        return std::nullopt;
    }
    Check(found, L"Finding the task", name);
    Scheduler::String xml = scheduler.Empty();
    Check(task->get_Xml(xml.put()), L"Reading the task", name);
    return std::wstring(xml.get() != nullptr ? xml.get() : L"");
}

void DeleteFrom(const Scheduler& scheduler, ITaskFolder& folder, const std::wstring& name)
{
    const HRESULT deleted = folder.DeleteTask(scheduler.Text(name).get(), 0);
    if (!NotFound(deleted)) {
        Check(deleted, L"Deleting the task", name);
    }
}

} // namespace

void Win32Os::RegisterTask(const std::wstring& folder, const std::wstring& name, const std::wstring& xml)
{
    const Scheduler scheduler;
    ComPtr<ITaskFolder> own;
    ITaskFolder& target = scheduler.OpenFolder(folder, true, own) ? *own.get() : scheduler.Root();
    const VARIANT none{};
    ComPtr<IRegisteredTask> registered;
    Check(target.RegisterTask(scheduler.Text(name).get(), scheduler.Text(xml).get(), TASK_CREATE_OR_UPDATE, none, none,
                              TASK_LOGON_INTERACTIVE_TOKEN, none, registered.put()),
          L"Registering the task", name);
}

std::optional<std::wstring> Win32Os::ReadTask(const std::wstring& folder, const std::wstring& name)
{
    const Scheduler scheduler;
    ComPtr<ITaskFolder> own;
    if (scheduler.OpenFolder(folder, false, own)) {
        if (std::optional<std::wstring> xml = ReadFrom(scheduler, *own.get(), name)) {
            return xml;
        }
    }
    return ReadFrom(scheduler, scheduler.Root(), name);
}

void Win32Os::DeleteTask(const std::wstring& folder, const std::wstring& name)
{
    const Scheduler scheduler;
    ComPtr<ITaskFolder> own;
    if (scheduler.OpenFolder(folder, false, own)) {
        DeleteFrom(scheduler, *own.get(), name);
        own.reset();
        // The folder goes with its last task; one that still holds others stays.
        scheduler.Root().DeleteFolder(scheduler.Text(folder).get(), 0);
    }
    DeleteFrom(scheduler, scheduler.Root(), name);
}

std::wstring Win32Os::UserSid()
{
    return CurrentUserSid();
}

} // namespace platform::win32
