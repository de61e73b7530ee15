// The live key read through the registry API, compared with what the real reg.exe exports of it;
// backup folders' access lists; the settings entry of another type; background jobs.
#include "backup/backup_paths.h"
#include "backup/compare.h"
#include "backup/reg_file.h"
#include "platform/win32/handles.h"
#include "platform/win32/os_win32.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <string>
#include <thread>

namespace {

using platform::win32::Win32Os;

constexpr wchar_t kTestKey[] = L"Software\\LarkSpoolTest\\Tree";
const std::wstring kFullKey = std::wstring(L"HKEY_CURRENT_USER\\") + kTestKey;

void Set(const std::wstring& subkey, const std::wstring& name, DWORD type, const void* data, std::size_t size)
{
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kTestKey) + subkey).c_str(), 0, nullptr, 0,
                                KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const platform::win32::Key owner(key);
    ASSERT_EQ(::RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)),
              ERROR_SUCCESS);
}

void SetText(const std::wstring& subkey, const std::wstring& name, DWORD type, const std::wstring& text,
             bool withNul = true)
{
    Set(subkey, name, type, text.c_str(), (text.size() + (withNul ? 1 : 0)) * sizeof(wchar_t));
}

// Every type and awkward names, in the key, an empty subkey and a deep one.
void Seed()
{
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\LarkSpoolTest");
    SetText(L"", L"", REG_SZ, L"the default value");
    SetText(L"", L"Version", REG_SZ, L"2.0");
    SetText(L"", L"quote\"and\\backslash", REG_SZ, L"say \"hi\" \\ there");
    SetText(L"", L"]bracket=equals", REG_SZ, L"");
    SetText(L"", L"Ünïcödé Ελλάδα Москва", REG_SZ, L"naïve café 😀");
    SetText(L"", L"no terminating NUL", REG_SZ, L"bare", false);
    SetText(L"", std::wstring(L"cut in an emoji \xD83D"), REG_SZ, std::wstring(L"\xDE00 lone"));
    SetText(L"", L"Path", REG_EXPAND_SZ, L"%USERPROFILE%\\Wrenlet");
    const wchar_t multi[] = L"one\0two\0\0";
    Set(L"", L"Groups", REG_MULTI_SZ, multi, sizeof multi);
    const DWORD flags = 0xDEADBEEF;
    Set(L"", L"Flags", REG_DWORD, &flags, sizeof flags);
    const ULONGLONG big = 0x0123456789ABCDEFull;
    Set(L"", L"Big", REG_QWORD, &big, sizeof big);
    std::vector<BYTE> blob(300);
    for (std::size_t i = 0; i < blob.size(); ++i) {
        blob[i] = static_cast<BYTE>(i * 7);
    }
    Set(L"", L"Blob", REG_BINARY, blob.data(), blob.size()); // long enough to continue over lines
    Set(L"", L"Nothing", REG_NONE, nullptr, 0);
    Set(L"", L"Odd type", 0x1234, "\x01\x02", 2);
    HKEY empty = nullptr;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kTestKey) + L"\\Empty]Key").c_str(), 0, nullptr, 0, KEY_READ,
                      nullptr, &empty, nullptr);
    ::RegCloseKey(empty);
    SetText(L"\\CustomNames\\Deep\\Deeper", L"friend@example.org", REG_SZ, L"Friend");
}

std::uint32_t Wait(platform::Process& process)
{
    for (int i = 0; i < 400; ++i) {
        if (const auto code = process.ExitCode()) {
            return *code;
        }
        ::Sleep(50);
    }
    return 0xFFFFFFFF;
}

std::wstring Describe(const std::vector<backup::Difference>& differences)
{
    std::wstring text;
    for (const auto& difference : differences) {
        const auto& value = difference.before ? difference.before : difference.after;
        text += std::to_wstring(static_cast<int>(difference.change)) + L" " + difference.key + L" " +
                (value ? value->name : L"<key>") + L"\n";
    }
    return text;
}

