#include "app/command_line.h"
#include "backup/backup_paths.h"
#include "backup/copies.h"
#include "fake_os.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct Copying : ::testing::Test {
    fake::Os os;
    const std::string reg = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2]\r\n";
    const std::string stamp = "Date Created: 12-07-2026\r\nTime Created: 3:04:05 PM\r\n";
    const std::wstring target = L"e:\\copies\\homepc\\larkspool5\\larkspool5.reg";
    const std::wstring targetStamp = L"e:\\copies\\homepc\\larkspool5\\date created.txt";

    void SetUp() override
    {
        os.folders = {L"c:\\larkspool5", L"e:\\copies"};
        os.files[L"c:\\larkspool5\\larkspool5.reg"] = reg;
        os.files[L"c:\\larkspool5\\date created.txt"] = stamp;
        os.settings[L"lsBundle\\Copies\\Folder"] = L"E:\\Copies";
    }
    bool TemporaryLeft() const
    {
        for (const auto& [path, bytes] : os.files) {
            if (path.find(L".4242.larkspool-copy") != std::wstring::npos) {
                return true;
            }
        }
        return false;
    }
};

// Each failure point: the copy is told as not made, nothing half written stays, an existing
// file is never overwritten; what the device holds is what is compared.
TEST_F(Copying, CopyIsCompleteOrNotMade)
{
    struct Case {
        const char* what;
        std::function<void(Copying&)> arrange;
        bool kept;
        std::wstring text;
        std::wstring detail;
    };
    const Case cases[] = {
        {"copied", [](Copying&) {}, true, L"copy kept", L""},
        {"the same files there already",
         [](Copying& c) {
             c.os.folders.insert(L"e:\\copies\\homepc");
             c.os.folders.insert(L"e:\\copies\\homepc\\larkspool5");
             c.os.files[c.target] = c.reg;
             c.os.files[c.targetStamp] = c.stamp;
         },
         true, L"copy kept", L""},
        {"the stick is not plugged in", [](Copying& c) { c.os.folders.erase(L"e:\\copies"); }, false,
         L"copy not made: E:\\ is not ready", L"E:\\Copies\\HOMEPC: The system cannot find the path specified."},
        {"the copies folder is gone from the stick",
         [](Copying& c) {
             c.os.folders.erase(L"e:\\copies");
             c.os.folders.insert(L"e:\\photos");
         },
         false, L"copy not made: the copies folder is missing",
         L"E:\\Copies\\HOMEPC: The system cannot find the path specified."},
        {"writing fails",
         [](Copying& c) {
             c.os.failing = L"WriteFileFlushed";
             c.os.failingAfter = 1; // the file, then its stamp
         },
         false, L"copy not made: The device is not ready.",
         L"E:\\Copies\\HOMEPC\\Larkspool5\\Date Created.txt.4242.LarkSpool-copy: The device is not ready."},
        {"reading back fails", [](Copying& c) { c.os.failing = L"ReadFileUnbuffered"; }, false,
         L"copy not made: The device is not ready.",
         L"E:\\Copies\\HOMEPC\\Larkspool5\\Larkspool5.reg.4242.LarkSpool-copy: The device is not ready."},
        {"the device holds other bytes than the cache",
         [](Copying& c) { c.os.onDevice = [](const std::wstring&, std::string& bytes) { bytes[0] = 'X'; }; }, false,
         L"copy not made: it read back different",
         L"E:\\Copies\\HOMEPC\\Larkspool5\\Larkspool5.reg.4242.LarkSpool-copy read back differs"},
        {"the rename fails", [](Copying& c) { c.os.failing = L"RenameFile"; }, false,
         L"copy not made: The device is not ready.",
         L"E:\\Copies\\HOMEPC\\Larkspool5\\Larkspool5.reg.4242.LarkSpool-copy "
         L"E:\\Copies\\HOMEPC\\Larkspool5\\Larkspool5.reg: The device is not ready."},
        {"another LarkSpool renames the same copy into place first",
         [](Copying& c) {
             c.os.onDevice = [&c](const std::wstring& path, std::string&) {
                 if (path == c.target + L".4242.larkspool-copy") {
                     c.os.files[c.target] = c.reg;
                 }
             };
         },
         true, L"copy kept", L""},
        {"an older LarkSpool writes the same copy under its one temporary name",
         [](Copying& c) {
             c.os.folders.insert(L"e:\\copies\\homepc");
             c.os.folders.insert(L"e:\\copies\\homepc\\larkspool5");
             c.os.files[c.target + L".larkspool-copy"] = c.reg.substr(0, 9);
             c.os.locked.insert(c.target + L".larkspool-copy");
         },
         true, L"copy kept", L""},
        {"the copies folder has come to lie in a backup folder through a junction",
         [](Copying& c) {
             c.os.folders.insert(L"c:\\larkspool5\\copies");
             c.os.links[L"e:\\copies"] = L"c:\\larkspool5\\copies";
         },
         false, L"copy not made: the folder is in C:\\Larkspool5",
         L"E:\\Copies: it lies in C:\\Larkspool5, a backup folder that Delete and /keep remove whole"},
        {"a path too long for the system",
         [](Copying& c) {
             c.os.settings[L"lsBundle\\Copies\\Folder"] = L"E:\\Copies\\" + std::wstring(180, L'x');
             c.os.folders.insert(L"e:\\copies\\" + std::wstring(180, L'x'));
         },
         false, L"copy not made: the folder's path is too long",
         L"E:\\Copies\\" + std::wstring(180, L'x') +
             L": its path is too long: copies in it have paths of up to 267 characters, and the system opens 259 "
             L"at most"},
        {"another file of that name",
         [](Copying& c) {
             c.os.folders.insert(L"e:\\copies\\homepc");
             c.os.folders.insert(L"e:\\copies\\homepc\\larkspool5");
             c.os.files[c.target] = "other";
         },
         false, L"copy not made: a different Larkspool5.reg is there",
         L"E:\\Copies\\HOMEPC\\Larkspool5\\Larkspool5.reg exists and differs; it is not overwritten"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        os = fake::Os();
        Copying::SetUp();
        c.arrange(*this);
        const bool differentThere = os.files.count(target) != 0 && os.files[target] != reg;
        const std::optional<backup::CopyOutcome> copy = backup::CopyBackup(os, L"5");
        ASSERT_TRUE(copy);
        EXPECT_EQ(copy->kept, c.kept);
        EXPECT_EQ(copy->text, c.text);
        EXPECT_EQ(copy->detail, c.detail);
        EXPECT_FALSE(TemporaryLeft());
        if (c.kept) {
            EXPECT_EQ(os.files[target], reg);
            EXPECT_EQ(os.files[targetStamp], stamp);
        }
        if (differentThere) {
            EXPECT_EQ(os.files[target], "other");
        }
    }
    os.settings.erase(L"lsBundle\\Copies\\Folder");
    EXPECT_FALSE(backup::CopyBackup(os, L"5")) << "copies are off";
}

// Missing copies are made for the backups that check out now, none twice, never over a different
// file: one still being written or held by another program waits for the next time, without
// keeping the others from being copied; a copy whose date stamp failed is made whole.
TEST_F(Copying, CatchingUp)
{
    os.folders.insert(L"c:\\larkspool6");
    os.files[L"c:\\larkspool6\\larkspool6.reg"] = reg.substr(0, 20); // unreadable
    os.folders.insert(L"c:\\larkspool7");
    os.files[L"c:\\larkspool7\\larkspool7.reg"] = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Classes\\.bmp]\r\n";
    for (const wchar_t* number : {L"8", L"9", L"10", L"11"}) {
        os.folders.insert(fake::Lower(backup::BackupFolder(number)));
        os.files[fake::Lower(backup::BackupFile(number))] = reg;
        os.files[fake::Lower(backup::DateStampFile(number))] = stamp;
    }
    os.folders.insert(L"e:\\copies\\homepc");
    os.folders.insert(L"e:\\copies\\homepc\\larkspool8");
    os.files[L"e:\\copies\\homepc\\larkspool8\\larkspool8.reg"] = "another file";
    os.beingWritten.insert(L"c:\\larkspool9\\larkspool9.reg");
    os.locked.insert(L"c:\\larkspool10\\larkspool10.reg");
    os.folders.insert(L"e:\\copies\\homepc\\larkspool11");
    os.files[L"e:\\copies\\homepc\\larkspool11\\larkspool11.reg"] = reg; // its date stamp's copy failed
    EXPECT_EQ(backup::CopyState(os, L"11"), L"missing");
    const std::atomic<bool> never{false};
    EXPECT_EQ(backup::CatchUpCopies(os, never), 2u);
    EXPECT_EQ(os.files.at(target), reg);
    EXPECT_EQ(os.files.at(L"e:\\copies\\homepc\\larkspool11\\date created.txt"), stamp);
    EXPECT_EQ(backup::CopyState(os, L"11"), L"kept");
    for (const wchar_t* number : {L"6", L"7", L"9", L"10"}) {
        EXPECT_EQ(os.folders.count(L"e:\\copies\\homepc\\larkspool" + std::wstring(number)), 0u);
    }
    EXPECT_EQ(os.files.at(L"e:\\copies\\homepc\\larkspool8\\larkspool8.reg"), "another file");
    os.beingWritten.clear();
    os.locked.clear();
    EXPECT_EQ(backup::CatchUpCopies(os, never), 2u) << "the backups that were busy, the next time";
    const std::size_t writes = os.CallsNamed(L"WriteFileFlushed").size();
    EXPECT_EQ(backup::CatchUpCopies(os, never), 0u);
    EXPECT_EQ(os.CallsNamed(L"WriteFileFlushed").size(), writes) << "none twice";
}

