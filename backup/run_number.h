// The run number: the decimal text of a whole number, read as a number only to compute with.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace backup {

// One less than the largest 64-bit integer, so that one more can still be stored.
constexpr std::int64_t kLargestRunNumber = std::numeric_limits<std::int64_t>::max() - 1;
// Longer text names a folder the system cannot make, leading zeros or not.
constexpr std::size_t kLongestRunNumber = 19;

// The number that text stands for: decimal digits only, leading zeros allowed, at most 19 of
// them, from 0 to kLargestRunNumber. Signs, blanks and fractions are not numbers here.
std::optional<std::int64_t> ParseRunNumber(std::wstring_view text);

} // namespace backup