TEST(Registry, ExportOfTheRealToolReadsBackEqualToTheLiveKey)
{
    Seed();
    Win32Os os;
    const std::wstring file = os.SystemPath().substr(0, 3) + L"larkspool-registry-test.reg";
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(file.c_str());
    auto tool = os.Shell(backup::QuoteArgument(backup::JoinPath(os.SystemPath(), L"reg.exe")) + L" EXPORT HKCU\\" +
                             kTestKey + L" " + backup::QuoteArgument(file) + L" /y",
                         platform::vbMinimizedFocus);
    ASSERT_EQ(Wait(*tool), 0u);

    const backup::RegFile exported = backup::ReadRegFile(os.ReadFileBytes(file));
    const std::optional<platform::RegistryTree> live = os.ReadRegistryTree(L"HKCU\\" + std::wstring(kTestKey));
    ASSERT_TRUE(live);
    EXPECT_EQ(backup::CountKeys(*live), 5u);
    EXPECT_EQ(backup::CountValues(*live), 15u);
    EXPECT_EQ(backup::CountValues(exported.keys), 15u);
    EXPECT_EQ(Describe(backup::CompareTrees(*live, exported.keys)), L"");

    // The stamps: each key with its number of values, none written after now; a change writes
    // its key later than that.
    const std::uint64_t since = os.SystemTime();
    const auto stamps = os.ReadRegistryStamps(kFullKey);
    ASSERT_TRUE(stamps);
    ASSERT_EQ(stamps->size(), 5u);
    std::size_t values = 0;
    for (const platform::KeyStamp& stamp : *stamps) {
        values += stamp.values;
        EXPECT_LE(stamp.written, since) << stamp.path;
    }
    EXPECT_EQ(values, 15u);
    ::Sleep(20); // past the clock's resolution

    // One value changed, one removed, one added: exactly those three are named.
    SetText(L"", L"Version", REG_SZ, L"2.1");
    EXPECT_GT(os.ReadRegistryStamps(kFullKey)->front().written, since);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, (std::wstring(kTestKey) + L"\\CustomNames\\Deep\\Deeper").c_str(),
                         L"friend@example.org");
    SetText(L"\\CustomNames", L"new@example.org", REG_SZ, L"New");
    const auto changed = os.ReadRegistryTree(kFullKey);
    ASSERT_TRUE(changed);
    EXPECT_EQ(Describe(backup::CompareTrees(exported.keys, *changed)),
              L"2 " + kFullKey + L" Version\n" +                                           // changed
                  L"0 " + kFullKey + L"\\CustomNames new@example.org\n" +                  // added
                  L"1 " + kFullKey + L"\\CustomNames\\Deep\\Deeper friend@example.org\n"); // removed
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(file.c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\LarkSpoolTest");
}

