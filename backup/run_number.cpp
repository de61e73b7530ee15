#include "backup/run_number.h"

namespace backup {

std::optional<std::int64_t> ParseRunNumber(std::wstring_view text)
{
    if (text.empty() || text.size() > kLongestRunNumber) {
        return std::nullopt;
    }
    std::int64_t number = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        const int digit = c - L'0';
        if (number > (kLargestRunNumber - digit) / 10) {
            return std::nullopt;
        }
        number = number * 10 + digit;
    }
    return number;
}

} // namespace backup
