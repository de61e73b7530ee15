// The run counter: counts the program's starts in the settings store and shows the count.
#include "app/Form1.h"
#include "app/run_count.h"
#include "backup/run_number.h"

namespace {

constexpr wchar_t kAppName[] = L"lsBundle";
constexpr wchar_t kSection[] = L"TimesRun";
constexpr wchar_t kKey[] = L"1";

constexpr wchar_t kDescription[] =
    L"This is in noway a product by Zephrix, or have any relation to Wrenlet!\r\n"
    L"This allows a person to Backup their Custom Name Contact List created by Wrenlet!2\r\n"
    L"Enjoy";

} // namespace

void Form1::RefreshRunCount()
{
    timesRun_ = app::ReadRunCount(
        os, [this](const std::wstring& text) { os.MsgBox(text, platform::MessageKind::Information); });
    app::StoreRunCount(os, *backup::ParseRunNumber(timesRun_) + 1);
    (*this)[L"Label1"].caption = kDescription;
    ShowRunNumber();
    (*this)[L"Text1"].caption.clear();
}

void Form1::ShowRunNumber()
{
    Caption = L"Wrenlet! 2 LarkSpool. (Times Run = " + timesRun_ + L")";
}

namespace app {

namespace {

std::wstring NotACount(const std::wstring& what)
{
    return L"The stored run count " + what + L" is not a whole number of at most " +
           std::to_wstring(backup::kLongestRunNumber) + L" digits.\n\nCounting starts again from 0.";
}

} // namespace

std::wstring ReadRunCount(platform::Os& os, const std::function<void(const std::wstring&)>& tell)
{
    std::wstring stored;
    try {
        stored = os.GetSetting(kAppName, kSection, kKey);
    } catch (const platform::NotText&) {
        // Another tool, an import or a hand edit stored something else: a number, say.
        tell(NotACount(L"(a value of another type than text)"));
        return L"0";
    }
    if (stored.empty()) {
        return L"0";
    }
    if (!backup::ParseRunNumber(stored)) {
        tell(NotACount(L"\"" + stored + L"\""));
        return L"0";
    }
    return stored;
}

void StoreRunCount(platform::Os& os, std::int64_t count)
{
    os.SaveSetting(kAppName, kSection, kKey, std::to_wstring(count));
}

} // namespace app

// A run without a backup gives its number back: the stored count goes to one less than the
// number this run showed (never below 0).
void Form1::did_backup()
{
    if (backupDone_) {
        return;
    }
    const std::int64_t count = backup::ParseRunNumber(timesRun_).value_or(0);
    app::StoreRunCount(os, count == 0 ? 0 : count - 1);
}
