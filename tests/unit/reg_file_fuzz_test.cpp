// Random damage to realistic registration files: the reader must return or throw RegFileError,
// never crash, hang or read outside its input (the sanitizers watch the last). Each iteration's
// mutations come from kSeed + iteration alone, so a failing iteration replays by its number.
#include "backup/reg_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <typeinfo>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define LARKSPOOL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LARKSPOOL_SANITIZED 1
#endif
#endif
#ifdef LARKSPOOL_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kSeed = 20240611;
constexpr auto kFuzzTime = std::chrono::milliseconds(2500);
constexpr int kMaxIterations = 2'000'000;

// What a sanitizer's report names, so a crash says which iteration to replay.
long long gIteration = -1;
const char* gSeedName = "";

#ifdef LARKSPOOL_SANITIZED
void ReportIteration()
{
    std::fprintf(stderr, "RegFileFuzz: crashed in iteration %lld (seed %llu + iteration) from the %s file\n",
                 gIteration, static_cast<unsigned long long>(kSeed), gSeedName);
}
#endif

Bytes Ascii(std::string_view text)
{
    return {text.begin(), text.end()};
}

Bytes Utf16File(std::wstring_view text)
{
    Bytes out = {0xFF, 0xFE};
    for (const wchar_t c : text) {
        const auto code = static_cast<char32_t>(c);
        const auto unit = [&out](std::uint32_t u) {
            out.push_back(static_cast<std::uint8_t>(u & 0xFF));
            out.push_back(static_cast<std::uint8_t>(u >> 8));
        };
        if (code > 0xFFFF) {
            unit(0xD800 + ((code - 0x10000) >> 10));
            unit(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            unit(code);
        }
    }
    return out;
}

struct Seed {
    const char* name;
    Bytes bytes;
    std::size_t sections;
    std::size_t values;
};

std::vector<Seed> Seeds()
{
    const wchar_t* const export5 = L"Windows Registry Editor Version 5.00\r\n"
                                   L"\r\n"
                                   L"[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2]\r\n"
                                   L"@=\"Wrenlet \\\"2\\\"\"\r\n"
                                   L"\"Count\"=dword:0000002a\r\n"
                                   L"\"Stamp\"=hex(b):00,e0,7e,15,6c,8f,d9,01\r\n"
                                   L"\"Path\"=hex(2):25,00,41,00,50,00,50,00,44,00,41,00,54,00,41,00,25,00,5c,00,\\\r\n"
                                   L"  57,00,00,00\r\n"
                                   L"\r\n"
                                   L"[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Names]\r\n"
                                   L"\"Zoë \\\\ Ångström\"=\"C:\\\\Users\\\\Zoë\"\r\n"
                                   L"\"Ждан \U0001F600\"=\"line\\nbreak\\0nul\"\r\n"
                                   L"\"Friends\"=hex(7):41,00,6c,00,69,00,63,00,65,00,00,00,42,00,6f,00,62,00,00,\\\r\n"
                                   L"  00,00,00\r\n"
                                   L"\"Avatar\"=hex:89,50,4e,47,0d,0a,1a,0a,00,00,00,0d,49,48,44,52,00,00,00,10,\\\r\n"
                                   L"  00,00,00,10,08,06,00,00,00\r\n"
                                   L"\"Old\"=-\r\n"
                                   L"\r\n"
                                   L"; groups follow\r\n"
                                   L"[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Groups]x]\r\n"
                                   L"\"Empty\"=hex:\r\n"
                                   L"\"None\"=hex(0):\r\n"
                                   L"\r\n"
                                   L"[-HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Stale]\r\n"
                                   L"\r\n";
    Bytes utf8 = {0xEF, 0xBB, 0xBF};
    const Bytes utf8Body = Ascii("Windows Registry Editor Version 5.00\n\n"
                                 "[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Caf\xC3\xA9]\n"
                                 "\"\xD0\x98\xD0\xBC\xD1\x8F\"=\"\xF0\x9F\x98\x80 \\\"quoted\\\"\"\n"
                                 "\"Bin\"=hex:01,02,\\\n  03,04,\\\n05\n"
                                 "\"Dword\"=dword:ffffffff\n");
    utf8.insert(utf8.end(), utf8Body.begin(), utf8Body.end());
    return {
        {"UTF-16 export", Utf16File(export5), 4, 11},
        {"UTF-8", utf8, 1, 3},
        {"REGEDIT4",
         Ascii("REGEDIT4\r\n\r\n"
               "[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2]\r\n"
               "\"Caf\xE9\"=\"\x80 \\\\ \\\"\x9F\"\r\n"
               "\"Path\"=hex(2):25,41,50,50,44,41,54,41,25,5c,e9,00\r\n"
               "\"Multi\"=hex(7):41,6c,69,63,65,00,42,6f,62,00,\\\r\n"
               "  00\r\n"
               "\"Count\"=dword:00000003\r\n"
               "\r\n"
               "[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Names]\r\n"
               "@=\"Nobody\"\r\n"
               "\"Gone\"=-\r\n"),
         2, 6},
        {"8-bit version 5",
         Ascii("Windows Registry Editor Version 5.00\n"
               "[HKEY_CURRENT_USER\\Software\\Zephrix]\n"
               "  ; indented comment\n"
               "\"a\"=hex(5):00,00,00,01\n"
               "\"b\"=hex(ffffffff):\\\n"
               "  ff\n"),
         1, 2},
    };
}

// Text that reaches deeper into the grammar than random bytes would.
const char* const kTokens[] = {
    "\\",
    "\"",
    "[",
    "]",
    "[-",
    ",",
    "=",
    "@=",
    "-",
    ";",
    ":",
    "\r\n",
    "\n",
    "\r",
    "\\\r\n",
    ",\\\n  ",
    "hex:",
    "hex(",
    "):",
    "hex(2):",
    "hex(7):",
    "dword:",
    "\\\"",
    "\\\\",
    "\\0",
    "00,",
    "ff",
    "12345678",
    "fffffffff",
    "\"=",
    "REGEDIT4\r\n",
};

class Mutator {
public:
    explicit Mutator(std::uint64_t seed) : random_(seed) {}

    std::size_t Below(std::size_t n)
    {
        return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
    }

    void Mutate(Bytes& bytes, const std::vector<Seed>& seeds)
    {
        const bool utf16 = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
        const std::size_t at = Below(bytes.size() + 1);
        const auto pos = [&bytes](std::size_t i) { return bytes.begin() + static_cast<std::ptrdiff_t>(i); };
        switch (Below(9)) {
        case 0:
            if (at < bytes.size()) {
                bytes[at] ^= static_cast<std::uint8_t>(1U << Below(8));
            }
            break;
        case 1:
            if (at < bytes.size()) {
                bytes[at] = AnyByte();
            }
            break;
        case 2:
            bytes.insert(pos(at), AnyByte());
            break;
        case 3:
            bytes.erase(pos(at), pos(std::min(bytes.size(), at + 1 + Below(16))));
            break;
        case 4: {
            const std::size_t end = std::min(bytes.size(), at + 1 + Below(64));
            const Bytes copy(pos(std::min(at, end)), pos(end));
            bytes.insert(pos(Below(bytes.size() + 1)), copy.begin(), copy.end());
            break;
        }
        case 5:
            bytes.resize(at);
            break;
        case 6:
            SpliceLine(bytes, seeds[Below(seeds.size())].bytes, utf16);
            break;
        case 7:
            InsertToken(bytes, utf16);
            break;
        default:
            // Most reading past the end would happen here: cut the last few bytes, add a stray one.
            bytes.resize(bytes.size() - std::min(bytes.size(), Below(6)));
            if (Below(2) == 0) {
                bytes.push_back(AnyByte());
            }
            break;
        }
    }

private:
    // A whole line of another (or the same) file, placed after a line end of this one.
    void SpliceLine(Bytes& bytes, const Bytes& from, bool utf16)
    {
        const std::size_t step = utf16 ? 2 : 1;
        const auto lineStart = [step](const Bytes& b, std::size_t near) {
            const auto found = std::find(b.begin() + static_cast<std::ptrdiff_t>(std::min(near, b.size())), b.end(),
                                         std::uint8_t{'\n'});
            return found == b.end() ? b.size() : std::min(b.size(), static_cast<std::size_t>(found - b.begin()) + step);
        };
        const std::size_t start = lineStart(from, Below(from.size()));
        const std::size_t end = lineStart(from, start);
        const std::size_t to = lineStart(bytes, Below(bytes.size()));
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(to), from.begin() + static_cast<std::ptrdiff_t>(start),
                     from.begin() + static_cast<std::ptrdiff_t>(end));
    }

    void InsertToken(Bytes& bytes, bool utf16)
    {
        const std::string_view token = kTokens[Below(std::size(kTokens))];
        Bytes encoded;
        for (const char c : token) {
            encoded.push_back(static_cast<std::uint8_t>(c));
            if (utf16) {
                encoded.push_back(0);
            }
        }
        std::size_t at = Below(bytes.size() + 1);
        if (utf16 && at % 2 == 1) {
            --at;
        }
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), encoded.begin(), encoded.end());
    }

    // Half the time a byte that means something to one of the encodings or to the grammar.
    std::uint8_t AnyByte()
    {
        static constexpr std::uint8_t kTelling[] = {0x00, 0x0A, 0x0D, 0x22, 0x2C, 0x5B, 0x5C, 0x5D, 0x80, 0x9F, 0xBF,
                                                    0xC3, 0xD8, 0xDB, 0xDC, 0xDF, 0xE0, 0xED, 0xF0, 0xF4, 0xFE, 0xFF};
        return Below(2) == 0 ? kTelling[Below(std::size(kTelling))] : static_cast<std::uint8_t>(Below(256));
    }

    std::mt19937_64 random_;
};