// A REGEDIT4 file written on another computer is 8-bit text in that system's ANSI code page, read
// here as the registry tool imports it. ctest runs this again with Wine in code pages 1251 and 932
// (Wine takes the code page from LC_ALL), naming the one expected in LARKSPOOL_ANSI_CODE_PAGE.
TEST(Registry, EightBitFileReadsAsTheRegistryToolImportsIt)
{
    if (const char* expected = std::getenv("LARKSPOOL_ANSI_CODE_PAGE")) {
        ASSERT_EQ(std::to_string(::GetACP()), expected) << "Wine did not take the code page from LC_ALL";
    }
    struct Case {
        UINT codePage;
        std::string name; // of a key and of a value in it
        std::string data;
        std::wstring wideName;
        std::wstring wideData;
    };
    // In 932 the second byte of a character may be a backslash.
    const Case cases[] = {
        {1252, "Caf\xE9 \x80", "Zo\xEB", L"Café €", L"Zoë"},
        {1251, "\xC8\xEC\xFF", "\xC6\xE4\xE0\xED", L"Имя", L"Ждан"},
        {932, "\x83\x5C\x83\x74\x83\x67", "\x95\x5C\x8E\xA6", L"ソフト", L"表示"},
    };
    const auto c = std::find_if(std::begin(cases), std::end(cases),
                                [](const Case& candidate) { return candidate.codePage == ::GetACP(); });
    ASSERT_NE(c, std::end(cases)) << "no case for code page " << ::GetACP();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\LarkSpoolTest");
    const std::string text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\LarkSpoolTest\\Tree]\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\LarkSpoolTest\\Tree\\" +
                             c->name + "]\r\n\"" + c->name + "\"=\"" + c->data + "\"\r\n";
    Win32Os os;
    const std::wstring file = os.SystemPath().substr(0, 3) + L"larkspool-ansi-test.reg";
    ::DeleteFileW(file.c_str());
    os.WriteFileFlushed(file, std::vector<std::uint8_t>(text.begin(), text.end()));
    auto tool = os.Shell(backup::QuoteArgument(backup::JoinPath(os.SystemPath(), L"reg.exe")) + L" IMPORT " +
                             backup::QuoteArgument(file),
                         platform::vbMinimizedFocus);
    ASSERT_EQ(Wait(*tool), 0u);

    const backup::RegFile read = backup::ReadRegFile(os.ReadFileBytes(file));
    ASSERT_EQ(read.keys.size(), 2u);
    EXPECT_EQ(read.keys[1].path, kFullKey + L"\\" + c->wideName);
    ASSERT_EQ(read.keys[1].values.size(), 1u);
    EXPECT_EQ(read.keys[1].values[0].name, c->wideName);
    const std::wstring data = c->wideData + L'\0';
    EXPECT_EQ(read.keys[1].values[0].data,
              std::vector<std::uint8_t>(reinterpret_cast<const std::uint8_t*>(data.data()),
                                        reinterpret_cast<const std::uint8_t*>(data.data() + data.size())));
    const std::optional<platform::RegistryTree> imported = os.ReadRegistryTree(kFullKey);
    ASSERT_TRUE(imported);
    EXPECT_EQ(Describe(backup::CompareTrees(read.keys, *imported)), L"");
    ::DeleteFileW(file.c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\LarkSpoolTest");
}

// What a restore does: the key removed as a whole, then a tree written back; read back equal.
TEST(Registry, TreeWrittenBackReadsTheSame)
{
    Seed();
    Win32Os os;
    const std::optional<platform::RegistryTree> before = os.ReadRegistryTree(kFullKey);
    ASSERT_TRUE(before);
    os.DeleteRegistryTree(kFullKey);
    EXPECT_FALSE(os.ReadRegistryTree(kFullKey));
    os.DeleteRegistryTree(kFullKey); // nothing there: no failure
    os.WriteRegistryTree(*before);
    const std::optional<platform::RegistryTree> after = os.ReadRegistryTree(kFullKey);
    ASSERT_TRUE(after);
    EXPECT_EQ(Describe(backup::CompareTrees(*before, *after)), L"");
    EXPECT_EQ(backup::CountKeys(*after), 5u);
    EXPECT_THROW(os.WriteRegistryTree({{.path = L"HKEY_LOCAL_MACHINE\\Software\\X", .values = {}}}), platform::Failure);

    // Renamed in one step, with everything below it; a name that is taken is refused.
    os.RenameRegistryKey(kFullKey, L"Renamed");
    EXPECT_FALSE(os.ReadRegistryTree(kFullKey));
    const std::optional<platform::RegistryTree> renamed =
        os.ReadRegistryTree(L"HKCU\\Software\\LarkSpoolTest\\Renamed");
    ASSERT_TRUE(renamed);
    EXPECT_EQ(backup::CountValues(*renamed), backup::CountValues(*before));
    EXPECT_EQ(backup::CountKeys(*renamed), 5u);
    os.WriteRegistryTree({{.path = kFullKey, .values = {}}});
    EXPECT_THROW(os.RenameRegistryKey(L"HKCU\\Software\\LarkSpoolTest\\Renamed", L"Tree"), platform::Failure);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\LarkSpoolTest");
}

