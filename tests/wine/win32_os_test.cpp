// The Win32 side of the operating system, under Wine: real registry, files and processes.
#include "backup/backup_paths.h"
#include "backup/schedule.h"
#include "platform/win32/handles.h"
#include "platform/win32/os_win32.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cwctype>
#include <functional>
#include <memory>
#include <regex>
#include <stdexcept>
#include <vector>

namespace {

using platform::win32::Win32Os;

std::wstring TempFolder()
{
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + L"larkspool-test-" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::string ReadBytes(const std::wstring& path)
{
    platform::win32::FileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes(4096, '\0');
    DWORD read = 0;
    ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

TEST(Win32Os, SettingsLiveWhereGetSettingAlwaysKeptThem)
{
    Win32Os os;
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\lsBundleTest");
    EXPECT_EQ(os.GetSetting(L"lsBundleTest", L"TimesRun", L"1"), L"");
    os.SaveSetting(L"lsBundleTest", L"TimesRun", L"1", L"42");
    EXPECT_EQ(os.GetSetting(L"lsBundleTest", L"TimesRun", L"1"), L"42");

    wchar_t raw[16] = L"";
    DWORD size = sizeof raw;
    ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\lsBundleTest\\TimesRun", L"1",
                             RRF_RT_REG_SZ, nullptr, raw, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(raw, L"42");
    os.DeleteSetting(L"lsBundleTest", L"TimesRun");
    os.DeleteSetting(L"lsBundleTest", L"TimesRun"); // gone already: no failure
    EXPECT_EQ(os.GetSetting(L"lsBundleTest", L"TimesRun", L"1"), L"");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\lsBundleTest");
}

TEST(Win32Os, RegistryKeyExists)
{
    Win32Os os;
    EXPECT_TRUE(os.RegistryKeyExists(L"HKCU\\Software"));
    EXPECT_FALSE(os.RegistryKeyExists(L"HKCU\\Software\\NoSuchVendor\\NoSuchKey"));
}

TEST(Win32Os, FoldersAndFiles)
{
    Win32Os os;
    const std::wstring folder = TempFolder() + L"\\Larkspool5";
    EXPECT_TRUE(os.MakeNewDir(folder));
    EXPECT_FALSE(os.MakeNewDir(folder));
    EXPECT_THROW(os.MakeNewDir(folder + L"\\missing\\deeper"), platform::Failure);

    const std::wstring file = folder + L"\\Date Created.txt";
    EXPECT_THROW(os.FileLen(file), platform::Failure);
    EXPECT_FALSE(os.FileExists(file)) << "measuring must not create the file";

    os.AppendText(file, L"Date Created: 12-07-2026\r\n");
    os.AppendText(file, L"Time Created: 3:04:05 PM\r\n");
    EXPECT_EQ(ReadBytes(file), "Date Created: 12-07-2026\r\nTime Created: 3:04:05 PM\r\n");
    EXPECT_EQ(os.FileLen(file), 52u);
    os.SetAttr(file, platform::vbReadOnly);
    EXPECT_NE(::GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    try {
        os.AppendText(folder + L"\\gone\\Date Created.txt", L"text");
        FAIL() << "a file was written into a missing folder";
    } catch (const platform::Failure& failure) {
        EXPECT_NE(failure.text().find(folder + L"\\gone"), std::wstring::npos);
    }
    // A backup folder goes whole, its read-only date stamp and a folder inside it included.
    EXPECT_TRUE(os.MakeNewDir(folder + L"\\inside"));
    os.AppendText(folder + L"\\inside\\note.txt", L"x");
    os.RemoveFolder(folder);
    EXPECT_EQ(::GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_THROW(os.RemoveFolder(folder), platform::Failure);
}

// A job's failure comes back where the job is looked at, instead of ending the program; a job let
// go is not waited for.
TEST(Win32Os, JobsTellTheirFailureAndCanBeLetGo)
{
    Win32Os os;
    std::unique_ptr<platform::Job> failing = os.StartJob([] { throw std::runtime_error("out of luck"); });
    while (true) {
        try {
            if (failing->Done()) {
                FAIL() << "the failure was not told";
                break;
            }
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "out of luck");
            break;
        }
        ::Sleep(1);
    }
    EXPECT_TRUE(failing->Done()) << "told once";
    auto release = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<platform::Job> slow = os.StartJob([release] {
        while (!*release) {
            ::Sleep(1);
        }
    });
    const DWORD start = ::GetTickCount();
    slow->LetGo();
    slow.reset();
    EXPECT_LT(::GetTickCount() - start, 100u);
    *release = true;
}

// A folder's real path, however it is spelt: letter case, "." and "..", a short 8.3 name; without
// the system's \\?\ prefix. (Links are followed as well: Wine has no junctions of its own, the
// end-to-end test makes one.)
TEST(Win32Os, RealPathOfAFolder)
{
    Win32Os os;
    const std::wstring base = TempFolder();
    const std::wstring folder = base + L"\\Larkspool8\\Copies";
    ::CreateDirectoryW((base + L"\\Larkspool8").c_str(), nullptr);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ::CreateDirectoryW((base + L"\\Other").c_str(), nullptr);
    const std::wstring real = os.FinalPath(base) + L"\\Larkspool8\\Copies";
    EXPECT_EQ(real.rfind(L"\\\\?\\", 0), std::wstring::npos);
    EXPECT_EQ(real[1], L':');
    wchar_t shortName[MAX_PATH];
    ASSERT_NE(::GetShortPathNameW(folder.c_str(), shortName, MAX_PATH), 0u);
    std::wstring upper = folder;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    for (const std::wstring& spelt :
         {folder, upper, base + L"\\Other\\..\\.\\Larkspool8\\Copies", std::wstring(shortName)}) {
        EXPECT_EQ(os.FinalPath(spelt), real) << std::string(spelt.begin(), spelt.end());
    }
    EXPECT_NE(std::wstring(shortName).find(L'~'), std::wstring::npos) << "a short name that differs";
    try {
        os.FinalPath(base + L"\\Missing");
        FAIL() << "a missing folder has no real path";
    } catch (const platform::Failure& failure) {
        EXPECT_EQ(failure.subject(), base + L"\\Missing");
    }
}

// The reads a copy takes its bytes and its read-back with: whole files of every length, the
// unbuffered one in whole sectors; both refused while another program has the file open for
// writing, as the registry tool has its export.
TEST(Win32Os, ReadsWithoutWritersAndPastTheCache)
{
    Win32Os os;
    const std::wstring folder = TempFolder();
    for (const std::size_t length : {0u, 1u, 4095u, 4096u, 65537u, (1u << 20) + 3u}) {
        const std::wstring file = folder + L"\\read" + std::to_wstring(length) + L".reg";
        std::vector<std::uint8_t> bytes(length);
        for (std::size_t i = 0; i < length; ++i) {
            bytes[i] = static_cast<std::uint8_t>(i * 7 + length);
        }
        ::DeleteFileW(file.c_str());
        os.WriteFileFlushed(file, bytes);
        EXPECT_EQ(os.ReadFileUnbuffered(file), bytes) << length;
        EXPECT_EQ(os.ReadFileNoWriter(file), bytes) << length;
        ::DeleteFileW(file.c_str());
    }
    const std::wstring file = folder + L"\\being written.reg";
    const platform::win32::FileHandle writer(::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_THROW(os.ReadFileNoWriter(file), platform::Failure);
    EXPECT_THROW(os.ReadFileUnbuffered(file), platform::Failure);
    EXPECT_NO_THROW(os.ReadFileBytes(file)) << "an ordinary read shares with the writer";
    EXPECT_NE(os.ProcessId(), 0u);
}

TEST(Win32Os, MeasuringDoesNotLockTheFile)
{
    Win32Os os;
    const std::wstring file = TempFolder() + L"\\growing.reg";
    platform::win32::FileHandle writer(
        ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    DWORD written = 0;
    ::WriteFile(writer.get(), "0123456789", 10, &written, nullptr);
    EXPECT_EQ(os.FileLen(file), 10u) << "another process holding the file without sharing";
    writer.reset();
    ::DeleteFileW(file.c_str());
}

TEST(Win32Os, PathsOfTheProgramAndTheSystem)
{
    Win32Os os;
    const std::wstring app = os.AppPath();
    ASSERT_GE(app.size(), 3u);
    EXPECT_NE(app.back(), L'\\');
    EXPECT_TRUE(os.FileExists(backup::JoinPath(os.SystemPath(), L"reg.exe")));
}

TEST(Win32Os, ShellStartsWithoutWaitingAndReportsTheExitCode)
{
    Win32Os os;
    auto process = os.Shell(backup::QuoteArgument(backup::JoinPath(os.SystemPath(), L"cmd.exe")) + L" /c exit 3",
                            platform::vbMinimizedFocus);
    std::optional<std::uint32_t> code;
    for (int i = 0; i < 200 && !code; ++i) {
        ::Sleep(50);
        code = process->ExitCode();
    }
    EXPECT_EQ(code, 3u);
    try {
        os.Shell(L"C:\\no\\such\\program.exe", platform::vbNormalFocus);
        FAIL() << "a missing program started";
    } catch (const platform::Failure& failure) {
        EXPECT_NE(failure.text().find(L"C:\\no\\such\\program.exe"), std::wstring::npos);
    }
}

TEST(Win32Os, DateAndTimeTexts)
{
    Win32Os os;
    const std::wstring date = os.DateText();
    EXPECT_TRUE(std::regex_match(std::string(date.begin(), date.end()), std::regex("[01][0-9]-[0-3][0-9]-[0-9]{4}")));
    EXPECT_FALSE(os.TimeText().empty());
    EXPECT_FALSE(os.DecimalSeparator().empty());
}

// The Task Scheduler of the user registers, replaces, finds by name and deletes a task. Wine 8's
// keeps no triggers and no command; where they are kept, they are the ones registered.
TEST(Win32Os, TasksRegisteredReplacedFoundAndDeleted)
{
    if (std::getenv("LARKSPOOL_NO_SCHEDULER") != nullptr) {
        GTEST_SKIP() << "the Task Scheduler is out of reach";
    }
    Win32Os os;
    const std::wstring name = L"LarkSpool test task";
    const std::wstring program = L"C:\\Program Files\\Ларк Spool\\LarkSpool.exe";
    os.DeleteTask(backup::kTaskFolder, name);
    EXPECT_EQ(os.ReadTask(backup::kTaskFolder, name), std::nullopt);
    for (const backup::Schedule& schedule :
         {backup::Schedule{}, backup::Schedule{backup::Schedule::Kind::Daily, 0, 9, 30}}) {
        os.RegisterTask(backup::kTaskFolder, name, backup::TaskXml(schedule, program, os.UserSid()));
        const std::optional<std::wstring> xml = os.ReadTask(backup::kTaskFolder, name);
        ASSERT_TRUE(xml.has_value());
        if (const std::optional<backup::Schedule> kept = backup::ScheduleFromXml(*xml)) {
            EXPECT_EQ(*kept, schedule);
        }
        if (const std::wstring command = backup::ProgramFromXml(*xml); !command.empty()) {
            EXPECT_EQ(command, program);
        }
    }
    os.DeleteTask(backup::kTaskFolder, name);
    EXPECT_EQ(os.ReadTask(backup::kTaskFolder, name), std::nullopt);
    os.DeleteTask(backup::kTaskFolder, name); // gone already: no failure
}

// Run with the Task Scheduler's DLL switched off (LARKSPOOL_NO_SCHEDULER): each operation says so.
TEST(Win32Os, TaskSchedulerOutOfReach)
{
    if (std::getenv("LARKSPOOL_NO_SCHEDULER") == nullptr) {
        GTEST_SKIP() << "the Task Scheduler is there";
    }
    Win32Os os;
    for (const auto& operation : std::vector<std::function<void()>>{
             [&os] { os.RegisterTask(backup::kTaskFolder, L"LarkSpool test task", L"<Task/>"); },
             [&os] { os.ReadTask(backup::kTaskFolder, L"LarkSpool test task"); },
             [&os] { os.DeleteTask(backup::kTaskFolder, L"LarkSpool test task"); }}) {
        try {
            operation();
            FAIL() << "the Task Scheduler answered";
        } catch (const platform::Failure& failure) {
            EXPECT_NE(failure.text().find(L"the Task Scheduler"), std::wstring::npos);
            EXPECT_FALSE(failure.reason().empty());
        }
    }
}

// The program's quoting and the platform's parser agree on every argument.
TEST(Win32Os, QuotedArgumentsComeBackUnchanged)
{
    const std::wstring arguments[] = {
        L"C:\\My Tools\\reg.exe",          L"C:\\", L"a\\\\b", L"say \"hi\"", L"trailing\\", L"\\\"", L"", L"tab\there",
        L"C:\\Program Files\\a&b|c>d.reg",
    };
    for (const std::wstring& argument : arguments) {
        const std::wstring line = L"program.exe " + backup::QuoteArgument(argument);
        int count = 0;
        wchar_t** parsed = ::CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(parsed, nullptr);
        EXPECT_EQ(count, 2) << std::string(line.begin(), line.end());
        if (count == 2) {
            EXPECT_EQ(std::wstring(parsed[1]), argument);
        }
        ::LocalFree(parsed);
    }
}

} // namespace

namespace {

// The test program carries the same resources as LarkSpool.exe.
TEST(Resources, VersionRecord)
{
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD ignored = 0;
    std::vector<BYTE> data(::GetFileVersionInfoSizeW(path, &ignored));
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(::GetFileVersionInfoW(path, 0, static_cast<DWORD>(data.size()), data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000013u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020001u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000013u);

    const std::pair<const wchar_t*, const wchar_t*> texts[] = {
        {L"Comments", L"Backs Up Custom Names"}, {L"FileDescription", L"Backs Up Custom Names from Wrenlet!2"},
        {L"FileVersion", L"2.01.0019"},          {L"ProductVersion", L"2.01.0019"},
        {L"ProductName", L"lsBundle"},           {L"InternalName", L"LarkSpool"},
        {L"OriginalFilename", L"LarkSpool.exe"},
    };
    for (const auto& [name, expected] : texts) {
        wchar_t* value = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        ASSERT_TRUE(::VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length));
        EXPECT_STREQ(value, expected);
    }
}

TEST(Resources, IconHasThreeImages)
{
    HRSRC group = ::FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    const auto* header = static_cast<const WORD*>(::LockResource(::LoadResource(nullptr, group)));
    EXPECT_EQ(header[2], 3); // idCount
}

} // namespace
