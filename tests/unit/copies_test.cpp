#include "app/command_line.h"
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
            if (path.find(L".larkspool-copy") != std::wstring::npos) {
                return true;
            }
        }
        return false;
    }
};

// Each failure point: the copy is told as not made, nothing half written stays, an existing
// file is never overwritten.
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
         L"E:\\Copies\\HOMEPC\\Larkspool5\\Date Created.txt.LarkSpool-copy: The device is not ready."},
        {"reading back fails",
         [](Copying& c) {
             c.os.failing = L"ReadFileBytes";
             c.os.failingAfter = 1;
         },
         false, L"copy not made: The device is not ready.",
         L"E:\\Copies\\HOMEPC\\Larkspool5\\Larkspool5.reg.LarkSpool-copy: The device is not ready."},
        {"the rename fails", [](Copying& c) { c.os.failing = L"RenameFile"; }, false,
         L"copy not made: The device is not ready.",
         L"E:\\Copies\\HOMEPC\\Larkspool5\\Larkspool5.reg.LarkSpool-copy "
         L"E:\\Copies\\HOMEPC\\Larkspool5\\Larkspool5.reg: The device is not ready."},
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
        Copying::SetUp();
        os.files.erase(target);
        os.files.erase(targetStamp);
        os.folders.erase(L"e:\\copies\\homepc");
        os.folders.erase(L"e:\\copies\\homepc\\larkspool5");
        os.failing.clear();
        os.failingAfter = 0;
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

// Missing copies are made for the backups the restore would accept, none twice, never over a
// different file.
TEST_F(Copying, CatchingUp)
{
    os.folders.insert(L"c:\\larkspool6");
    os.files[L"c:\\larkspool6\\larkspool6.reg"] = reg.substr(0, 20); // unreadable
    os.folders.insert(L"c:\\larkspool7");
    os.files[L"c:\\larkspool7\\larkspool7.reg"] = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Classes\\.bmp]\r\n";
    os.folders.insert(L"c:\\larkspool8");
    os.files[L"c:\\larkspool8\\larkspool8.reg"] = reg;
    os.files[L"c:\\larkspool8\\date created.txt"] = stamp;
    os.folders.insert(L"e:\\copies\\homepc");
    os.folders.insert(L"e:\\copies\\homepc\\larkspool8");
    os.files[L"e:\\copies\\homepc\\larkspool8\\larkspool8.reg"] = "another file";
    const std::atomic<bool> never{false};
    EXPECT_EQ(backup::CatchUpCopies(os, never), 1u);
    EXPECT_EQ(os.files.at(target), reg);
    for (const wchar_t* number : {L"6", L"7"}) {
        EXPECT_EQ(os.folders.count(L"e:\\copies\\homepc\\larkspool" + std::wstring(number)), 0u);
    }
    EXPECT_EQ(os.files.at(L"e:\\copies\\homepc\\larkspool8\\larkspool8.reg"), "another file");
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
    EXPECT_EQ(os.files.count(L"f:\\stick\\larkspool write test.tmp"), 0u) << "the write test leaves nothing";
    EXPECT_EQ(run({L"/copies", L"OFF"}), app::kExitOk);
    EXPECT_EQ(run({L"/copies"}), app::kExitOk);
    EXPECT_EQ(os.printed, std::vector<std::wstring>{L"off"});
    EXPECT_EQ(run({L"/copies", L"a", L"b"}), app::kExitUsage);
}

} // namespace