// /list merges the copies: a backup on C: and its copy are one row; copies only, of this computer
// and then of others, rows of their own, each naming where its file lies.
TEST_F(Copying, ListMergesTheCopies)
{
    const std::atomic<bool> never{false};
    backup::CatchUpCopies(os, never); // backup 5 and its copy
    for (const wchar_t* folder :
         {L"e:\\copies\\homepc\\larkspool4", L"e:\\copies\\oldpc", L"e:\\copies\\oldpc\\larkspool5"}) {
        os.folders.insert(folder);
    }
    os.files[L"e:\\copies\\homepc\\larkspool4\\larkspool4.reg"] = reg;
    os.files[L"e:\\copies\\oldpc\\larkspool5\\larkspool5.reg"] = reg;
    EXPECT_EQ(app::RunCommand(os, app::ParseCommandLine({L"/list"})), app::kExitOk);
    ASSERT_EQ(os.printed.size(), 3u);
    const auto cells = [](const std::wstring& line) {
        return std::pair(line.substr(0, line.find(L'\t')), line.substr(line.rfind(L'\t') + 1));
    };
    EXPECT_EQ(cells(os.printed[0]), std::pair(std::wstring(L"5"), std::wstring(L"C:\\Larkspool5\\Larkspool5.reg")));
    EXPECT_EQ(cells(os.printed[1]),
              std::pair(std::wstring(L"4 (copy)"), std::wstring(L"E:\\Copies\\homepc\\Larkspool4\\Larkspool4.reg")));
    EXPECT_EQ(cells(os.printed[2]),
              std::pair(std::wstring(L"5 (oldpc)"), std::wstring(L"E:\\Copies\\oldpc\\Larkspool5\\Larkspool5.reg")));
}

