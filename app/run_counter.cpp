// The run counter: counts the program's starts in the settings store and shows the count.
#include "app/Form1.h"
#include "app/run_count.h"

#include <limits>

namespace {

constexpr wchar_t kAppName[] = L"lsBundle";
constexpr wchar_t kSection[] = L"TimesRun";
constexpr wchar_t kKey[] = L"1";

constexpr wchar_t kDescription[] =
    L"This is in noway a product by Zephrix, or have any relation to Wrenlet!\r\n"
    L"This allows a person to Backup their Custom Name Contact List created by Wrenlet!2\r\n"
    L"Enjoy";

} // namespace

namespace app {

std::optional<std::int64_t> ParseRunCount(std::wstring_view text)
{
    if (text.empty()) {
        return std::nullopt;
    }
    constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max() - 1;
    std::int64_t count = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        const int digit = c - L'0';
        if (count > (kLargest - digit) / 10) {
            return std::nullopt;
        }
        count = count * 10 + digit;
    }
    return count;
}

} // namespace app

void Form1::RefreshRunCount()
{
    timesRun_ = ReadRunCount();
    StoreRunCount(*app::ParseRunCount(timesRun_) + 1);
    (*this)[L"Label1"].caption = kDescription;
    ShowRunNumber();
    (*this)[L"Text1"].caption.clear();
}

void Form1::ShowRunNumber()
{
    Caption = L"Wrenlet! 2 LarkSpool. (Times Run = " + timesRun_ + L")";
}

// The stored text as it stands when it is a count. A first run finds no entry and starts at 0;
// an entry changed from outside into something that is not a count would otherwise stop every
// start, so the user is told and counting starts again from 0.
std::wstring Form1::ReadRunCount()
{
    std::wstring stored = os.GetSetting(kAppName, kSection, kKey);
    if (stored.empty()) {
        return L"0";
    }
    if (!app::ParseRunCount(stored)) {
        os.MsgBox(L"The stored run count \"" + stored + L"\" is not a whole number.\n\nCounting starts again from 0.",
                  platform::MessageKind::Information);
        return L"0";
    }
    return stored;
}

void Form1::StoreRunCount(std::int64_t count)
{
    os.SaveSetting(kAppName, kSection, kKey, std::to_wstring(count));
}

// A run without a backup gives its number back: the stored count goes to one less than the
// number this run showed (never below 0).
void Form1::did_backup()
{
    if (backupDone_) {
        return;
    }
    const std::int64_t count = app::ParseRunCount(timesRun_).value_or(0);
    StoreRunCount(count == 0 ? 0 : count - 1);
}
