#include "backup/reg_file.h"
#include "fake_os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using backup::ReadRegFile;
using backup::RegFile;
using backup::RegFileError;
using backup::RegFileFormat;

constexpr std::wstring_view kHeader5 = L"Windows Registry Editor Version 5.00\r\n\r\n";

// wchar_t is UTF-32 here, UTF-16 under MinGW; both give the same code points.
std::u32string CodePoints(std::wstring_view text)
{
    std::u32string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<char32_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
        }
        out.push_back(c);
    }
    return out;
}

void AppendUnit(Bytes& out, std::uint32_t unit)
{
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

Bytes Utf16(std::wstring_view text)
{
    Bytes out;
    for (const char32_t c : CodePoints(text)) {
        if (c > 0xFFFF) {
            AppendUnit(out, 0xD800 + ((c - 0x10000) >> 10));
            AppendUnit(out, 0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            AppendUnit(out, c);
        }
    }
    return out;
}

// What the registry keeps of a string: UTF-16 LE with a terminating NUL.
Bytes Sz(std::wstring_view text)
{
    Bytes out = Utf16(text);
    out.insert(out.end(), {0, 0});
    return out;
}

Bytes Utf8(std::wstring_view text)
{
    Bytes out;
    for (const char32_t c : CodePoints(text)) {
        const int tail = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        constexpr std::uint8_t kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
        out.push_back(static_cast<std::uint8_t>(kLead[tail] | (c >> (6 * tail))));
        for (int k = tail - 1; k >= 0; --k) {
            out.push_back(static_cast<std::uint8_t>(0x80 | ((c >> (6 * k)) & 0x3F)));
        }
    }
    return out;
}

enum class Encoding { Utf16, Utf8, Ansi };

Bytes Encoded(Encoding encoding, std::wstring_view text)
{
    Bytes out;
    if (encoding == Encoding::Utf16) {
        out = {0xFF, 0xFE};
        const Bytes body = Utf16(text);
        out.insert(out.end(), body.begin(), body.end());
    } else if (encoding == Encoding::Utf8) {
        out = {0xEF, 0xBB, 0xBF};
        const Bytes body = Utf8(text);
        out.insert(out.end(), body.begin(), body.end());
    } else {
        for (const wchar_t c : text) {
            out.push_back(static_cast<std::uint8_t>(c));
        }
    }
    return out;
}

Bytes File5(std::wstring_view body)
{
    return Encoded(Encoding::Utf16, std::wstring(kHeader5) + std::wstring(body));
}

Bytes Raw(std::string_view text)
{
    return {text.begin(), text.end()};
}

const char* Name(Encoding encoding)
{
    return encoding == Encoding::Utf16 ? "UTF-16" : encoding == Encoding::Utf8 ? "UTF-8" : "8-bit";
}

// The one value of a file that has one key.
platform::RegistryValue OnlyValue(const RegFile& file)
{
    EXPECT_EQ(file.keys.size(), 1U);
    EXPECT_EQ(file.keys.at(0).values.size(), 1U);
    return file.keys.at(0).values.at(0);
}

void ExpectError(const Bytes& bytes, int line, const std::wstring& reason, const std::string& label)
{
    try {
        ReadRegFile(bytes);
        ADD_FAILURE() << label << ": no error";
    } catch (const RegFileError& error) {
        EXPECT_EQ(error.line(), line) << label;
        EXPECT_EQ(error.reason(), reason) << label;
    }
}

std::string Label(std::wstring_view text)
{
    std::string label;
    for (const wchar_t c : text) {
        label.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    return label;
}

TEST(RegFileHeader, FormatsAndEncodings)
{
    struct Case {
        const wchar_t* text;
        Encoding encoding;
        RegFileFormat format;
    };
    const Case cases[] = {
        {L"Windows Registry Editor Version 5.00\r\n", Encoding::Utf16, RegFileFormat::Version5},
        {L"Windows Registry Editor Version 5.00\r\n", Encoding::Utf8, RegFileFormat::Version5},
        {L"Windows Registry Editor Version 5.00\n", Encoding::Ansi, RegFileFormat::Version5},
        {L"Windows Registry Editor Version 5.00", Encoding::Utf16, RegFileFormat::Version5},
        {L"Windows Registry Editor Version 5.00 \t\r\n\r\n\r\n", Encoding::Utf16, RegFileFormat::Version5},
        {L"REGEDIT4\r\n\r\n", Encoding::Ansi, RegFileFormat::Regedit4},
        {L"REGEDIT4", Encoding::Ansi, RegFileFormat::Regedit4},
    };
    for (const Case& c : cases) {
        const RegFile file = ReadRegFile(Encoded(c.encoding, c.text));
        EXPECT_EQ(file.format, c.format) << Name(c.encoding) << " " << Label(c.text);
        EXPECT_TRUE(file.keys.empty());
    }
}

TEST(RegFileHeader, AnythingElseIsNoRegistrationFile)
{
    const std::wstring reason = L"not a registration file: the first line is not a registry editor header";
    const Bytes cases[] = {
        {},
        {0xFF, 0xFE},
        {0xEF, 0xBB, 0xBF},
        Raw("REGEDIT5\r\n"),
        Raw("regedit4\r\n"),
        Raw(" REGEDIT4\r\n"),
        Raw("\r\nREGEDIT4\r\n"),
        Raw("REGEDIT4 x\r\n"),
        Raw("Windows Registry Editor Version 5.0\r\n"),
        Raw("[HKEY_CURRENT_USER\\Software]\r\n"),
        Encoded(Encoding::Utf16, L"REGEDIT"),
        // UTF-16 big-endian is not a form the registry tools write.
        {0xFE, 0xFF, 0x00, 'R', 0x00, 'E', 0x00, 'G', 0x00, 'E', 0x00, 'D', 0x00, 'I', 0x00, 'T', 0x00, '4'},
        // UTF-16 without its byte-order mark.
        {'R', 0, 'E', 0, 'G', 0, 'E', 0, 'D', 0, 'I', 0, 'T', 0, '4', 0},
    };
    int index = 0;
    for (const Bytes& bytes : cases) {
        ExpectError(bytes, 1, reason, "case " + std::to_string(index++));
    }
}

TEST(RegFileValues, EveryDataFormInEveryEncoding)
{
    struct Case {
        const wchar_t* data;
        Bytes bytes;
        std::uint32_t type;
        bool deleted;
    };
    const Case cases[] = {
        {L"\"text\"", Sz(L"text"), platform::kRegSz, false},
        {L"\"\"", {0, 0}, platform::kRegSz, false},
        {L"\"  padded  \"  ", Sz(L"  padded  "), platform::kRegSz, false},
        {L"dword:0000002a", {0x2A, 0, 0, 0}, platform::kRegDword, false},
        {L"dword:2A", {0x2A, 0, 0, 0}, platform::kRegDword, false},
        {L"dword:0", {0, 0, 0, 0}, platform::kRegDword, false},
        {L"dword:12345678", {0x78, 0x56, 0x34, 0x12}, platform::kRegDword, false},
        {L"dword:ffffffff", {0xFF, 0xFF, 0xFF, 0xFF}, platform::kRegDword, false},
        {L"DWORD:1", {1, 0, 0, 0}, platform::kRegDword, false},
        {L"hex:01,02,ff", {1, 2, 0xFF}, platform::kRegBinary, false},
        {L"hex:", {}, platform::kRegBinary, false},
        {L"hex:  01 ,\t02 , 03  ", {1, 2, 3}, platform::kRegBinary, false},
        {L"HEX:Ab,cD", {0xAB, 0xCD}, platform::kRegBinary, false},
        {L"hex(0):", {}, platform::kRegNone, false},
        {L"hex(0):00", {0}, platform::kRegNone, false},
        {L"hex(1):41,00,00,00", {0x41, 0, 0, 0}, platform::kRegSz, false},
        {L"hex(4):01,00,00,00", {1, 0, 0, 0}, platform::kRegDword, false},
        {L"hex(5):00,00,00,2a", {0, 0, 0, 0x2A}, platform::kRegDwordBigEndian, false},
        {L"hex(a):01", {1}, 10, false},
        {L"hex(b):2a,00,00,00,00,00,00,00", {0x2A, 0, 0, 0, 0, 0, 0, 0}, platform::kRegQword, false},
        {L"hex(00000003):01", {1}, platform::kRegBinary, false},
        {L"hex(100):", {}, 0x100, false},
        {L"hex(ffffffff):01", {1}, 0xFFFFFFFF, false},
        {L"-", {}, platform::kRegNone, true},
        {L"- \t", {}, platform::kRegNone, true},
    };
    for (const Encoding encoding : {Encoding::Utf16, Encoding::Utf8, Encoding::Ansi}) {
        for (const bool regedit4 : {false, true}) {
            if (regedit4 && encoding != Encoding::Ansi) {
                continue;
            }
            for (const Case& c : cases) {
                const std::wstring text = std::wstring(regedit4 ? L"REGEDIT4\r\n\r\n" : kHeader5) +
                                          L"[HKEY_CURRENT_USER\\Software\\Zephrix]\r\n\"v\"=" + c.data + L"\r\n";
                const platform::RegistryValue value = OnlyValue(ReadRegFile(Encoded(encoding, text)));
                const std::string label = std::string(Name(encoding)) + (regedit4 ? " REGEDIT4 " : " ") + Label(c.data);
                EXPECT_EQ(value.name, L"v") << label;
                EXPECT_EQ(value.type, c.type) << label;
                EXPECT_EQ(value.data, c.bytes) << label;
                EXPECT_EQ(value.deleted, c.deleted) << label;
                EXPECT_EQ(value.line, 4) << label;
            }
        }
    }
}

TEST(RegFileValues, NamesAndStringsWithEscapesAndAnyLetters)
{
    struct Case {
        const wchar_t* line;
        const wchar_t* name;
        std::wstring data;
    };
    const Case cases[] = {
        {L"\"a\"=\"b\"", L"a", L"b"},
        {L"@=\"default\"", L"", L"default"},
        {L"@ = \"default\"", L"", L"default"},
        {L"\"\"=\"empty name\"", L"", L"empty name"},
        {L"\"a\"  =\t\"b\"", L"a", L"b"},
        {L"\"say \\\"hi\\\"\"=\"\\\"quoted\\\"\"", L"say \"hi\"", L"\"quoted\""},
        {L"\"C:\\\\Tools\\\\\"=\"\\\\\\\\server\\\\share\"", L"C:\\Tools\\", L"\\\\server\\share"},
        {L"\"two\\nlines\"=\"a\\r\\nb\"", L"two\nlines", L"a\r\nb"},
        {L"\"nul\"=\"a\\0b\"", L"nul", std::wstring(L"a\0b", 3)},
        {L"\"]=[@;\"=\"=;[]\"", L"]=[@;", L"=;[]"},
        {L"\"tab\there\"=\"\t\"", L"tab\there", L"\t"},
        {L"\"café\"=\"Straße\"", L"café", L"Straße"},
        {L"\"Имя\"=\"Значение ё\"", L"Имя", L"Значение ё"},
        {L"\"smile \U0001F600\"=\"\U0001F600!\"", L"smile \U0001F600", L"\U0001F600!"},
        {L"\"€\"=\"Ω\"", L"€", L"Ω"},
    };
    for (const Encoding encoding : {Encoding::Utf16, Encoding::Utf8}) {
        for (const Case& c : cases) {
            const std::wstring text = std::wstring(kHeader5) + L"[HKEY_CURRENT_USER\\Software\\Zephrix]\r\n" + c.line;
            const platform::RegistryValue value = OnlyValue(ReadRegFile(Encoded(encoding, text)));
            EXPECT_EQ(value.name, c.name) << Name(encoding) << " " << Label(c.line);
            EXPECT_EQ(value.type, platform::kRegSz) << Label(c.line);
            EXPECT_EQ(value.data, Sz(c.data)) << Name(encoding) << " " << Label(c.line);
        }
    }
}

TEST(RegFileValues, SurrogatePairInTheFileIsOneCharacter)
{
    // The data's bytes are the file's own UTF-16 units: D83D DE00.
    const RegFile file = ReadRegFile(File5(L"[K]\r\n\"\U0001F600\"=\"\U0001F600\""));
    const platform::RegistryValue value = OnlyValue(file);
    EXPECT_EQ(value.data, (Bytes{0x3D, 0xD8, 0x00, 0xDE, 0, 0}));
    EXPECT_EQ(value.name, L"\U0001F600");
}

// 8-bit text is the system's ANSI code page wherever it stands: in a key, a name, a string and
// the text of hex(2).
TEST(RegFileRegedit4, DecodesTheSystemsCodePage)
{
    struct Case {
        unsigned codePage;
        std::string bytes;
        std::wstring text;
    };
    // Of 1252, the defined and the five undefined bytes of 0x80-0x9F, and the Latin-1 range around
    // them; in 932, a second byte may be a backslash.
    const Case cases[] = {
        {1252, "\x41", L"A"},
        {1252, "\x7F", L"\x7F"},
        {1252, "\x80", L"\u20AC"},
        {1252, "\x81", L"\x81"},
        {1252, "\x82", L"\u201A"},
        {1252, "\x8A", L"\u0160"},
        {1252, "\x8C", L"\u0152"},
        {1252, "\x8D", L"\x8D"},
        {1252, "\x8E", L"\u017D"},
        {1252, "\x8F", L"\x8F"},
        {1252, "\x90", L"\x90"},
        {1252, "\x91", L"\u2018"},
        {1252, "\x96", L"\u2013"},
        {1252, "\x99", L"\u2122"},
        {1252, "\x9D", L"\x9D"},
        {1252, "\x9E", L"\u017E"},
        {1252, "\x9F", L"\u0178"},
        {1252, "\xA0", L"\xA0"},
        {1252, "\xE9", L"\xE9"},
        {1252, "\xFF", L"\xFF"},
        {1251, "\xC8\xEC\xFF", L"\u0418\u043C\u044F"},
        {1251, "\xA8\xB8", L"\u0401\u0451"},
        {1251, "\x88", L"\u20AC"},
        {1251, "\xE9", L"\u0439"},
        {932, "\x83\x5C\x83\x74\x83\x67", L"\u30BD\u30D5\u30C8"},
        {932, "\x95\x5C", L"\u8868"},
        {932, "\xB1", L"\uFF71"},
    };
    for (const Case& c : cases) {
        const fake::AnsiCodePage codePage(c.codePage);
        std::string hex;
        for (const char byte : c.bytes) {
            constexpr std::string_view digits = "0123456789abcdef";
            const auto value = static_cast<unsigned char>(byte);
            hex += {digits[value >> 4], digits[value & 0xF], ','};
        }
        const RegFile file = ReadRegFile(Raw("REGEDIT4\r\n\r\n[K\\" + c.bytes + "]\r\n\"" + c.bytes + "\"=\"" +
                                             c.bytes + "\"\r\n\"e\"=hex(2):" + hex + "00\r\n"));
        const std::string label = std::to_string(c.codePage) + " " + Label(c.text);
        ASSERT_EQ(file.keys.size(), 1U) << label;
        EXPECT_EQ(file.keys[0].path, L"K\\" + c.text) << label;
        ASSERT_EQ(file.keys[0].values.size(), 2U) << label;
        EXPECT_EQ(file.keys[0].values[0].name, c.text) << label;
        EXPECT_EQ(file.keys[0].values[0].data, Sz(c.text)) << label;
        EXPECT_EQ(file.keys[0].values[1].data, Sz(c.text)) << label;
    }
}

TEST(RegFileRegedit4, EightBitStringsBecomeUtf16)
{
    const RegFile file = ReadRegFile(Raw("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Caf\xE9]\r\n"
                                         "\"s\"=\"\xE9\x80\x8D\"\r\n"
                                         "\"e\"=hex(2):25,e9,80,25,00\r\n"
                                         "\"m\"=hex(7):41,00,9f,00,00\r\n"
                                         "\"b\"=hex:e9,80\r\n"
                                         "\"r\"=hex(1):e9,00\r\n"));
    ASSERT_EQ(file.keys.size(), 1U);
    EXPECT_EQ(file.format, RegFileFormat::Regedit4);
    EXPECT_EQ(file.keys[0].path, L"HKEY_CURRENT_USER\\Software\\Caf\xE9");
    const std::vector<platform::RegistryValue>& values = file.keys[0].values;
    ASSERT_EQ(values.size(), 5U);
    EXPECT_EQ(values[0].data, Sz(L"\xE9\u20AC\x8D"));
    EXPECT_EQ(values[1].type, platform::kRegExpandSz);
    EXPECT_EQ(values[1].data, Sz(L"%\xE9\u20AC%"));
    EXPECT_EQ(values[2].type, platform::kRegMultiSz);
    EXPECT_EQ(values[2].data, Utf16(std::wstring(L"A\0\u0178\0\0", 5)));
    // Only expandable and multi-strings are text to the REGEDIT4 format.
    EXPECT_EQ(values[3].data, (Bytes{0xE9, 0x80}));
    EXPECT_EQ(values[4].data, (Bytes{0xE9, 0x00}));
}

TEST(RegFileValues, Version5HexStringsStayAsWritten)
{
    const platform::RegistryValue value = OnlyValue(ReadRegFile(File5(L"[K]\r\n\"e\"=hex(2):25,00,00,00")));
    EXPECT_EQ(value.data, (Bytes{0x25, 0, 0, 0}));
}

TEST(RegFileSections, KeyPaths)
{
    struct Case {
        const wchar_t* line;
        const wchar_t* path;
        bool deleted;
    };
    const Case cases[] = {
        {L"[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Sub]",
         L"HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Sub", false},
        {L"[HKCU\\a]b]", L"HKCU\\a]b", false},
        {L"[HKCU\\a]]]", L"HKCU\\a]]", false},
        {L"[HKCU\\[x]", L"HKCU\\[x", false},
        {L"[HKCU\\a] \t ", L"HKCU\\a", false},
        {L"  [HKCU\\a]", L"HKCU\\a", false},
        {L"[HKCU\\a ]", L"HKCU\\a ", false},
        {L"[HKCU\\Имя \U0001F600]", L"HKCU\\Имя \U0001F600", false},
        {L"[-HKCU\\a]", L"HKCU\\a", true},
        {L"[-HKCU\\a]b]", L"HKCU\\a]b", true},
        {L"[--a]", L"-a", true},
        // Backslashes at the end are dropped, as the registry tool drops them; one inside stays.
        {L"[HKCU\\a\\]", L"HKCU\\a", false},
        {L"[HKCU\\a\\\\]", L"HKCU\\a", false},
        {L"[HKCU\\a\\\\\\\\] ", L"HKCU\\a", false},
        {L"[-HKCU\\a\\]", L"HKCU\\a", true},
        {L"[HKCU\\a\\\\b]", L"HKCU\\a\\\\b", false},
    };
    for (const Case& c : cases) {
        const RegFile file = ReadRegFile(File5(c.line));
        ASSERT_EQ(file.keys.size(), 1U) << Label(c.line);
        EXPECT_EQ(file.keys[0].path, c.path) << Label(c.line);
        EXPECT_EQ(file.keys[0].deleted, c.deleted) << Label(c.line);
        EXPECT_EQ(file.keys[0].line, 3) << Label(c.line);
        EXPECT_TRUE(file.keys[0].values.empty());
    }
}

TEST(RegFileSections, DeletionsCommentsAndRepeatedKeys)
{
    const RegFile file = ReadRegFile(File5(L"; a comment before any key\n"
                                           L"[-HKCU\\Old]\n"
                                           L"  ; comments and blank lines may follow a deleted key\n"
                                           L" \t \n"
                                           L"[HKCU\\New]\n"
                                           L"\"gone\"=-\n"
                                           L";\"commented\"=\"out\"\n"
                                           L"\"kept\"=\"yes\"\n"
                                           L"[HKCU\\New]\n"
                                           L"\"kept\"=\"again\"\n"));
    ASSERT_EQ(file.keys.size(), 3U);
    EXPECT_TRUE(file.keys[0].deleted);
    EXPECT_EQ(file.keys[0].line, 4);
    EXPECT_EQ(file.keys[1].path, L"HKCU\\New");
    EXPECT_EQ(file.keys[1].line, 7);
    ASSERT_EQ(file.keys[1].values.size(), 2U);
    EXPECT_TRUE(file.keys[1].values[0].deleted);
    EXPECT_TRUE(file.keys[1].values[0].data.empty());
    EXPECT_EQ(file.keys[1].values[1].name, L"kept");
    EXPECT_EQ(file.keys[1].values[1].line, 10);
    // Two sections of one key stay two entries: merging is the comparison's business.
    EXPECT_EQ(file.keys[2].path, L"HKCU\\New");
    EXPECT_EQ(file.keys[2].values.at(0).data, Sz(L"again"));
}

TEST(RegFileContinuation, HexBytesOverSeveralLines)
{
    struct Case {
        const wchar_t* data;
        Bytes bytes;
    };
    const Case cases[] = {
        {L"hex:01,02,\\\r\n  03,04", {1, 2, 3, 4}},
        {L"hex:01,02,\\\n  03,04", {1, 2, 3, 4}},
        {L"hex:01,02,\\\r\n03,04", {1, 2, 3, 4}},
        {L"hex:01,02,\\\n\t \t03", {1, 2, 3}},
        {L"hex:01,02,\\  \t\r\n  03", {1, 2, 3}},
        {L"hex:01,\\\n  02,\\\n  03,\\\r\n  04", {1, 2, 3, 4}},
        {L"hex:\\\n  01", {1}},
        {L"hex:01\\\n  ,02", {1, 2}},
        {L"hex:01,\\\n  \\\n  02", {1, 2}},
        {L"hex(2):41,00,\\\n  00,00", {0x41, 0, 0, 0}},
        {L"hex(7):41,00,\\\r\n  00,00,00,00", {0x41, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const RegFile file = ReadRegFile(File5(std::wstring(L"[K]\r\n\"v\"=") + c.data + L"\r\n\"next\"=\"x\"\r\n"));
        ASSERT_EQ(file.keys.size(), 1U);
        const std::vector<platform::RegistryValue>& values = file.keys[0].values;
        ASSERT_EQ(values.size(), 2U) << Label(c.data);
        EXPECT_EQ(values[0].data, c.bytes) << Label(c.data);
        EXPECT_EQ(values[0].line, 4) << Label(c.data);
        // The value after a continued one knows its own line.
        const auto continued = std::count(c.data, c.data + std::wcslen(c.data), L'\n');
        EXPECT_EQ(values[1].line, 5 + continued) << Label(c.data);
    }
}

TEST(RegFileErrors, ReasonAndLine)
{
    struct Case {
        const wchar_t* body; // after the header and a blank line: the first line here is line 3
        int line;
        const wchar_t* reason;
    };
    const Case cases[] = {
        {L"\"a\"=\"b\"", 3, L"value before the first key"},
        {L"; comment\r\n@=\"b\"", 4, L"value before the first key"},
        {L"[K]\r\n\"a\"=\"b", 4, L"unterminated string"},
        {L"[K]\r\n\"a\"=\"b\\\"", 4, L"unterminated string"},
        {L"[K]\r\n\"a\"=\"b\\", 4, L"unterminated string"},
        {L"[K]\r\n\"a\"=\"b\r\nc\"", 4, L"unterminated string"},
        {L"[K]\r\n\"a", 4, L"unterminated string"},
        {L"[K]\r\n\"a\\\"=\"b\"", 4, L"no '=' after the value's name"},
        {L"[K]\r\n\"a\"=\"\\q\"", 4, L"unknown escape '\\q' in a string"},
        {L"[K]\r\n\"a\"=\"\\t\"", 4, L"unknown escape '\\t' in a string"},
        {L"[K]\r\n\"\\x41\"=\"\"", 4, L"unknown escape '\\x' in a string"},
        {L"[K]\r\n\"a\"=hex:0g", 4, L"bad hex digit 'g'"},
        {L"[K]\r\n\"a\"=hex:g0", 4, L"bad hex digit 'g'"},
        {L"[K]\r\n\"a\"=hex:0 1", 4, L"bad hex digit ' '"},
        {L"[K]\r\n\"a\"=hex:0\t1", 4, L"bad hex digit U+0009"},
        {L"[K]\r\n\"a\"=hex:é0", 4, L"bad hex digit 'é'"},
        {L"[K]\r\n\"a\"=hex:01,0", 4, L"hex byte with one digit"},
        {L"[K]\r\n\"a\"=hex:012", 4, L"hex byte with more than two digits"},
        {L"[K]\r\n\"a\"=hex:01 02", 4, L"no comma between hex bytes before '0'"},
        {L"[K]\r\n\"a\"=hex:01;", 4, L"no comma between hex bytes before ';'"},
        {L"[K]\r\n\"a\"=hex:01,,02", 4, L"missing hex byte before a comma"},
        {L"[K]\r\n\"a\"=hex:,01", 4, L"missing hex byte before a comma"},
        {L"[K]\r\n\"a\"=hex:01,", 4, L"hex bytes that end with a comma"},
        {L"[K]\r\n\"a\"=hex:01,\\\r\n\r\n\"b\"=\"\"", 5, L"hex bytes that end with a comma"},
        {L"[K]\r\n\"a\"=hex:01,\\", 4, L"file ends inside a continued line"},
        {L"[K]\r\n\"a\"=hex:01,\\\r\n", 4, L"file ends inside a continued line"},
        {L"[K]\r\n\"a\"=hex:01,\\\n  02,\\\n", 5, L"file ends inside a continued line"},
        {L"[K]\r\n\"a\"=hex:01,\\ x", 4, L"text after the '\\' that continues a line"},
        {L"[K]\r\n\"a\"=hex:01,\\\r\n  02,zz", 5, L"bad hex digit 'z'"},
        {L"[K]\r\n\"a\"=hex:01\\\n  02", 5, L"no comma between hex bytes before '0'"},
        {L"[K]\r\n\"a\"=hex:01,\\\n[K2]", 5, L"bad hex digit '['"},
        {L"[K]\r\n\"a\"=dword:", 4, L"bad dword: expected 1 to 8 hex digits"},
        {L"[K]\r\n\"a\"=dword:123456789", 4, L"bad dword: expected 1 to 8 hex digits"},
        {L"[K]\r\n\"a\"=dword:12g", 4, L"bad dword: expected 1 to 8 hex digits"},
        {L"[K]\r\n\"a\"=dword:-1", 4, L"bad dword: expected 1 to 8 hex digits"},
        {L"[K]\r\n\"a\"=dword:1 2", 4, L"text after the value's data"},
        {L"[K]\r\n\"a\"=dword:1)", 4, L"text after the value's data"},
        {L"[K]\r\n\"a\"=\"b\" x", 4, L"text after the value's data"},
        {L"[K]\r\n\"a\"=\"b\";comment", 4, L"text after the value's data"},
        {L"[K]\r\n\"a\"=- x", 4, L"text after the value's data"},
        {L"[K]\r\n\"a\"=hex():01", 4, L"bad type in hex(...): expected 1 to 8 hex digits"},
        {L"[K]\r\n\"a\"=hex(123456789):01", 4, L"bad type in hex(...): expected 1 to 8 hex digits"},
        {L"[K]\r\n\"a\"=hex(2:01", 4, L"bad type in hex(...): expected 1 to 8 hex digits"},
        {L"[K]\r\n\"a\"=hex(2)01", 4, L"no \"):\" after the type in hex(...)"},
        {L"[K]\r\n\"a\"=hex(2) :01", 4, L"no \"):\" after the type in hex(...)"},
        {L"[K]\r\n\"a\"", 4, L"no '=' after the value's name"},
        {L"[K]\r\n@\"b\"", 4, L"no '=' after the value's name"},
        {L"[K]\r\n\"a\"=", 4, L"value data that is neither a string, dword:, hex: nor '-'"},
        {L"[K]\r\n\"a\"=text", 4, L"value data that is neither a string, dword:, hex: nor '-'"},
        {L"[K]\r\n\"a\"=hex", 4, L"value data that is neither a string, dword:, hex: nor '-'"},
        {L"[K", 3, L"key without a closing ']'"},
        {L"[K]x", 3, L"text after the key's closing ']'"},
        {L"[K] ; comment", 3, L"text after the key's closing ']'"},
        {L"[]", 3, L"key without a name"},
        {L"[-]", 3, L"key without a name"},
        {L"[\\\\]", 3, L"key without a name"},
        {L"K=1", 3, L"line that is neither a key, a value nor a comment"},
        {L"[K]\r\n  01,02", 4, L"line that is neither a key, a value nor a comment"},
        {L"[-K]\r\n\"a\"=\"b\"", 4, L"value under a key marked for deletion"},
        {L"[-K]\r\n\r\n; c\r\n\"a\"=-", 6, L"value under a key marked for deletion"},
        {L"[K]\n\"a\"=hex:01,\\\n 02\n\n\"b\"=hex:01,\\\n  02,\\\n  03\n\"c\"=\"x", 10, L"unterminated string"},
    };
    for (const Case& c : cases) {
        ExpectError(File5(c.body), c.line, c.reason, Label(c.body));
    }
}

TEST(RegFileErrors, BrokenUtf16)
{
    Bytes odd = File5(L"[K]\r\n");
    odd.push_back(0x41);
    ExpectError(odd, 4, L"UTF-16 text with an odd number of bytes", "odd after a line end");

    Bytes oddInLine = File5(L"[K]");
    oddInLine.push_back(0x41);
    ExpectError(oddInLine, 3, L"UTF-16 text with an odd number of bytes", "odd inside a line");

    ExpectError({0xFF, 0xFE, 0x41}, 1, L"UTF-16 text with an odd number of bytes", "odd at once");
}

// The registry keeps any 16-bit units; a surrogate without its partner is kept as it is.
TEST(RegFileValues, LoneSurrogatesStayAsTheyAre)
{
    struct Case {
        std::vector<std::uint32_t> units;
        const char* label;
    };
    const Case cases[] = {
        {{0xD83D}, "high surrogate at the end"},
        {{0xD83D, 0x0041}, "high surrogate before a letter"},
        {{0xD83D, 0xD83D, 0xDE00}, "two high surrogates"},
        {{0xDE00}, "low surrogate alone"},
        {{0xDE00, 0xD83D}, "surrogates in the wrong order"},
    };
    for (const Case& c : cases) {
        Bytes units;
        for (const std::uint32_t unit : c.units) {
            AppendUnit(units, unit);
        }
        // [K\<units>] and "<units>"="<units>"
        Bytes bytes = File5(L"");
        const auto add = [&bytes](const Bytes& part) { bytes.insert(bytes.end(), part.begin(), part.end()); };
        for (const Bytes& part :
             {Utf16(L"[K\\"), units, Utf16(L"]\r\n\""), units, Utf16(L"\"=\""), units, Utf16(L"\"")}) {
            add(part);
        }
        const RegFile file = ReadRegFile(bytes);
        const platform::RegistryValue value = OnlyValue(file);
        Bytes data = units;
        data.insert(data.end(), {0, 0});
        EXPECT_EQ(value.data, data) << c.label;
        EXPECT_EQ(Utf16(value.name), units) << c.label;
        Bytes path = Utf16(L"K\\");
        path.insert(path.end(), units.begin(), units.end());
        EXPECT_EQ(Utf16(file.keys.at(0).path), path) << c.label;
    }
}

TEST(RegFileErrors, BrokenUtf8)
{
    const char* const cases[] = {
        "\xC3",             // cut short at the end
        "\xC3(",            // no continuation byte
        "\x80",             // a continuation byte alone
        "\xC0\xAF",         // overlong
        "\xC1\xBF",         // overlong
        "\xE0\x80\xAF",     // overlong
        "\xF0\x80\x80\xAF", // overlong
        "\xED\xA0\x80",     // a surrogate
        "\xF4\x90\x80\x80", // past U+10FFFF
        "\xF8\x88\x80\x80\x80",
        "\xFF",
        "\xE2\x82",
    };
    for (const char* bad : cases) {
        Bytes bytes = Encoded(Encoding::Utf8, std::wstring(kHeader5) + L"[K]\r\n\"a\"=\"");
        const Bytes tail = Raw(bad);
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        ExpectError(bytes, 4, L"text that is not valid UTF-8", Label(std::wstring(bad, bad + std::strlen(bad))));
    }
}

TEST(RegFileErrors, TextNamesTheLine)
{
    const RegFileError error(12, L"bad hex digit 'é'");
    EXPECT_EQ(error.line(), 12);
    EXPECT_EQ(error.reason(), L"bad hex digit 'é'");
    EXPECT_EQ(error.text(), L"line 12: bad hex digit 'é'");
    EXPECT_STREQ(error.what(), "line 12: bad hex digit '\xC3\xA9'");
    EXPECT_STREQ(RegFileError(1, L"\x7F \u20AC \U0001F600").what(), "line 1: \x7F \xE2\x82\xAC \xF0\x9F\x98\x80");

    // A character that is no hex digit is shown as it is written, a control character by number.
    ExpectError(File5(L"[K]\r\n\"a\"=hex:\U0001F600"), 4, L"bad hex digit '\U0001F600'", "emoji");
    ExpectError(File5(L"[K]\r\n\"a\"=hex:\x85"), 4, L"bad hex digit U+0085", "C1 control");
    ExpectError(File5(L"[K]\r\n\"a\"=hex:0\x7F"), 4, L"bad hex digit U+007F", "delete");
}

TEST(RegFileExport, WhatTheRegistryToolWrites)
{
    const RegFile file =
        ReadRegFile(File5(L"[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2]\r\n"
                          L"@=\"Wrenlet\"\r\n"
                          L"\"Version\"=\"2.1\"\r\n"
                          L"\"Count\"=dword:00000003\r\n"
                          L"\"Stamp\"=hex(b):00,e0,7e,15,6c,8f,d9,01\r\n"
                          L"\r\n"
                          L"[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Groups]\r\n"
                          L"\"Friends\"=hex(7):41,00,6c,00,69,00,63,00,65,00,00,00,42,00,6f,00,62,00,00,\\\r\n"
                          L"  00,00,00\r\n"
                          L"\"Path\"=hex(2):25,00,41,00,50,00,50,00,44,00,41,00,54,00,41,00,25,00,00,00\r\n"
                          L"\r\n"
                          L"[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Names]\r\n"
                          L"\"+1 555 0100\"=\"Zoë \\\"Z\\\" Ångström\"\r\n"
                          L"\"Avatar\"=hex:89,50,4e,47\r\n"
                          L"\r\n"
                          L"[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Names\\Empty]\r\n"
                          L"\r\n"));
    EXPECT_EQ(file.format, RegFileFormat::Version5);
    ASSERT_EQ(file.keys.size(), 4U);
    const std::wstring root = L"HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2";
    EXPECT_EQ(file.keys[0].path, root);
    EXPECT_EQ(file.keys[1].path, root + L"\\Groups");
    EXPECT_EQ(file.keys[2].path, root + L"\\Names");
    EXPECT_EQ(file.keys[3].path, root + L"\\Names\\Empty");
    EXPECT_EQ(file.keys[0].line, 3);
    EXPECT_EQ(file.keys[1].line, 9);
    EXPECT_EQ(file.keys[2].line, 14);
    EXPECT_EQ(file.keys[3].line, 18);
    EXPECT_TRUE(file.keys[3].values.empty());

    struct Expected {
        std::size_t key;
        std::size_t index;
        const wchar_t* name;
        Bytes data;
        std::uint32_t type;
        int line;
    };
    const Expected expected[] = {
        {0, 0, L"", Sz(L"Wrenlet"), platform::kRegSz, 4},
        {0, 1, L"Version", Sz(L"2.1"), platform::kRegSz, 5},
        {0, 2, L"Count", {3, 0, 0, 0}, platform::kRegDword, 6},
        {0, 3, L"Stamp", {0x00, 0xE0, 0x7E, 0x15, 0x6C, 0x8F, 0xD9, 0x01}, platform::kRegQword, 7},
        {1, 0, L"Friends", Utf16(std::wstring(L"Alice\0Bob\0\0", 11)), platform::kRegMultiSz, 10},
        {1, 1, L"Path", Sz(L"%APPDATA%"), platform::kRegExpandSz, 12},
        {2, 0, L"+1 555 0100", Sz(L"Zoë \"Z\" Ångström"), platform::kRegSz, 15},
        {2, 1, L"Avatar", {0x89, 0x50, 0x4E, 0x47}, platform::kRegBinary, 16},
    };
    for (const Expected& e : expected) {
        const platform::RegistryValue& value = file.keys[e.key].values.at(e.index);
        EXPECT_EQ(value.name, e.name);
        EXPECT_EQ(value.type, e.type) << Label(e.name);
        EXPECT_EQ(value.data, e.data) << Label(e.name);
        EXPECT_EQ(value.line, e.line) << Label(e.name);
        EXPECT_FALSE(value.deleted);
    }
    EXPECT_EQ(file.keys[0].values.size(), 4U);
    EXPECT_EQ(file.keys[1].values.size(), 2U);
    EXPECT_EQ(file.keys[2].values.size(), 2U);
}

} // namespace