// Whatever the reader returns must hold together.
void CheckResult(const backup::RegFile& file, const std::string& where)
{
    int lastLine = 1;
    for (const platform::RegistryKey& key : file.keys) {
        EXPECT_FALSE(key.path.empty()) << where;
        EXPECT_GT(key.line, lastLine) << where;
        EXPECT_TRUE(!key.deleted || key.values.empty()) << where;
        lastLine = key.line;
        for (const platform::RegistryValue& value : key.values) {
            EXPECT_GT(value.line, lastLine) << where;
            EXPECT_TRUE(!value.deleted || value.data.empty()) << where;
            lastLine = value.line;
        }
    }
}

// True when the reader behaved: returned, or threw its own error naming a line of the file.
bool ReadsCleanly(const Bytes& bytes, const std::string& where)
{
    // A buffer of exactly the input's size, so that AddressSanitizer sees any read past its end
    // (a vector's spare capacity would hide it).
    const std::unique_ptr<std::uint8_t[]> exact = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), exact.get());
    try {
        CheckResult(backup::ReadRegFile(std::span<const std::uint8_t>(exact.get(), bytes.size())), where);
    } catch (const backup::RegFileError& error) {
        const auto lines = std::count(bytes.begin(), bytes.end(), std::uint8_t{'\n'}) + 1;
        EXPECT_GE(error.line(), 1) << where;
        EXPECT_LE(error.line(), lines) << where;
        EXPECT_FALSE(error.reason().empty()) << where;
    } catch (const std::exception& error) {
        ADD_FAILURE() << where << ": " << typeid(error).name() << ": " << error.what();
        return false;
    } catch (...) {
        ADD_FAILURE() << where << ": an exception of an unknown type";
        return false;
    }
    return !::testing::Test::HasFailure();
}

