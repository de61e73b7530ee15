#include "backup/backup_paths.h"
#include "program.h"
#include "registry_samples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

TEST(SizeMonitor, KilobytesByThePattern)
{
    struct Case {
        std::uint64_t bytes;
        const wchar_t* text;
    };
    const Case cases[] = {
        {80, L".08"},  {512, L".5"},  {1300, L"1.27"},  {1536, L"1.5"},  {3072, L"3."},
        {1, L"."},     {5, L"."},     {6, L".01"},      {1024, L"1."},   {1048576, L"1024."},
        {128, L".13"}, {384, L".38"}, {10234, L"9.99"}, {10235, L"10."}, {2560000, L"2500."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(backup::FormatKilobytes(c.bytes, L"."), c.text) << c.bytes;
    }
    EXPECT_EQ(backup::FormatKilobytes(1300, L","), L"1,27");
    EXPECT_EQ(backup::FormatKilobytes(3072, L","), L"3,");
}

struct Monitor : ::testing::Test {
    fake::Os os;
    Program program{os};
    const std::wstring file = L"c:\\larkspool5\\larkspool5.reg";

    void SetUp() override
    {
        os.settings[L"lsBundle\\TimesRun\\1"] = L"5";
        program.Start();
        program.Export();
    }
    const platform::Control& label() { return program[L"Label2"]; }
    // How often a screen reader was told of the label's news.
    long Announced() const
    {
        const auto& calls = program.runtime.calls;
        return std::count(calls.begin(), calls.end(), L"Announce Label2");
    }
};

TEST_F(Monitor, ShowsTheSizeOnceTheFileHasGrown)
{
    program.Tick(); // the tool has not made the file yet
    EXPECT_FALSE(label().visible);
    EXPECT_EQ(os.files.count(file), 0u) << "a tick must never create the file";
    os.files[file] = "";
    program.Tick();
    EXPECT_FALSE(label().visible);
    os.files[file] = std::string(1300, 'x');
    program.Tick();
    EXPECT_TRUE(label().visible);
    EXPECT_EQ(label().caption, L"Size of LarkSpool 5.reg is: 1.27 kb");
    os.files[file] = std::string(2600, 'x');
    program.Tick();
    EXPECT_EQ(Announced(), 0) << "a growing size is no news";
}

TEST_F(Monitor, KeepsTheLastSizeWhenTheFileGoes)
{
    os.files[file] = std::string(512, 'x');
    program.Tick();
    os.files.erase(file);
    program.Tick();
    EXPECT_EQ(label().caption, L"Size of LarkSpool 5.reg is: .5 kb");
    EXPECT_EQ(os.files.count(file), 0u);
    os.folders.clear();
    program.Tick();
    EXPECT_EQ(label().caption, L"Size of LarkSpool 5.reg is: .5 kb");
}

TEST_F(Monitor, TinyFileShowsTheSeparatorAlone)
{
    os.decimal = L",";
    os.files[file] = "abc";
    program.Tick();
    EXPECT_EQ(label().caption, L"Size of LarkSpool 5.reg is: , kb");
}

TEST_F(Monitor, SecondExportKeepsMeasuringTheFirstFile)
{
    program.Export();
    os.files[L"c:\\larkspool6\\larkspool6.reg"] = std::string(3072, 'x');
    os.files[file] = std::string(1536, 'x');
    program.Tick();
    EXPECT_EQ(label().caption, L"Size of LarkSpool 5.reg is: 1.5 kb");
}

TEST_F(Monitor, FailedExportIsToldInTheLabel)
{
    *os.lastExit = 1;
    program.Tick();
    EXPECT_TRUE(label().visible);
    EXPECT_EQ(label().caption, L"Export failed: reg.exe ended with code 1");
    program.Tick();
    EXPECT_EQ(Announced(), 1) << "told once, when it came";
}

// A key that cannot be read is a likely reason for the tool to fail: the failure is still told.
TEST_F(Monitor, FailedExportIsToldWhenTheKeyCannotBeLookedUp)
{
    os.failing = L"RegistryKeyExists";
    *os.lastExit = 5;
    program.Tick();
    EXPECT_TRUE(label().visible);
    EXPECT_EQ(label().caption, L"Export failed: reg.exe ended with code 5");
    EXPECT_EQ(os.folders.count(L"c:\\larkspool5"), 1u);
}

TEST_F(Monitor, MissingKeyIsToldAndLeavesNoFolder)
{
    os.registryKeys.clear();
    *os.lastExit = 1;
    program.Tick();
    program.Tick();
    EXPECT_EQ(label().caption, L"Nothing to back up: HKCU\\Software\\Zephrix\\Wrenlet2 does not exist");
    EXPECT_EQ(os.folders.count(L"c:\\larkspool5"), 0u);
    EXPECT_EQ(os.files.count(L"c:\\larkspool5\\date created.txt"), 0u);
    EXPECT_EQ(program.form->timesRun(), L"6") << "the title and counter stay as for any export";
    // A new export starts afresh, and the caption follows it: the first one made no file.
    os.registryKeys.insert(L"hkcu\\software\\zephrix\\wrenlet2");
    program.Export();
    os.files[L"c:\\larkspool6\\larkspool6.reg"] = std::string(1024, 'x');
    program.Tick();
    EXPECT_EQ(label().caption, L"Size of LarkSpool 6.reg is: 1. kb");
}

// Something besides the date stamp is in the folder: it is left as it is.
TEST_F(Monitor, MissingKeyKeepsAFolderThatHoldsMore)
{
    os.registryKeys.clear();
    os.files[file] = "half";
    *os.lastExit = 1;
    program.Tick();
    EXPECT_EQ(os.folders.count(L"c:\\larkspool5"), 1u);
    EXPECT_EQ(os.files.count(file), 1u);
}

using samples::AddOnKey;
using samples::Sz;

const std::string kBackup = samples::Regedit4(AddOnKey());

struct Checked : Monitor {
    void SetUp() override
    {
        os.addOnTree = AddOnKey();
        Monitor::SetUp();
    }
    void Exported(const std::string& bytes)
    {
        os.files[file] = bytes;
        *os.lastExit = 0;
        program.Tick();
    }
    std::wstring Size() const
    {
        return L"Size of LarkSpool 5.reg is: " + backup::FormatKilobytes(os.files.at(file).size(), L".") + L" kb";
    }
};

TEST_F(Checked, BackupEqualToTheKeyIsCalledChecked)
{
    Exported(kBackup);
    EXPECT_EQ(label().caption, Size() + L" (3 values checked)");
    EXPECT_EQ(program[L"Label3"].caption, L"Right-click for your backups.");
    // A later export's check, copies off: the size caption names the first file, this line the later one.
    program.Export();
    os.files[L"c:\\larkspool6\\larkspool6.reg"] = kBackup;
    *os.lastExit = 0;
    program.Tick();
    program.Tick();
    EXPECT_EQ(program[L"Label3"].caption, L"Larkspool6.reg: 3 values checked");
    EXPECT_TRUE(program[L"Label3"].visible);
}

// With copies on, the copy is told on a line of its own; one that fails leaves "checked" standing.
TEST_F(Checked, CopyIsToldBesideTheCheck)
{
    os.settings[L"lsBundle\\Copies\\Folder"] = L"E:\\Copies"; // the stick is not plugged in
    Exported(kBackup);
    program.Tick();
    EXPECT_EQ(label().caption, Size() + L" (3 values checked)");
    EXPECT_TRUE(program[L"Label3"].visible);
    EXPECT_EQ(program[L"Label3"].caption, L"copy not made: E:\\ is not ready");
    os.folders.insert(L"e:\\copies");
    program.Export();
    os.files[L"c:\\larkspool6\\larkspool6.reg"] = kBackup;
    *os.lastExit = 0;
    program.Tick();
    program.Tick();
    EXPECT_EQ(program[L"Label3"].caption, L"Larkspool6.reg: 3 values checked, copy kept");
    EXPECT_EQ(os.files.at(L"e:\\copies\\homepc\\larkspool6\\larkspool6.reg"), kBackup);
    EXPECT_EQ(label().caption, Size() + L" (3 values checked)");

    // A copy under way is looked at often, not only at the size's tick.
    os.holdJobs = true;
    program.Export();
    os.files[L"c:\\larkspool7\\larkspool7.reg"] = kBackup;
    *os.lastExit = 0;
    program.Tick();
    os.RunJobs(); // the check
    program.Tick();
    EXPECT_TRUE(program[L"tmrCopy"].enabled);
    os.RunJobs();
    program.form->Fire(L"tmrCopy", L"Timer");
    EXPECT_EQ(program[L"Label3"].caption, L"Larkspool7.reg: 3 values checked, copy kept");
    EXPECT_FALSE(program[L"tmrCopy"].enabled);
}

// A file changed after its check is no longer the file that was checked.
TEST_F(Checked, FileChangedSinceItsCheckIsNotCalledChecked)
{
    Exported(kBackup);
    program.Tick();
    EXPECT_EQ(Announced(), 1) << "\"checked\" is told once";
    os.files[file] += std::string(3000, '\0');
    program.Tick();
    EXPECT_EQ(label().caption, Size());
    EXPECT_EQ(Announced(), 1);
}

// The window tells "checked" only once the check, which runs off its thread, has ended.
TEST_F(Checked, NothingIsCalledCheckedBeforeTheCheckEnds)
{
    os.holdJobs = true;
    Exported(kBackup);
    EXPECT_EQ(label().caption, Size());
    program.Tick();
    EXPECT_EQ(label().caption, Size());
    os.RunJobs();
    program.Tick();
    EXPECT_EQ(label().caption, Size() + L" (3 values checked)");
}

// The size label after one export whose tool ended with code 0 and left these bytes.
std::wstring LabelAfterExport(const platform::RegistryTree& key, const std::string& bytes)
{
    fake::Os os;
    os.settings[L"lsBundle\\TimesRun\\1"] = L"5";
    os.addOnTree = key;
    Program program(os);
    program.Start();
    program.Export();
    os.files[L"c:\\larkspool5\\larkspool5.reg"] = bytes;
    *os.lastExit = 0;
    program.Tick();
    return program[L"Label2"].caption;
}

TEST(CheckedExport, BackupThatDiffersOrIsUnreadableIsNeverCalledChecked)
{
    struct Case {
        const char* what;
        std::function<void(platform::RegistryTree&)> change;
        std::string bytes;
        const wchar_t* text;
    };
    const std::string backup = kBackup;
    const Case cases[] = {
        {"a value added to the key since", [](auto& key) { key[1].values.push_back(Sz(L"carol@x", L"C")); }, backup,
         L"Backup differs from the registry: 1 value missing"},
        {"a value changed and one gone",
         [](auto& key) {
             key[1].values[0] = Sz(L"alice@example.org", L"Alice (work)");
             key[1].values.pop_back();
         },
         backup, L"Backup differs from the registry: 1 extra, 1 changed"},
        {"a subkey with two values added",
         [](auto& key) {
             key.push_back({.path = key[0].path + L"\\Groups", .values = {Sz(L"a", L"1"), Sz(L"b", L"2")}});
         },
         backup, L"Backup differs from the registry: 3 values missing"},
        {"half a file", [](auto&) {}, backup.substr(0, backup.find("\"bob")),
         L"Backup differs from the registry: 1 value missing"},
        {"a file cut inside a string", [](auto&) {}, backup.substr(0, backup.find("Bobby") + 2),
         L"Backup unreadable: line 8: unterminated string"},
        {"an empty file", [](auto&) {}, "", L"Backup unreadable: line "},
        {"a header alone", [](auto&) {}, "REGEDIT4\r\n",
         L"Not a backup of HKCU\\Software\\Zephrix\\Wrenlet2: it writes nothing of that key"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::RegistryTree key = AddOnKey();
        c.change(key);
        const std::wstring label = LabelAfterExport(key, c.bytes);
        EXPECT_EQ(label.rfind(c.text, 0), 0u) << std::string(label.begin(), label.end());
        EXPECT_EQ(label.find(L"checked"), std::wstring::npos);
    }
}

// The caption follows the first export; a later export whose check fails is told by its name.
TEST_F(Checked, LaterExportThatFailsItsCheckIsTold)
{
    Exported(kBackup);
    program.Export();
    os.files[L"c:\\larkspool6\\larkspool6.reg"] = "REGEDIT4\r\n\r\n\"Version\"=\"2.0\"\r\n";
    *os.lastExit = 0;
    program.Tick();
    EXPECT_EQ(label().caption, L"Larkspool6.reg: Backup unreadable: line 3: value before the first key");
}

TEST_F(Checked, LaterExportThatChecksOutLeavesTheCaptionOnTheFirstFile)
{
    os.holdJobs = true;
    Exported(kBackup);
    program.Export();
    os.files[L"c:\\larkspool6\\larkspool6.reg"] = kBackup;
    *os.lastExit = 0;
    program.Tick();
    EXPECT_EQ(label().caption, Size()) << "neither file is checked yet";
    os.RunJobs();
    program.Tick();
    EXPECT_EQ(label().caption, Size() + L" (3 values checked)");
}

} // namespace
