#include "backup/compare_text.h"

#include <cstdint>

namespace backup {

namespace {

std::wstring Utf16Text(const std::vector<std::uint8_t>& data, std::size_t size)
{
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    }
    return text;
}

std::uint64_t LittleEndian(const std::vector<std::uint8_t>& data)
{
    std::uint64_t number = 0;
    for (std::size_t i = data.size(); i-- > 0;) {
        number = (number << 8) | data[i];
    }
    return number;
}

std::wstring HexBytes(const std::vector<std::uint8_t>& data)
{
    if (data.empty()) {
        return L"(no data)";
    }
    constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    for (std::uint8_t byte : data) {
        text += text.empty() ? L"" : L" ";
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

// The path below the root, "\" for the root itself; a key outside it keeps its full path.
std::wstring BelowRoot(const std::wstring& key, std::wstring_view root)
{
    if (key.size() >= root.size() && SameName(std::wstring_view(key).substr(0, root.size()), root) &&
        (key.size() == root.size() || key[root.size()] == L'\\')) {
        return key.size() == root.size() ? L"\\" : key.substr(root.size());
    }
    return key;
}

} // namespace

std::wstring SummaryLine(const std::vector<Difference>& differences)
{
    if (differences.empty()) {
        return L"No differences";
    }
    const DifferenceCounts counts = Count(differences);
    return std::to_wstring(counts.added) + L" added, " + std::to_wstring(counts.removed) + L" removed, " +
           std::to_wstring(counts.changed) + L" changed";
}

std::wstring DataText(const platform::RegistryValue& value)
{
    const auto& data = value.data;
    switch (value.type) {
    case platform::kRegSz:
    case platform::kRegExpandSz: {
        std::wstring text = Utf16Text(data, data.size());
        if (!text.empty() && text.back() == L'\0') {
            text.pop_back();
        }
        return L"\"" + text + L"\"";
    }
    case platform::kRegMultiSz: {
        std::wstring text;
        std::wstring item;
        for (wchar_t c : Utf16Text(data, data.size())) {
            if (c != L'\0') {
                item += c;
                continue;
            }
            if (!item.empty()) {
                text += (text.empty() ? L"\"" : L", \"") + item + L"\"";
            }
            item.clear();
        }
        if (!item.empty()) {
            text += (text.empty() ? L"\"" : L", \"") + item + L"\"";
        }
        return text.empty() ? L"(no strings)" : text;
    }
    case platform::kRegDword:
        return data.size() == 4 ? std::to_wstring(LittleEndian(data)) : HexBytes(data);
    case platform::kRegQword:
        return data.size() == 8 ? std::to_wstring(LittleEndian(data)) : HexBytes(data);
    default:
        return HexBytes(data);
    }
}

std::vector<std::wstring> DifferenceCells(const Difference& difference, std::wstring_view root)
{
    static constexpr const wchar_t* kChange[] = {L"added", L"removed", L"changed"};
    std::vector<std::wstring> cells{kChange[static_cast<int>(difference.change)], BelowRoot(difference.key, root)};
    if (difference.wholeKey()) {
        cells.insert(cells.end(), {L"(key)", L"", L""});
        return cells;
    }
    const platform::RegistryValue& value = difference.before ? *difference.before : *difference.after;
    cells.push_back(value.name.empty() ? L"(Default)" : value.name);
    cells.push_back(difference.before ? DataText(*difference.before) : L"(none)");
    cells.push_back(difference.after ? DataText(*difference.after) : L"(none)");
    return cells;
}

std::wstring DifferenceLine(const Difference& difference, std::wstring_view root)
{
    const std::vector<std::wstring> cells = DifferenceCells(difference, root);
    std::wstring line = cells[0];
    line.resize(7, L' '); // the changes' words line up
    line += L"  " + cells[1] + L"  " + cells[2];
    if (!difference.wholeKey()) {
        line += L"  " + cells[3] + L" -> " + cells[4];
    }
    return line;
}

} // namespace backup