TEST(Registry, MissingKeyReadsAsNothing)
{
    Win32Os os;
    EXPECT_FALSE(os.ReadRegistryTree(L"HKCU\\Software\\NoSuchVendor\\NoSuchKey"));
    EXPECT_THROW(os.ReadRegistryTree(L"HKLM\\Software"), platform::Failure);
}

// A subkey that comes and goes while the key is read is either in the tree or not, and the read
// never fails for it. (It sorts after the others: one before them would shift their places in the
// enumeration, which no reader by index can help.)
TEST(Registry, AKeyDeletedWhileItIsReadIsLeftOut)
{
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\LarkSpoolTest");
    for (int group = 0; group < 20; ++group) {
        SetText(L"\\Group" + std::to_wstring(group), L"name", REG_SZ, L"value");
    }
    int withIt = 0;
    int without = 0;
    {
        std::atomic<bool> stop{false};
        const std::jthread flicker([&stop] {
            while (!stop) {
                SetText(L"\\ZFlicker", L"name", REG_SZ, L"value");
                ::RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kTestKey) + L"\\ZFlicker").c_str());
            }
        });
        Win32Os os;
        for (int read = 0; read < 100; ++read) {
            std::optional<platform::RegistryTree> tree;
            EXPECT_NO_THROW(tree = os.ReadRegistryTree(kFullKey)) << "read " << read;
            if (!tree) {
                ADD_FAILURE() << "read " << read << ": no key";
                break;
            }
            const auto found = std::find_if(tree->begin(), tree->end(), [](const platform::RegistryKey& key) {
                return key.path == kFullKey + L"\\ZFlicker";
            });
            (found == tree->end() ? without : withIt) += 1;
            EXPECT_EQ(tree->size(), found == tree->end() ? 21u : 22u) << "read " << read;
            EXPECT_LE(found == tree->end() ? 0u : found->values.size(), 1u) << "read " << read;
        }
        stop = true;
    }
    std::printf("The coming and going subkey was in %d reads, not in %d\n", withIt, without);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\LarkSpoolTest");
}

// A value that gains data between the key's sizes and the value's read: read whole or empty, and
// never past the buffer, also when the key held no data at all when it was sized.
TEST(Registry, AValueThatGrowsWhileItIsReadIsReadWhole)
{
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\LarkSpoolTest");
    const std::vector<BYTE> grown(4000, 0xA5);
    Set(L"", L"grows", REG_BINARY, nullptr, 0);
    std::map<std::size_t, int> sizes;
    {
        std::atomic<bool> stop{false};
        const std::jthread flicker([&stop, &grown] {
            while (!stop) {
                Set(L"", L"grows", REG_BINARY, grown.data(), grown.size());
                Set(L"", L"grows", REG_BINARY, nullptr, 0);
            }
        });
        Win32Os os;
        for (int read = 0; read < 300; ++read) {
            const std::optional<platform::RegistryTree> tree = os.ReadRegistryTree(kFullKey);
            ASSERT_TRUE(tree && tree->size() == 1 && tree->front().values.size() == 1) << "read " << read;
            const std::vector<std::uint8_t>& data = tree->front().values.front().data;
            EXPECT_TRUE(data.empty() || data == std::vector<std::uint8_t>(grown.begin(), grown.end()))
                << "read " << read << ": " << data.size() << " bytes";
            ++sizes[data.size()];
        }
        stop = true;
    }
    std::printf("The growing value was read empty %d times, whole %d times\n", sizes[0], sizes[grown.size()]);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\LarkSpoolTest");
}

// A count stored as a number by another tool is no text: the caller is told so, not stopped.
TEST(Registry, SettingOfAnotherTypeIsNotText)
{
    Win32Os os;
    const DWORD one = 1;
    HKEY key = nullptr;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\lsBundleTest\\TimesRun", 0, nullptr,
                      0, KEY_SET_VALUE, nullptr, &key, nullptr);
    ::RegSetValueExW(key, L"1", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    ::RegCloseKey(key);
    EXPECT_THROW(os.GetSetting(L"lsBundleTest", L"TimesRun", L"1"), platform::NotText);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\lsBundleTest");
}

