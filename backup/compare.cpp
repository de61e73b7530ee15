// The comparison of two key trees. Each side is first merged into one entry per key and value,
// keyed by the folded name, so that the registry's own case-insensitivity decides what matches
// and the sorted maps give the order of the result.
#include "backup/compare.h"

#include "backup/upcase_table.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <numeric>
#include <span>

namespace backup {
namespace {

// The registry's upper-casing of one UTF-16 unit, from a fixed table rather than towupper, whose
// answer depends on the C library's locale. Units beyond the BMP stay as they are, as there.
std::uint32_t Folded(std::uint32_t c)
{
    const auto& runs = upcase::kRuns;
    auto run = std::upper_bound(runs.begin(), runs.end(), c,
                                [](std::uint32_t unit, const upcase::Run& r) { return unit < r.first; });
    if (run == runs.begin()) {
        return c;
    }
    --run;
    if (c > run->last || (c - run->first) % run->step != 0) {
        return c;
    }
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(c) + run->delta);
}

wchar_t Folded(wchar_t c)
{
    return static_cast<wchar_t>(Folded(static_cast<std::uint32_t>(c)));
}

std::wstring Folded(std::wstring_view name)
{
    std::wstring folded(name);
    std::ranges::transform(folded, folded.begin(), [](wchar_t c) { return Folded(c); });
    return folded;
}

struct MergedKey {
    std::wstring path; // as its first section spells it
    std::map<std::wstring, platform::RegistryValue> values;
};
using MergedTree = std::map<std::wstring, MergedKey>;

MergedTree Merged(const platform::RegistryTree& tree)
{
    MergedTree merged;
    for (const platform::RegistryKey& key : tree) {
        if (key.deleted) {
            continue;
        }
        auto [entry, inserted] = merged.try_emplace(Folded(key.path));
        if (inserted) {
            entry->second.path = key.path;
        }
        for (const platform::RegistryValue& value : key.values) {
            if (!value.deleted) {
                entry->second.values.insert_or_assign(Folded(value.name), value);
            }
        }
    }
    return merged;
}

std::span<const std::uint8_t> ComparedData(const platform::RegistryValue& value)
{
    std::span<const std::uint8_t> data = value.data;
    const bool isString = value.type == platform::kRegSz || value.type == platform::kRegExpandSz;
    if (isString && data.size() >= 2 && data.size() % 2 == 0 && data[data.size() - 1] == 0 &&
        data[data.size() - 2] == 0) {
        data = data.first(data.size() - 2);
    }
    return data;
}

bool SameValue(const platform::RegistryValue& a, const platform::RegistryValue& b)
{
    return a.type == b.type && std::ranges::equal(ComparedData(a), ComparedData(b));
}

// Walks two sorted maps side by side, calling the three handlers for entries of one side only
// and for entries of both.
template <typename Map, typename OnlyBefore, typename OnlyAfter, typename Both>
void Walk(const Map& before, const Map& after, OnlyBefore onlyBefore, OnlyAfter onlyAfter, Both both)
{
    auto b = before.begin();
    auto a = after.begin();
    while (b != before.end() || a != after.end()) {
        if (a == after.end() || (b != before.end() && b->first < a->first)) {
            onlyBefore((b++)->second);
        } else if (b == before.end() || a->first < b->first) {
            onlyAfter((a++)->second);
        } else {
            both((b++)->second, (a++)->second);
        }
    }
}

void AddWholeKey(std::vector<Difference>& out, Change change, const MergedKey& key)
{
    out.push_back({change, key.path, std::nullopt, std::nullopt});
    for (const auto& entry : key.values) {
        Difference& value = out.emplace_back(Difference{change, key.path, std::nullopt, std::nullopt});
        (change == Change::Removed ? value.before : value.after) = entry.second;
    }
}

} // namespace

std::wstring FoldedName(std::wstring_view name)
{
    return Folded(name);
}

bool SameName(std::wstring_view a, std::wstring_view b)
{
    return std::ranges::equal(a, b, [](wchar_t x, wchar_t y) { return Folded(x) == Folded(y); });
}

std::vector<Difference> CompareTrees(const platform::RegistryTree& before, const platform::RegistryTree& after)
{
    std::vector<Difference> out;
    Walk(
        Merged(before), Merged(after), [&out](const MergedKey& key) { AddWholeKey(out, Change::Removed, key); },
        [&out](const MergedKey& key) { AddWholeKey(out, Change::Added, key); },
        [&out](const MergedKey& keyBefore, const MergedKey& keyAfter) {
            Walk(
                keyBefore.values, keyAfter.values,
                [&](const platform::RegistryValue& value) {
                    out.push_back({Change::Removed, keyBefore.path, value, std::nullopt});
                },
                [&](const platform::RegistryValue& value) {
                    out.push_back({Change::Added, keyAfter.path, std::nullopt, value});
                },
                [&](const platform::RegistryValue& valueBefore, const platform::RegistryValue& valueAfter) {
                    if (!SameValue(valueBefore, valueAfter)) {
                        out.push_back({Change::Changed, keyAfter.path, valueBefore, valueAfter});
                    }
                });
        });
    return out;
}

std::size_t CountValues(const platform::RegistryTree& tree)
{
    const auto merged = Merged(tree);
    return std::accumulate(merged.begin(), merged.end(), std::size_t{0},
                           [](std::size_t count, const auto& entry) { return count + entry.second.values.size(); });
}

std::size_t CountKeys(const platform::RegistryTree& tree)
{
    return Merged(tree).size();
}

DifferenceCounts Count(const std::vector<Difference>& differences)
{
    DifferenceCounts counts;
    for (const Difference& difference : differences) {
        switch (difference.change) {
        case Change::Added:
            ++counts.added;
            break;
        case Change::Removed:
            ++counts.removed;
            break;
        case Change::Changed:
            ++counts.changed;
            break;
        }
    }
    return counts;
}

} // namespace backup
