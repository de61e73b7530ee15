#include "backup/compare.h"
#include "backup/list_file.h"
#include "backup/reg_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using backup::Change;
using backup::CompareTrees;
using backup::Count;
using backup::Difference;
using backup::DifferenceCounts;
using Bytes = std::vector<std::uint8_t>;
using platform::RegistryKey;
using platform::RegistryTree;
using platform::RegistryValue;

Bytes Utf16(std::wstring_view text, bool terminated = true)
{
    Bytes out;
    for (const wchar_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    if (terminated) {
        out.insert(out.end(), {0, 0});
    }
    return out;
}

RegistryValue Value(std::wstring name, std::uint32_t type, Bytes data)
{
    return {std::move(name), type, std::move(data)};
}

RegistryValue Sz(std::wstring name, std::wstring_view text)
{
    return Value(std::move(name), platform::kRegSz, Utf16(text));
}

RegistryValue Dword(std::wstring name, std::uint8_t low)
{
    return Value(std::move(name), platform::kRegDword, {low, 0, 0, 0});
}

RegistryValue Deleted(std::wstring name)
{
    RegistryValue value = Value(std::move(name), platform::kRegNone, {});
    value.deleted = true;
    return value;
}

RegistryKey Key(std::wstring path, std::vector<RegistryValue> values = {})
{
    return {std::move(path), std::move(values)};
}

RegistryKey DeletedKey(std::wstring path)
{
    RegistryKey key = Key(std::move(path));
    key.deleted = true;
    return key;
}

// One line per difference, e.g. "- K" for a removed key, "~ K : v" for a changed value.
std::vector<std::wstring> Lines(const std::vector<Difference>& differences)
{
    std::vector<std::wstring> lines;
    for (const Difference& d : differences) {
        const wchar_t* mark = d.change == Change::Added ? L"+ " : d.change == Change::Removed ? L"- " : L"~ ";
        std::wstring line = mark + d.key;
        if (!d.wholeKey()) {
            line += L" : " + (d.before ? d.before->name : d.after->name);
        }
        lines.push_back(line);
    }
    return lines;
}

// Each difference carries exactly the sides that its change calls for.
void ExpectSidesMatchChanges(const std::vector<Difference>& differences)
{
    for (const Difference& d : differences) {
        if (d.wholeKey()) {
            EXPECT_NE(d.change, Change::Changed) << d.key;
        } else {
            EXPECT_EQ(d.before.has_value(), d.change != Change::Added) << d.key;
            EXPECT_EQ(d.after.has_value(), d.change != Change::Removed) << d.key;
        }
    }
}

TEST(CompareNames, FoldsCaseAsTheRegistryDoes)
{
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        bool same;
    };
    const Case cases[] = {
        {L"", L"", true},
        {L"Wrenlet2", L"WRENLET2", true},
        {L"wrenlet2", L"Wrenlet2", true},
        {L"Software\\Zephrix", L"SOFTWARE\\zephrix", true},
        {L"a", L"ab", false},
        {L"ab", L"a", false},
        {L"a b", L"a_b", false},
        {L"@", L"`", false}, // 0x40 and 0x60 are no case pair
        {L"[", L"{", false}, // nor are 0x5B and 0x7B
        {L"café", L"CAFÉ", true},
        {L"àþ", L"ÀÞ", true},
        {L"÷", L"×", false},  // 0xF7 and 0xD7 are no letters
        {L"ÿ", L"Ÿ", true},   // U+00FF and U+0178
        {L"ß", L"SS", false}, // no folding that changes the length
        {L"ß", L"ẞ", false},
        {L"µ", L"Μ", false},
        {L"āĉđ", L"ĀĈĐ", true},
        {L"ĳŋœŷ", L"ĲŊŒŶ", true},
        {L"ĺľňź", L"ĹĽŇŹ", true},
        {L"žż", L"ŽŻ", true},
        {L"ĺ", L"Ļ", false}, // the odd-upper run pairs U+0139 with U+013A only
        {L"i", L"İ", false},
        {L"ı", L"I", false},
        {L"ĸ", L"ĸ", true},
        {L"αβγω", L"ΑΒΓΩ", true},
        {L"σ", L"Σ", true},
        {L"ς", L"Σ", true},
        {L"ς", L"σ", true},
        {L"ά", L"α", false},
        {L"жёлтый", L"ЖЁЛТЫЙ", true},
        {L"ђѕџ", L"ЂЅЏ", true},
        {L"я", L"Я", true},
        {L"е", L"ё", false},
        {L"а", L"a", false},      // Cyrillic a is no Latin a
        {L"ƀǆȁɐ", L"ɃǄȀⱯ", true}, // Latin Extended-B and IPA
        {L"ǅ", L"Ǆ", false},      // a titlecase digraph keeps its own unit
        {L"ſ", L"S", false},      // nor does long s become s
        {L"ϐ", L"Β", false},      // nor the beta symbol beta
        {L"άϋϗ", L"ΆΫϏ", true},
        {L"ѡҋӂԁ", L"ѠҊӁԀ", true},              // Cyrillic beyond the basic block
        {L"աֆ", L"ԱՖ", true},                  // Armenian
        {L"ḁẕạỿ", L"ḀẔẠỾ", true},              // Latin Extended Additional
        {L"ἀᾀᾳῥ", L"ἈᾈᾼῬ", true},              // Greek Extended, with ypogegrammeni
        {L"ⅰⓐⰰⲁⴀ", L"ⅠⒶⰀⲀႠ", true},            // roman numerals, circled letters, Glagolitic, Coptic, Georgian
        {L"ꙁꜣａｚ", L"ꙀꜢＡＺ", true},          // Cyrillic Extended-B, Latin Extended-D, fullwidth
        {L"\U00010428", L"\U00010400", false}, // beyond the BMP nothing folds
        {L"\U0001F600", L"\U0001F600", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(backup::SameName(c.a, c.b), c.same) << static_cast<int>(c.a[0]) << " " << static_cast<int>(c.b[0]);
        EXPECT_EQ(backup::SameName(c.b, c.a), c.same);
    }
}

TEST(CompareValues, TypeDataAndTerminatingNul)
{
    struct Case {
        const char* label;
        std::optional<RegistryValue> before;
        std::optional<RegistryValue> after;
        std::optional<Change> change;
    };
    const Bytes twoNuls = {0x61, 0, 0, 0, 0, 0};
    const Case cases[] = {
        {"equal string", Sz(L"v", L"x"), Sz(L"v", L"x"), std::nullopt},
        {"missing", Sz(L"v", L"x"), std::nullopt, Change::Removed},
        {"extra", std::nullopt, Sz(L"v", L"x"), Change::Added},
        {"string data", Sz(L"v", L"x"), Sz(L"v", L"y"), Change::Changed},
        {"dword data", Dword(L"v", 1), Dword(L"v", 2), Change::Changed},
        {"string to expandable", Sz(L"v", L"x"), Value(L"v", platform::kRegExpandSz, Utf16(L"x")), Change::Changed},
        {"dword to big-endian", Dword(L"v", 1), Value(L"v", platform::kRegDwordBigEndian, {1, 0, 0, 0}),
         Change::Changed},
        {"empty none to empty binary", Value(L"v", platform::kRegNone, {}), Value(L"v", platform::kRegBinary, {}),
         Change::Changed},
        {"value name case", Sz(L"Nick", L"x"), Sz(L"NICK", L"x"), std::nullopt},
        {"value name case, Cyrillic", Sz(L"имя", L"x"), Sz(L"ИМЯ", L"x"), std::nullopt},
        {"string without its NUL", Sz(L"v", L"x"), Value(L"v", platform::kRegSz, Utf16(L"x", false)), std::nullopt},
        {"string gains its NUL", Value(L"v", platform::kRegSz, Utf16(L"x", false)), Sz(L"v", L"x"), std::nullopt},
        {"empty string, with and without NUL", Value(L"v", platform::kRegSz, {0, 0}), Value(L"v", platform::kRegSz, {}),
         std::nullopt},
        {"expandable without its NUL", Value(L"v", platform::kRegExpandSz, Utf16(L"%A%")),
         Value(L"v", platform::kRegExpandSz, Utf16(L"%A%", false)), std::nullopt},
        {"string with two NULs", Value(L"v", platform::kRegSz, twoNuls),
         Value(L"v", platform::kRegSz, Utf16(L"a", false)), Change::Changed},
        {"string of odd length", Value(L"v", platform::kRegSz, {0x61, 0, 0}), Value(L"v", platform::kRegSz, {0x61}),
         Change::Changed},
        {"binary with trailing zeros", Value(L"v", platform::kRegBinary, {1, 2, 0, 0}),
         Value(L"v", platform::kRegBinary, {1, 2}), Change::Changed},
        {"multi-string without its last NUL", Value(L"v", platform::kRegMultiSz, Utf16(std::wstring(L"a\0", 2))),
         Value(L"v", platform::kRegMultiSz, Utf16(L"a")), Change::Changed},
        {"unnamed type with trailing zeros", Value(L"v", 0x1234, {0, 0}), Value(L"v", 0x1234, {}), Change::Changed},
    };
    for (const Case& c : cases) {
        RegistryTree before = {Key(L"HKCU\\K")};
        RegistryTree after = {Key(L"HKCU\\K")};
        if (c.before) {
            before[0].values.push_back(*c.before);
        }
        if (c.after) {
            after[0].values.push_back(*c.after);
        }
        const std::vector<Difference> differences = CompareTrees(before, after);
        if (!c.change) {
            EXPECT_TRUE(differences.empty()) << c.label;
            continue;
        }
        ASSERT_EQ(differences.size(), 1U) << c.label;
        EXPECT_EQ(differences[0].change, *c.change) << c.label;
        EXPECT_EQ(differences[0].key, L"HKCU\\K") << c.label;
        EXPECT_EQ(differences[0].before.has_value(), c.before.has_value()) << c.label;
        EXPECT_EQ(differences[0].after.has_value(), c.after.has_value()) << c.label;
        if (c.before && differences[0].before) {
            EXPECT_EQ(differences[0].before->data, c.before->data) << c.label;
        }
        if (c.after && differences[0].after) {
            EXPECT_EQ(differences[0].after->type, c.after->type) << c.label;
        }
    }
}

TEST(CompareTrees, SameTreeInAnotherOrderAndCase)
{
    const RegistryTree before = {
        Key(L"HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2", {Sz(L"", L"Wrenlet"), Dword(L"Count", 3)}),
        Key(L"HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Names", {Sz(L"Zoë", L"1"), Sz(L"Ждан", L"2")}),
    };
    const RegistryTree after = {
        Key(L"hkey_current_user\\software\\zephrix\\wrenlet2\\NAMES", {Sz(L"ЖДАН", L"2"), Sz(L"ZOË", L"1")}),
        Key(L"HKEY_CURRENT_USER\\SOFTWARE\\ZEPHRIX\\WRENLET2", {Dword(L"count", 3), Sz(L"", L"Wrenlet")}),
    };
    EXPECT_TRUE(CompareTrees(before, after).empty());
    EXPECT_TRUE(CompareTrees(after, before).empty());
    EXPECT_TRUE(CompareTrees({}, {}).empty());
}

TEST(CompareTrees, KeyOnOneSideBringsItsValues)
{
    const RegistryTree both = {Key(L"HKCU\\A")};
    RegistryTree more = both;
    more.push_back(Key(L"HKCU\\A\\B", {Sz(L"x", L"1"), Dword(L"y", 2), Sz(L"", L"d")}));
    more.push_back(Key(L"HKCU\\A\\Empty"));

    const std::vector<Difference> removed = CompareTrees(more, both);
    EXPECT_EQ(Lines(removed), (std::vector<std::wstring>{L"- HKCU\\A\\B", L"- HKCU\\A\\B : ", L"- HKCU\\A\\B : x",
                                                         L"- HKCU\\A\\B : y", L"- HKCU\\A\\Empty"}));
    ExpectSidesMatchChanges(removed);
    EXPECT_EQ(removed[3].before->data, (Bytes{2, 0, 0, 0}));
    EXPECT_EQ(Count(removed), (DifferenceCounts{0, 5, 0}));

    const std::vector<Difference> added = CompareTrees(both, more);
    EXPECT_EQ(Lines(added), (std::vector<std::wstring>{L"+ HKCU\\A\\B", L"+ HKCU\\A\\B : ", L"+ HKCU\\A\\B : x",
                                                       L"+ HKCU\\A\\B : y", L"+ HKCU\\A\\Empty"}));
    ExpectSidesMatchChanges(added);
    EXPECT_EQ(Count(added), (DifferenceCounts{5, 0, 0}));
}

TEST(CompareTrees, RemovedSubtreeCountsEveryKeyAndValue)
{
    RegistryTree deep = {Key(L"HKCU\\Root", {Sz(L"kept", L"1")})};
    std::wstring path = L"HKCU\\Root";
    for (int depth = 1; depth <= 5; ++depth) {
        path += L"\\Level" + std::to_wstring(depth);
        deep.push_back(Key(path, {Sz(L"a", L"1"), Sz(L"b", L"2")}));
    }
    const RegistryTree shallow = {Key(L"HKCU\\Root", {Sz(L"kept", L"1")})};
    const std::vector<Difference> differences = CompareTrees(deep, shallow);
    EXPECT_EQ(Count(differences), (DifferenceCounts{0, 15, 0}));
    ExpectSidesMatchChanges(differences);
    EXPECT_EQ(backup::CountKeys(deep), 6U);
    EXPECT_EQ(backup::CountValues(deep), 11U);
}

TEST(CompareTrees, SortedByFoldedKeyThenValueName)
{
    const RegistryTree before = {
        Key(L"HKCU\\b", {Sz(L"z", L"1"), Sz(L"A", L"1")}),
        Key(L"HKCU\\C", {Sz(L"x", L"1")}),
    };
    const RegistryTree after = {
        Key(L"HKCU\\a", {Sz(L"q", L"1")}),
        Key(L"HKCU\\B", {Sz(L"y", L"1"), Sz(L"a", L"2"), Sz(L"", L"new")}),
    };
    const std::vector<Difference> differences = CompareTrees(before, after);
    EXPECT_EQ(Lines(differences), (std::vector<std::wstring>{
                                      L"+ HKCU\\a",
                                      L"+ HKCU\\a : q",
                                      L"+ HKCU\\B : ",
                                      L"~ HKCU\\B : A",
                                      L"+ HKCU\\B : y",
                                      L"- HKCU\\b : z", // a value only before is named as before spells its key
                                      L"- HKCU\\C",
                                      L"- HKCU\\C : x",
                                  }));
    ExpectSidesMatchChanges(differences);
    EXPECT_EQ(differences[3].before->name, L"A");
    EXPECT_EQ(differences[3].after->name, L"a");
    EXPECT_EQ(Count(differences), (DifferenceCounts{4, 3, 1}));
}

TEST(CompareTrees, RepeatedSectionsMerge)
{
    const RegistryTree before = {
        Key(L"HKCU\\K", {Sz(L"a", L"old"), Sz(L"b", L"1")}),
        Key(L"HKCU\\L", {Sz(L"x", L"1")}),
        Key(L"HKCU\\k", {Sz(L"A", L"new"), Sz(L"c", L"1")}),
        Key(L"HKCU\\K", {Sz(L"c", L"1")}),
    };
    const RegistryTree after = {
        Key(L"HKCU\\K", {Sz(L"a", L"new"), Sz(L"b", L"1"), Sz(L"c", L"1")}),
        Key(L"HKCU\\L", {Sz(L"x", L"1")}),
    };
    EXPECT_TRUE(CompareTrees(before, after).empty());
    EXPECT_EQ(backup::CountKeys(before), 2U);
    EXPECT_EQ(backup::CountValues(before), 4U);

    // The first section's spelling names the merged key.
    const std::vector<Difference> differences = CompareTrees(before, {});
    ASSERT_FALSE(differences.empty());
    EXPECT_EQ(differences[0].key, L"HKCU\\K");
    EXPECT_EQ(Count(differences), (DifferenceCounts{0, 6, 0}));
}

TEST(CompareTrees, DeletionEntriesCountAsAbsent)
{
    const RegistryTree before = {
        Key(L"HKCU\\K", {Sz(L"a", L"1"), Deleted(L"gone")}),
        DeletedKey(L"HKCU\\Old"),
    };
    const RegistryTree after = {
        Key(L"HKCU\\K", {Sz(L"a", L"1")}),
        DeletedKey(L"HKCU\\Other"),
    };
    EXPECT_TRUE(CompareTrees(before, after).empty());
    EXPECT_EQ(backup::CountKeys(before), 1U);
    EXPECT_EQ(backup::CountValues(before), 1U);

    // A deletion entry is left out, not applied: it takes nothing from the sections before it.
    const RegistryTree later = {Key(L"HKCU\\K", {Sz(L"a", L"1")}), DeletedKey(L"HKCU\\K"),
                                Key(L"HKCU\\K", {Deleted(L"a")})};
    EXPECT_TRUE(CompareTrees(later, after).empty());

    const std::vector<Difference> onlyDeleted = CompareTrees({DeletedKey(L"HKCU\\K")}, {Key(L"HKCU\\K")});
    EXPECT_EQ(Lines(onlyDeleted), std::vector<std::wstring>{L"+ HKCU\\K"});
}

TEST(CompareTrees, EmptyKeyOnOneSide)
{
    const std::vector<Difference> differences =
        CompareTrees({Key(L"HKCU\\K")}, {Key(L"HKCU\\K"), Key(L"HKCU\\K\\New")});
    EXPECT_EQ(Lines(differences), std::vector<std::wstring>{L"+ HKCU\\K\\New"});
    EXPECT_TRUE(differences[0].wholeKey());
    EXPECT_EQ(Count(differences), (DifferenceCounts{1, 0, 0}));
}

// A file equals the key that importing it leaves: a section creates every key above it.
TEST(CompareTrees, AFileEqualsTheKeyItsImportLeaves)
{
    const std::wstring root = L"HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2";
    struct Case {
        const char* what;
        std::wstring sections;
        RegistryTree key;
    };
    const Case cases[] = {
        {"only a deep subkey",
         L"[" + root + L"\\A\\B\\C]\r\n\"v\"=\"1\"",
         {Key(root), Key(root + L"\\A"), Key(root + L"\\A\\B"), Key(root + L"\\A\\B\\C", {Sz(L"v", L"1")})}},
        {"a parent's values in a later section",
         L"[" + root + L"\\A\\B]\r\n[" + root + L"\\a]\r\n\"v\"=\"1\"",
         {Key(root), Key(root + L"\\A", {Sz(L"v", L"1")}), Key(root + L"\\A\\B")}},
        {"backslashes at the end",
         L"[" + root + L"\\A\\]\r\n\"v\"=\"1\"\r\n[" + root + L"\\B\\\\\\\\]",
         {Key(root), Key(root + L"\\A", {Sz(L"v", L"1")}), Key(root + L"\\B")}},
    };
    for (const Case& c : cases) {
        const std::wstring text = L"REGEDIT4\r\n\r\n" + c.sections + L"\r\n";
        const backup::RegFile file = backup::ReadRegFile(Bytes(text.begin(), text.end()));
        EXPECT_EQ(Lines(CompareTrees(backup::ListOf(file), c.key)), std::vector<std::wstring>{}) << c.what;
        EXPECT_EQ(backup::CountKeys(backup::ListOf(file)), c.key.size()) << c.what;
    }
}

TEST(CompareCount, EachDifferenceOnce)
{
    EXPECT_EQ(Count({}), (DifferenceCounts{}));
    std::vector<Difference> differences;
    for (const Change change :
         {Change::Added, Change::Added, Change::Removed, Change::Changed, Change::Changed, Change::Changed}) {
        differences.push_back({change, L"K", std::nullopt, std::nullopt});
    }
    EXPECT_EQ(Count(differences), (DifferenceCounts{2, 1, 3}));
}

TEST(CompareCount, KeysAndValues)
{
    EXPECT_EQ(backup::CountKeys({}), 0U);
    EXPECT_EQ(backup::CountValues({}), 0U);
    const RegistryTree tree = {
        Key(L"HKCU\\Москва", {Sz(L"", L"x"), Sz(L"ЁЖ", L"1")}),
        Key(L"HKCU\\МОСКВА", {Sz(L"ёж", L"2"), Sz(L"other", L"3")}),
        Key(L"HKCU\\Empty"),
    };
    EXPECT_EQ(backup::CountKeys(tree), 2U);
    EXPECT_EQ(backup::CountValues(tree), 3U);
}

} // namespace
