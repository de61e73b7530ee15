// The stored run count: decimal text of a whole number, read as a number only to compute with.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace app {

// The count that text stands for, when it is the decimal text of a whole number from 0 to one
// less than the largest 64-bit integer (so that one more can still be stored). Leading zeros
// are allowed; signs, blanks and fractions are not.
std::optional<std::int64_t> ParseRunCount(std::wstring_view text);

} // namespace app
