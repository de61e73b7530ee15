// The reader of registration files. The bytes are first decoded to code points (so every later
// step sees one character per element, whatever the file's encoding), then split into lines and
// read line by line; every step is one pass, so any input takes linear time.
#include "backup/reg_file.h"

#include "platform/os.h"

#include <string_view>
#include <utility>
#include <vector>

namespace backup {
namespace {

constexpr std::u32string_view kVersion5Header = U"Windows Registry Editor Version 5.00";
constexpr std::u32string_view kRegedit4Header = U"REGEDIT4";

[[noreturn]] void Fail(int line, std::wstring reason)
{
    throw RegFileError(line, std::move(reason));
}

bool IsSurrogate(char32_t c)
{
    return c >= 0xD800 && c <= 0xDFFF;
}

// wchar_t is UTF-16 on Windows and UTF-32 elsewhere; names follow the platform's own form.
void AppendWide(std::wstring& out, char32_t c)
{
    if constexpr (sizeof(wchar_t) == 2) {
        if (c > 0xFFFF) {
            out.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(c));
}

// Wide text as code points; on Windows a UTF-16 pair becomes one.
std::u32string CodePoints(std::wstring_view text)
{
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
            }
        }
        out.push_back(c);
    }
    return out;
}

void AppendUtf16Le(std::vector<std::uint8_t>& out, char32_t c)
{
    const auto unit = [&out](std::uint32_t u) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    if (c > 0xFFFF) {
        unit(0xD800 + ((c - 0x10000) >> 10));
        unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
        unit(c);
    }
}

std::u32string DecodeUtf16Le(std::span<const std::uint8_t> bytes)
{
    std::u32string text;
    text.reserve(bytes.size() / 2);
    int line = 1;
    const auto unitAt = [&bytes](std::size_t i) { return static_cast<char32_t>(bytes[i] | (bytes[i + 1] << 8)); };
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        char32_t c = unitAt(i);
        // A surrogate without its partner stays a unit of its own: the registry keeps any 16-bit
        // units (a name cut inside an emoji holds one), and writes them as they are.
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size() && unitAt(i + 2) >= 0xDC00 && unitAt(i + 2) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
            i += 2;
        }
        line += c == U'\n' ? 1 : 0;
        text.push_back(c);
    }
    if (i < bytes.size()) {
        Fail(line, L"UTF-16 text with an odd number of bytes");
    }
    return text;
}

std::u32string DecodeUtf8(std::span<const std::uint8_t> bytes)
{
    std::u32string text;
    text.reserve(bytes.size());
    int line = 1;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::uint8_t lead = bytes[i];
        std::size_t length = 1;
        char32_t c = lead;
        char32_t least = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, c = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, c = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, c = lead & 0x07, least = 0x10000;
        } else if (lead >= 0x80) {
            Fail(line, L"text that is not valid UTF-8");
        }
        if (length > bytes.size() - i) {
            Fail(line, L"text that is not valid UTF-8");
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                Fail(line, L"text that is not valid UTF-8");
            }
            c = (c << 6) | (bytes[i + k] & 0x3F);
        }
        if (c < least || c > 0x10FFFF || IsSurrogate(c)) {
            Fail(line, L"text that is not valid UTF-8");
        }
        line += c == U'\n' ? 1 : 0;
        text.push_back(c);
        i += length;
    }
    return text;
}

// A file without a byte-order mark is 8-bit text in the system's ANSI code page, as the registry
// tool reads it. The whole file is decoded before it is read: in a double-byte code page (932) the
// second byte of a character may be a backslash, '[' or ']'.
std::u32string Decode(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        return DecodeUtf16Le(bytes.subspan(2));
    }
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return DecodeUtf8(bytes.subspan(3));
    }
    return CodePoints(platform::DecodeAnsi(bytes));
}