std::filesystem::path RegressionFolder()
{
    return std::filesystem::path(__FILE__).parent_path() / "reg_file_regressions";
}

TEST(RegFileFuzz, SeedsReadWhole)
{
    for (const Seed& seed : Seeds()) {
        const backup::RegFile file = backup::ReadRegFile(seed.bytes);
        std::size_t values = 0;
        for (const platform::RegistryKey& key : file.keys) {
            values += key.values.size();
        }
        EXPECT_EQ(file.keys.size(), seed.sections) << seed.name;
        EXPECT_EQ(values, seed.values) << seed.name;
        CheckResult(file, seed.name);
    }
}

TEST(RegFileFuzz, RegressionInputs)
{
    const std::filesystem::path folder = RegressionFolder();
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
    int count = 0;
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        std::ifstream stream(entry.path(), std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
        ReadsCleanly(bytes, entry.path().filename().string());
        count += entry.path().extension() == ".reg" ? 1 : 0;
    }
    EXPECT_GT(count, 0) << "no regression inputs in " << folder;
}

TEST(RegFileFuzz, RandomMutationsOfRealFiles)
{
#ifdef LARKSPOOL_SANITIZED
    __sanitizer_set_death_callback(ReportIteration);
#endif
    const std::vector<Seed> seeds = Seeds();
    const auto deadline = std::chrono::steady_clock::now() + kFuzzTime;
    int iteration = 0;
    for (; iteration < kMaxIterations && std::chrono::steady_clock::now() < deadline; ++iteration) {
        Mutator mutator(kSeed + static_cast<std::uint64_t>(iteration));
        const Seed& seed = seeds[mutator.Below(seeds.size())];
        Bytes bytes = seed.bytes;
        const std::size_t mutations = 1 + mutator.Below(4);
        for (std::size_t i = 0; i < mutations; ++i) {
            mutator.Mutate(bytes, seeds);
        }
        gIteration = iteration;
        gSeedName = seed.name;
        const std::string where = "seed " + std::to_string(kSeed) + " iteration " + std::to_string(iteration);
        if (!ReadsCleanly(bytes, where)) {
            // Kept for the regression folder.
            const std::string saved = "reg_file_fuzz_failure_" + std::to_string(iteration) + ".reg";
            std::ofstream(saved, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            ADD_FAILURE() << "input saved as " << saved;
            break;
        }
    }
    gIteration = -1;
    RecordProperty("iterations", iteration);
    EXPECT_GT(iteration, 100);
}

} // namespace