std::wstring Sid(PSID sid)
{
    wchar_t* text = nullptr;
    ::ConvertSidToStringSidW(sid, &text);
    std::wstring result = text != nullptr ? text : L"";
    ::LocalFree(text);
    return result;
}

std::wstring CurrentUserSid()
{
    HANDLE token = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    const platform::win32::Handle owner(token);
    std::vector<BYTE> user(256);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size);
    return Sid(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
}

// The access list of a folder, as the SIDs it allows.
std::vector<std::wstring> Allowed(const std::wstring& folder)
{
    std::vector<BYTE> buffer(4096);
    DWORD needed = 0;
    std::vector<std::wstring> allowed;
    if (!::GetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, buffer.data(), static_cast<DWORD>(buffer.size()),
                            &needed)) {
        return allowed;
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted);
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (::GetAce(dacl, i, &ace) && static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            allowed.push_back(Sid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart));
        }
    }
    return allowed;
}

// A backup folder in C:\ is the user's alone (with SYSTEM and the administrators); an ordinary
// folder there lets every user in. Wine keeps the list as the folder's Unix permissions, so it
// shows the user and SYSTEM only.
TEST(Registry, BackupFolderIsPrivate)
{
    Win32Os os;
    const std::wstring drive = os.SystemPath().substr(0, 3);
    const std::wstring folder = drive + L"LarkspoolAclTest";
    const std::wstring ordinary = drive + L"LarkspoolAclOrdinary";
    ::RemoveDirectoryW(folder.c_str());
    ASSERT_TRUE(os.MakeNewDir(folder));
    ::CreateDirectoryW(ordinary.c_str(), nullptr);

    const std::vector<std::wstring> allowed = Allowed(folder);
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), CurrentUserSid()), allowed.end());
    for (const std::wstring& sid : allowed) {
        EXPECT_TRUE(sid == CurrentUserSid() || sid == L"S-1-5-18" || sid == L"S-1-5-32-544") << sid;
    }
    const std::vector<std::wstring> others = Allowed(ordinary);
    EXPECT_NE(std::find(others.begin(), others.end(), L"S-1-1-0"), others.end()) << "everyone, on an ordinary folder";
    ::RemoveDirectoryW(folder.c_str());
    ::RemoveDirectoryW(ordinary.c_str());
}

TEST(Registry, RemovingABackupThatHoldsOnlyItsDateStamp)
{
    Win32Os os;
    const std::wstring folder = os.SystemPath().substr(0, 3) + L"LarkspoolRemoveTest";
    os.MakeNewDir(folder);
    const std::wstring stamp = folder + L"\\Date Created.txt";
    os.AppendText(stamp, L"Date Created: 12-08-2026\r\n");
    os.SetAttr(stamp, platform::vbReadOnly);
    EXPECT_FALSE(os.RemoveEmptyDir(folder)) << "a folder with a file in it stays";
    os.RemoveFile(stamp);
    EXPECT_FALSE(os.FileExists(stamp));
    EXPECT_TRUE(os.RemoveEmptyDir(folder));
    EXPECT_THROW(os.RemoveFile(stamp), platform::Failure);
}

TEST(Registry, JobRunsOnAThreadOfItsOwn)
{
    Win32Os os;
    std::atomic<DWORD> thread{0};
    auto job = os.StartJob([&thread] {
        ::Sleep(100);
        thread = ::GetCurrentThreadId();
    });
    EXPECT_FALSE(job->Done());
    for (int i = 0; i < 100 && !job->Done(); ++i) {
        ::Sleep(20);
    }
    EXPECT_TRUE(job->Done());
    EXPECT_NE(thread.load(), ::GetCurrentThreadId());
}

} // namespace