// /copies: shown, set after a write test, turned off; /backup tells the copy and exits 6 when it
// failed though the backup checked out.
TEST_F(Copying, CommandLine)
{
    const auto run = [this](std::vector<std::wstring> arguments) {
        os.printed.clear();
        return app::RunCommand(os, app::ParseCommandLine(arguments));
    };
    EXPECT_EQ(run({L"/copies"}), app::kExitOk);
    EXPECT_EQ(os.printed, std::vector<std::wstring>{L"E:\\Copies"});
    EXPECT_EQ(run({L"/copies", L"F:\\Nowhere"}), app::kExitUsage);
    EXPECT_EQ(os.printed.at(0).rfind(L"Copies are not kept in F:\\Nowhere: ", 0), 0u);
    EXPECT_EQ(os.settings[L"lsBundle\\Copies\\Folder"], L"E:\\Copies");
    os.folders.insert(L"f:\\stick");
    EXPECT_EQ(run({L"/copies", L"F:\\Stick"}), app::kExitOk);
    EXPECT_EQ(os.settings[L"lsBundle\\Copies\\Folder"], L"F:\\Stick");
    EXPECT_EQ(os.files.count(L"f:\\stick\\larkspool write test.4242.tmp"), 0u) << "the write test leaves nothing";
    // Left by write tests that were cut off: an older LarkSpool's, and one of this process's id.
    os.files[L"f:\\stick\\larkspool write test.tmp"] = "LS";
    os.files[L"f:\\stick\\larkspool write test.4242.tmp"] = "LS";
    EXPECT_EQ(run({L"/copies", L"F:\\Stick"}), app::kExitOk);
    EXPECT_EQ(run({L"/copies", L"OFF"}), app::kExitOk);
    EXPECT_EQ(run({L"/copies"}), app::kExitOk);
    EXPECT_EQ(os.printed, std::vector<std::wstring>{L"off"});
    EXPECT_EQ(run({L"/copies", L"a", L"b"}), app::kExitUsage);
}