// LF ends a line, with a CR just before it; a final LF starts no further line.
std::vector<std::u32string_view> SplitLines(std::u32string_view text)
{
    std::vector<std::u32string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find(U'\n');
        std::u32string_view line = text.substr(0, end);
        if (line.ends_with(U'\r')) {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        text.remove_prefix(end == std::u32string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

bool IsBlank(char32_t c)
{
    return c == U' ' || c == U'\t';
}

int HexDigit(char32_t c)
{
    if (c >= U'0' && c <= U'9') {
        return static_cast<int>(c - U'0');
    }
    if (c >= U'a' && c <= U'f') {
        return static_cast<int>(c - U'a' + 10);
    }
    if (c >= U'A' && c <= U'F') {
        return static_cast<int>(c - U'A' + 10);
    }
    return -1;
}

// Control characters are shown by number, as they would not be seen in a message.
std::wstring Shown(char32_t c)
{
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
        constexpr std::wstring_view digits = L"0123456789ABCDEF";
        std::wstring shown = L"U+00";
        shown.push_back(digits[(c >> 4) & 0xF]);
        shown.push_back(digits[c & 0xF]);
        return shown;
    }
    std::wstring shown = L"'";
    AppendWide(shown, c);
    return shown + L"'";
}

class Reader {
public:
    explicit Reader(std::vector<std::u32string_view> lines) : lines_(std::move(lines)) {}

    RegFile Read()
    {
        RegFile file;
        std::u32string_view header = lines_.empty() ? std::u32string_view{} : lines_[0];
        while (!header.empty() && IsBlank(header.back())) {
            header.remove_suffix(1);
        }
        if (header == kRegedit4Header) {
            file.format = RegFileFormat::Regedit4;
        } else if (header != kVersion5Header) {
            Fail(1, L"not a registration file: the first line is not a registry editor header");
        }
        regedit4_ = file.format == RegFileFormat::Regedit4;
        for (index_ = 1; index_ < lines_.size(); ++index_) {
            rest_ = lines_[index_];
            SkipBlanks();
            if (rest_.empty() || rest_.front() == U';') {
                continue;
            }
            if (rest_.front() == U'[') {
                file.keys.push_back(ReadSection());
            } else if (rest_.front() == U'"' || rest_.front() == U'@') {
                if (file.keys.empty()) {
                    Fail(Line(), L"value before the first key");
                }
                if (file.keys.back().deleted) {
                    Fail(Line(), L"value under a key marked for deletion");
                }
                file.keys.back().values.push_back(ReadValue());
            } else {
                Fail(Line(), L"line that is neither a key, a value nor a comment");
            }
        }
        return file;
    }

private:
    int Line() const { return static_cast<int>(index_) + 1; }

    void SkipBlanks()
    {
        while (!rest_.empty() && IsBlank(rest_.front())) {
            rest_.remove_prefix(1);
        }
    }

    bool Consume(char32_t c)
    {
        if (rest_.empty() || rest_.front() != c) {
            return false;
        }
        rest_.remove_prefix(1);
        return true;
    }

    // Keywords in any letter case, as the registry editor takes them.
    bool ConsumeKeyword(std::u32string_view word)
    {
        if (rest_.size() < word.size()) {
            return false;
        }
        for (std::size_t i = 0; i < word.size(); ++i) {
            const char32_t c = rest_[i];
            if ((c >= U'A' && c <= U'Z' ? c + 0x20 : c) != word[i]) {
                return false;
            }
        }
        rest_.remove_prefix(word.size());
        return true;
    }

    void ExpectEnd()
    {
        SkipBlanks();
        if (!rest_.empty()) {
            Fail(Line(), L"text after the value's data");
        }
    }

    platform::RegistryKey ReadSection()
    {
        platform::RegistryKey key;
        key.line = Line();
        std::u32string_view inside = rest_.substr(1);
        // A key's name may itself hold ']': only the last one closes the section.
        const std::size_t close = inside.rfind(U']');
        if (close == std::u32string_view::npos) {
            Fail(Line(), L"key without a closing ']'");
        }
        for (const char32_t c : inside.substr(close + 1)) {
            if (!IsBlank(c)) {
                Fail(Line(), L"text after the key's closing ']'");
            }
        }
        inside = inside.substr(0, close);
        if (inside.starts_with(U'-')) {
            key.deleted = true;
            inside.remove_prefix(1);
        }
        // The registry tool drops backslashes at the end of the path: [K\\] is the key K.
        while (inside.ends_with(U'\\')) {
            inside.remove_suffix(1);
        }
        if (inside.empty()) {
            Fail(Line(), L"key without a name");
        }
        for (const char32_t c : inside) {
            AppendWide(key.path, c);
        }
        return key;
    }

    std::u32string ReadQuoted()
    {
        rest_.remove_prefix(1);
        std::u32string text;
        while (!rest_.empty()) {
            const char32_t c = rest_.front();
            rest_.remove_prefix(1);
            if (c == U'"') {
                return text;
            }
            if (c != U'\\') {
                text.push_back(c);
                continue;
            }
            if (rest_.empty()) {
                break;
            }
            const char32_t escaped = rest_.front();
            rest_.remove_prefix(1);
            switch (escaped) {
            case U'\\':
            case U'"':
                text.push_back(escaped);
                break;
            case U'n':
                text.push_back(U'\n');
                break;
            case U'r':
                text.push_back(U'\r');
                break;
            case U'0':
                text.push_back(U'\0');
                break;
            default: {
                std::wstring reason = L"unknown escape '\\";
                AppendWide(reason, escaped);
                Fail(Line(), reason + L"' in a string");
            }
            }
        }
        Fail(Line(), L"unterminated string");
    }

    platform::RegistryValue ReadValue()
    {
        platform::RegistryValue value;
        value.line = Line();
        if (!Consume(U'@')) {
            for (const char32_t c : ReadQuoted()) {
                AppendWide(value.name, c);
            }
        }
        SkipBlanks();
        if (!Consume(U'=')) {
            Fail(Line(), L"no '=' after the value's name");
        }
        SkipBlanks();
        if (!rest_.empty() && rest_.front() == U'"') {
            value.type = platform::kRegSz;
            for (const char32_t c : ReadQuoted()) {
                AppendUtf16Le(value.data, c);
            }
            value.data.insert(value.data.end(), {0, 0});
            ExpectEnd();
        } else if (Consume(U'-')) {
            value.deleted = true;
            ExpectEnd();
        } else if (ConsumeKeyword(U"dword:")) {
            value.type = platform::kRegDword;
            const std::uint32_t number = ReadHexNumber(L"dword: expected 1 to 8 hex digits");
            for (int shift = 0; shift < 32; shift += 8) {
                value.data.push_back(static_cast<std::uint8_t>(number >> shift));
            }
            ExpectEnd();
        } else if (ConsumeKeyword(U"hex:")) {
            value.type = platform::kRegBinary;
            value.data = ReadHexBytes();
        } else if (ConsumeKeyword(U"hex(")) {
            value.type = ReadHexNumber(L"type in hex(...): expected 1 to 8 hex digits");
            if (!Consume(U')') || !Consume(U':')) {
                Fail(Line(), L"no \"):\" after the type in hex(...)");
            }
            value.data = ReadHexBytes();
            if (regedit4_ && (value.type == platform::kRegExpandSz || value.type == platform::kRegMultiSz)) {
                value.data = Widened(value.data);
            }
        } else {
            Fail(Line(), L"value data that is neither a string, dword:, hex: nor '-'");
        }
        return value;
    }

    std::uint32_t ReadHexNumber(const wchar_t* what)
    {
        std::uint32_t number = 0;
        std::size_t digits = 0;
        while (digits < rest_.size() && HexDigit(rest_[digits]) >= 0) {
            number = (number << 4) | static_cast<std::uint32_t>(HexDigit(rest_[digits]));
            ++digits;
        }
        const bool endsWell = digits == rest_.size() || IsBlank(rest_[digits]) || rest_[digits] == U')';
        if (digits == 0 || digits > 8 || !endsWell) {
            Fail(Line(), std::wstring(L"bad ") + what);
        }
        rest_.remove_prefix(digits);
        return number;
    }

    // Bytes "01,02,ff", where a '\' at a line's end continues the list on the next line.
    std::vector<std::uint8_t> ReadHexBytes()
    {
        std::vector<std::uint8_t> bytes;
        bool wantByte = true;
        bool afterComma = false;
        for (;;) {
            SkipBlanks();
            if (rest_.empty()) {
                if (afterComma) {
                    Fail(Line(), L"hex bytes that end with a comma");
                }
                return bytes;
            }
            const char32_t c = rest_.front();
            rest_.remove_prefix(1);
            if (c == U'\\') {
                SkipBlanks();
                if (!rest_.empty()) {
                    Fail(Line(), L"text after the '\\' that continues a line");
                }
                if (index_ + 1 >= lines_.size()) {
                    Fail(Line(), L"file ends inside a continued line");
                }
                rest_ = lines_[++index_];
            } else if (wantByte) {
                const int high = HexDigit(c);
                if (high < 0) {
                    Fail(Line(), c == U',' ? L"missing hex byte before a comma" : L"bad hex digit " + Shown(c));
                }
                if (rest_.empty()) {
                    Fail(Line(), L"hex byte with one digit");
                }
                const int low = HexDigit(rest_.front());
                if (low < 0) {
                    Fail(Line(), L"bad hex digit " + Shown(rest_.front()));
                }
                rest_.remove_prefix(1);
                if (!rest_.empty() && HexDigit(rest_.front()) >= 0) {
                    Fail(Line(), L"hex byte with more than two digits");
                }
                bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
                wantByte = false;
                afterComma = false;
            } else if (c == U',') {
                wantByte = true;
                afterComma = true;
            } else {
                Fail(Line(), L"no comma between hex bytes before " + Shown(c));
            }
        }
    }

    // REGEDIT4 keeps expandable and multi-strings as 8-bit text; the registry holds UTF-16.
    static std::vector<std::uint8_t> Widened(const std::vector<std::uint8_t>& narrow)
    {
        std::vector<std::uint8_t> wide;
        wide.reserve(narrow.size() * 2);
        for (const char32_t c : CodePoints(platform::DecodeAnsi(narrow))) {
            AppendUtf16Le(wide, c);
        }
        return wide;
    }

    std::vector<std::u32string_view> lines_;
    std::size_t index_ = 0;
    std::u32string_view rest_;
    bool regedit4_ = false;
};

std::string Utf8(std::wstring_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
            }
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

} // namespace

RegFileError::RegFileError(int line, std::wstring reason)
    : std::runtime_error(Utf8(L"line " + std::to_wstring(line) + L": " + reason)), line_(line),
      reason_(std::move(reason))
{
}

std::wstring RegFileError::text() const
{
    return L"line " + std::to_wstring(line_) + L": " + reason_;
}

RegFile ReadRegFile(std::span<const std::uint8_t> bytes)
{
    const std::u32string text = Decode(bytes);
    return Reader(SplitLines(text)).Read();
}

} // namespace backup