// A folder whose copies would lie in a backup folder on C:, which Delete and /keep remove whole,
// by any spelling or way round, is refused with the reason, as is one whose path leaves copies
// too little room; the folder chosen before stays.
TEST_F(Copying, FoldersCopiesMayNotGoTo)
{
    const std::wstring inBackup5 = L"it lies in C:\\Larkspool5, a backup folder that Delete and /keep remove whole";
    struct Case {
        std::wstring folder;
        std::function<void(fake::Os&)> arrange;
        std::wstring why; // empty: accepted
    };
    const Case cases[] = {
        {L"C:\\Larkspool5", [](fake::Os&) {}, inBackup5},
        {L"c:\\LARKSPOOL5\\Copies", [](fake::Os& o) { o.folders.insert(L"c:\\larkspool5\\copies"); }, inBackup5},
        {L"C:\\Other\\..\\Larkspool5\\.\\Copies",
         [](fake::Os& o) {
             o.folders.insert(L"c:\\other");
             o.folders.insert(L"c:\\larkspool5\\copies");
         },
         inBackup5},
        {L"C:\\LARK~N4G\\Copies", // a short name
         [](fake::Os& o) {
             o.folders.insert(L"c:\\larkspool5\\copies");
             o.links[L"c:\\lark~n4g"] = L"c:\\larkspool5";
         },
         inBackup5},
        {L"D:\\Stick", // a junction into a backup folder
         [](fake::Os& o) {
             o.folders.insert(L"d:\\stick");
             o.folders.insert(L"c:\\larkspool5\\stick");
             o.links[L"d:\\stick"] = L"c:\\larkspool5\\stick";
         },
         inBackup5},
        {L"D:\\Stick", // a backup folder that is a junction to the stick
         [](fake::Os& o) {
             o.folders.insert(L"d:\\stick");
             o.links[L"c:\\larkspool5"] = L"d:\\stick";
         },
         inBackup5},
        {L"C:\\", // this computer's folder would be C:\LARKSPOOL12
         [](fake::Os& o) { o.computerName = L"LARKSPOOL12"; },
         L"it lies in C:\\Larkspool12, a backup folder that Delete and /keep remove whole"},
        {L"C:\\Copies", [](fake::Os& o) { o.folders.insert(L"c:\\copies"); }, L""},
        {L"D:\\" + std::wstring(179, L'x'), [](fake::Os& o) { o.folders.insert(L"d:\\" + std::wstring(179, L'x')); },
         L""},
        {L"D:\\" + std::wstring(180, L'x'), [](fake::Os& o) { o.folders.insert(L"d:\\" + std::wstring(180, L'x')); },
         L"its path is too long: copies in it have paths of up to 260 characters, and the system opens 259 at most"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.folder.begin(), c.folder.end()));
        os = fake::Os();
        Copying::SetUp();
        c.arrange(os);
        const int exitCode = app::RunCommand(os, app::ParseCommandLine({L"/copies", c.folder}));
        EXPECT_EQ(exitCode, c.why.empty() ? app::kExitOk : app::kExitUsage);
        EXPECT_EQ(os.printed.at(0),
                  c.why.empty() ? L"Copies: " + c.folder : L"Copies are not kept in " + c.folder + L": " + c.why);
        EXPECT_EQ(os.settings[L"lsBundle\\Copies\\Folder"], c.why.empty() ? c.folder : L"E:\\Copies");
    }
}

} // namespace
