#include "app/command_line.h"
#include "backup/backup_list.h"
#include "backup/backup_paths.h"
#include "backup/compare.h"
#include "backup/compare_text.h"
#include "backup/restore.h"
#include "backup/schedule.h"
#include "fake_os.h"
#include "program.h"
#include "registry_samples.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>

namespace {

using app::Mode;

TEST(CommandLine, Parsing)
{
    struct Case {
        std::vector<std::wstring> arguments;
        Mode mode;
        std::wstring file;
        std::wstring problem;
    };
    const Case cases[] = {
        {{}, Mode::Window, L"", L""},
        {{L"/backup"}, Mode::Backup, L"", L""},
        {{L"-backup"}, Mode::Backup, L"", L""},
        {{L"/BackUp"}, Mode::Backup, L"", L""},
        {{L"-LIST"}, Mode::List, L"", L""},
        {{L"/?"}, Mode::Usage, L"", L""},
        {{L"-?"}, Mode::Usage, L"", L""},
        {{L"-h"}, Mode::Usage, L"", L""},
        {{L"--HELP"}, Mode::Usage, L"", L""},
        {{L"/-help"}, Mode::NotUnderstood, L"", L"Not understood: /-help"},
        {{L"/check", L"C:\\Larkspool5\\Larkspool5.reg"}, Mode::Check, L"C:\\Larkspool5\\Larkspool5.reg", L""},
        {{L"-Check", L"my file.reg"}, Mode::Check, L"my file.reg", L""},
        {{L"/check"}, Mode::NotUnderstood, L"", L"The switch /check needs the backup file to check."},
        {{L"/backup", L"now"}, Mode::NotUnderstood, L"", L"Not understood: now"},
        {{L"/check", L"a.reg", L"b.reg"}, Mode::NotUnderstood, L"", L"Not understood: b.reg"},
        {{L"/backup", L"/keep", L"12"}, Mode::Backup, L"", L""},
        {{L"/backup", L"/keep", L"0"},
         Mode::NotUnderstood,
         L"",
         L"The switch /keep needs how many backups to keep, 1 or more."},
        {{L"/backup", L"-KEEP"},
         Mode::NotUnderstood,
         L"",
         L"The switch -KEEP needs how many backups to keep, 1 or more."},
        {{L"/backup", L"/keep", L"-3"},
         Mode::NotUnderstood,
         L"",
         L"The switch /keep needs how many backups to keep, 1 or more."},
        {{L"/keep", L"2"}, Mode::NotUnderstood, L"", L"Not understood: /keep"},
        {{L"/backup", L"/keep", L"2", L"x"}, Mode::NotUnderstood, L"", L"Not understood: x"},
        {{L"/restore"}, Mode::NotUnderstood, L"", L"The switch /restore needs the backup file to restore."},
        {{L"/Restore", L"E:\\b.reg"}, Mode::Restore, L"E:\\b.reg", L""},
        {{L"/restorex"}, Mode::NotUnderstood, L"", L"Not understood: /restorex"},
        {{L"backup"}, Mode::NotUnderstood, L"", L"Not understood: backup"},
        {{L"/"}, Mode::NotUnderstood, L"", L"Not understood: /"},
        {{L""}, Mode::NotUnderstood, L"", L"Not understood: "},
        {{L"/schedule"}, Mode::Schedule, L"", L""},
        {{L"-Schedule", L"weekly", L"SUN", L"12:00"}, Mode::Schedule, L"", L""},
        {{L"/schedule", L"off"}, Mode::Schedule, L"", L""},
        {{L"/schedule", L"weekly", L"sun", L"25:00"},
         Mode::NotUnderstood,
         L"",
         L"Not understood: weekly sun 25:00 (the switch /schedule takes daily HH:MM, weekly DAY HH:MM, logon or off)"},
    };
    for (const Case& c : cases) {
        const app::Command command = app::ParseCommandLine(c.arguments);
        SCOPED_TRACE(c.arguments.empty() ? std::string("(none)")
                                         : std::string(c.arguments[0].begin(), c.arguments[0].end()));
        EXPECT_EQ(command.mode, c.mode);
        EXPECT_EQ(command.file, c.file);
        EXPECT_EQ(command.problem, c.problem);
    }
}

using samples::Sz;

const std::string kBackup = "REGEDIT4\r\n\r\n"
                            "[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2]\r\n"
                            "\"Version\"=\"2.0\"\r\n\r\n"
                            "[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\CustomNames]\r\n"
                            "\"alice@example.org\"=\"Alice\"\r\n\r\n";

platform::RegistryTree AddOnKey()
{
    return {{.path = L"HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2", .values = {Sz(L"Version", L"2.0")}},
            {.path = L"HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\CustomNames",
             .values = {Sz(L"alice@example.org", L"Alice")}}};
}

// A machine on which the registry tool writes `written` and ends with `exitCode`.
struct Machine {
    fake::Os os;
    std::string written = kBackup;
    std::uint32_t exitCode = 0;

    Machine()
    {
        os.settings[L"lsBundle\\TimesRun\\1"] = L"7";
        os.addOnTree = AddOnKey();
        // The tool ends while the command line waits for it.
        os.onSleep = [this] {
            const auto shell = os.CallsNamed(L"Shell");
            if (!*os.lastExit && !shell.empty()) {
                const std::wstring folder = shell.back().substr(shell.back().find(L"\"C:\\Larkspool") + 1);
                if (!written.empty()) {
                    os.files[fake::Lower(folder.substr(0, folder.find(L'"')))] = written;
                }
                *os.lastExit = exitCode;
            }
        };
    }
    int Run(std::vector<std::wstring> arguments) { return app::RunCommand(os, app::ParseCommandLine(arguments)); }
};

TEST(CommandLine, BackupOfTheKeyIsChecked)
{
    Machine machine;
    EXPECT_EQ(machine.Run({L"/backup"}), app::kExitOk);
    EXPECT_EQ(machine.os.printed, (std::vector<std::wstring>{L"C:\\Larkspool7\\Larkspool7.reg: " +
                                                             backup::FormatKilobytes(kBackup.size(), L".") +
                                                             L" kb, 2 values in 2 keys, checked"}));
    EXPECT_EQ(machine.os.folders.count(L"c:\\larkspool7"), 1u);
    EXPECT_EQ(machine.os.files.count(L"c:\\larkspool7\\date created.txt"), 1u);
    // A start, one export and an exit: 7 is used, 9 is stored.
    EXPECT_EQ(machine.os.Setting(), L"9");
    EXPECT_TRUE(machine.os.messages.empty()) << "nothing waits for a click";
}

// With copies on, the copy's outcome is a line of its own; a failed copy leaves the backup checked
// and ends with its own exit code.
TEST(CommandLine, BackupTellsItsCopy)
{
    for (const bool plugged : {true, false}) {
        Machine machine;
        machine.os.settings[L"lsBundle\\Copies\\Folder"] = L"E:\\Copies";
        if (plugged) {
            machine.os.folders.insert(L"e:\\copies");
        }
        EXPECT_EQ(machine.Run({L"/backup"}), plugged ? app::kExitOk : app::kExitCopyFailed);
        ASSERT_EQ(machine.os.printed.size(), plugged ? 2u : 3u);
        EXPECT_NE(machine.os.printed[0].find(L", checked"), std::wstring::npos);
        EXPECT_EQ(machine.os.printed[1], plugged ? L"copy kept" : L"copy not made: E:\\ is not ready");
        if (!plugged) {
            EXPECT_EQ(machine.os.printed[2], L"E:\\Copies\\HOMEPC: The system cannot find the path specified.");
        }
        // Why the exit code is not 0 goes to standard error.
        EXPECT_EQ(machine.os.errors,
                  plugged ? std::vector<std::wstring>{}
                          : std::vector<std::wstring>(machine.os.printed.begin() + 1, machine.os.printed.end()));
        EXPECT_EQ(machine.os.files.count(L"e:\\copies\\homepc\\larkspool7\\larkspool7.reg"), plugged ? 1u : 0u);
    }
}

TEST(CommandLine, BackupOutcomesAndTheirExitCodes)
{
    struct Case {
        const char* what;
        std::function<void(Machine&)> arrange;
        int exitCode;
        std::wstring printed;
    };
    const Case cases[] = {
        {"the key does not exist",
         [](Machine& m) {
             m.os.registryKeys.clear();
             m.exitCode = 1;
             m.written = "";
         },
         app::kExitNothingToBackUp, L"Nothing to back up: HKCU\\Software\\Zephrix\\Wrenlet2 does not exist"},
        {"the tool fails", [](Machine& m) { m.exitCode = 5; }, app::kExitExportFailed,
         L"C:\\Larkspool7\\Larkspool7.reg: Export failed: reg.exe ended with code 5"},
        {"the key changed meanwhile", [](Machine& m) { m.os.addOnTree[1].values.push_back(Sz(L"bob", L"B")); },
         app::kExitDiffers, L"C:\\Larkspool7\\Larkspool7.reg: Backup differs from the registry: 1 value missing"},
        {"half a file", [](Machine& m) { m.written = kBackup.substr(0, kBackup.find("Alice")); }, app::kExitDiffers,
         L"C:\\Larkspool7\\Larkspool7.reg: Backup unreadable: line 7: unterminated string"},
        {"no registry tool", [](Machine& m) { m.os.files.clear(); }, app::kExitExportFailed,
         L"Nothing was backed up: the registry tool reg.exe is neither in C:\\windows\\system32 nor in D:\\Tools"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Machine machine;
        c.arrange(machine);
        EXPECT_EQ(machine.Run({L"-BACKUP"}), c.exitCode);
        ASSERT_EQ(machine.os.printed.size(), 1u);
        EXPECT_EQ(machine.os.printed[0], c.printed);
        EXPECT_EQ(machine.os.errors, machine.os.printed);
        EXPECT_TRUE(machine.os.messages.empty());
    }
}

TEST(CommandLine, BackupWithoutTheKeyLeavesNoFolder)
{
    Machine machine;
    machine.os.registryKeys.clear();
    machine.exitCode = 1;
    machine.written = "";
    machine.Run({L"/backup"});
    EXPECT_TRUE(machine.os.folders.empty());
}

// After a backup that checked out, the oldest folders go until N remain, never the new one nor
// one that holds the copies folder; a backup that did not check out deletes nothing, nor does a start whose journal
// names a backup that is still the only record of a list.
TEST(CommandLine, BackupKeepsTheNewest)
{
    struct Case {
        const char* what;
        std::function<void(Machine&)> arrange;
        std::set<std::wstring> left;
    };
    const Case cases[] = {
        {"checked", [](Machine&) {}, {L"c:\\larkspool6", L"c:\\larkspool7"}},
        {"the new backup has the lowest number",
         [](Machine& m) {
             m.os.folders.erase(L"c:\\larkspool6");
             m.os.folders.insert(L"c:\\larkspool70");
         },
         {L"c:\\larkspool7", L"c:\\larkspool70"}},
        {"a folder cannot be deleted: the next oldest goes instead",
         [](Machine& m) {
             m.os.failing = L"RemoveFolder";
             m.os.failingOnce = true;
         },
         {L"c:\\larkspool3", L"c:\\larkspool7"}},
        {"the oldest folder holds the copies folder: the next oldest go instead",
         [](Machine& m) {
             m.os.folders.insert(L"c:\\larkspool3\\copies");
             m.os.settings[L"lsBundle\\Copies\\Folder"] = L"C:\\Larkspool3\\Copies";
         },
         {L"c:\\larkspool3", L"c:\\larkspool3\\copies", L"c:\\larkspool7"}},
        {"the backup differs",
         [](Machine& m) { m.os.addOnTree[1].values.push_back(Sz(L"bob", L"B")); },
         {L"c:\\larkspool3", L"c:\\larkspool5", L"c:\\larkspool6", L"c:\\larkspool7"}},
        {"a restore could not be put back",
         [](Machine& m) {
             m.os.settings[L"lsBundle\\Restore\\Safety"] = L"C:\\Larkspool3\\Larkspool3.reg";
             m.os.settings[L"lsBundle\\Restore\\Step"] = L"in place";
             m.os.files[L"c:\\larkspool3\\larkspool3.reg"] = "REGEDIT4\r\n[HKEY";
         },
         {L"c:\\larkspool3", L"c:\\larkspool5", L"c:\\larkspool6", L"c:\\larkspool7"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Machine machine;
        machine.os.folders = {L"c:\\larkspool3", L"c:\\larkspool5", L"c:\\larkspool6"};
        machine.os.files[L"c:\\larkspool3\\larkspool3.reg"] = kBackup;
        c.arrange(machine);
        machine.Run({L"/backup", L"/keep", L"2"});
        EXPECT_EQ(machine.os.folders, c.left);
        EXPECT_EQ(machine.os.files.count(L"c:\\larkspool3\\larkspool3.reg"), c.left.count(L"c:\\larkspool3"));
    }
    Machine machine;
    machine.os.folders = {L"c:\\larkspool5", L"c:\\larkspool6"};
    EXPECT_EQ(machine.Run({L"/backup", L"/keep", L"1"}), app::kExitOk);
    EXPECT_EQ(std::vector<std::wstring>(machine.os.printed.begin() + 1, machine.os.printed.end()),
              (std::vector<std::wstring>{L"Deleted C:\\Larkspool5", L"Deleted C:\\Larkspool6"}));
}

// What the Task Scheduler runs: a backup only of a list that changed, automatic backups thinned
// out, never one made by hand, nothing deleted once the list has lost most of its values.
TEST(CommandLine, AutomaticBackups)
{
    Machine machine;
    fake::Os& os = machine.os;
    const std::string oldStamp = "Date Created: 01-05-2025\r\nTime Created: 8:00:00 AM\r\n";
    // All of last year: 3 made by hand, the others automatic; 5's stamp is no longer the one it
    // was made with, and counts as made by hand.
    for (const std::wstring number : {L"1", L"2", L"3", L"4", L"5"}) {
        os.folders.insert(L"c:\\larkspool" + number);
        os.files[L"c:\\larkspool" + number + L"\\larkspool" + number + L".reg"] = kBackup;
        os.files[L"c:\\larkspool" + number + L"\\date created.txt"] = oldStamp;
        if (number != L"3") {
            os.settings[L"lsBundle\\Automatic\\Made\\" + number + L"\\Stamp"] =
                std::wstring(oldStamp.begin(), oldStamp.end());
        }
    }
    os.files[L"c:\\larkspool5\\date created.txt"] += "\r\n";
    EXPECT_EQ(machine.Run({L"/backup", L"/auto"}), app::kExitOk);
    EXPECT_EQ(os.printed.back(), L"unchanged since backup 5 of 01-05-2025");
    EXPECT_EQ(os.Setting(), L"7") << "no run number taken";

    os.addOnTree[1].values.push_back(Sz(L"bob@example.org", L"Bob"));
    machine.written = samples::Regedit4(os.addOnTree);
    EXPECT_EQ(machine.Run({L"/backup", L"/auto"}), app::kExitOk);
    EXPECT_EQ(os.folders, (std::set<std::wstring>{L"c:\\larkspool2", L"c:\\larkspool3", L"c:\\larkspool4",
                                                  L"c:\\larkspool5", L"c:\\larkspool7"}))
        << "past the newest three automatic backups, last year's go; those by hand stay";
    EXPECT_EQ(os.printed.back(), L"Deleted C:\\Larkspool1");
    EXPECT_EQ(os.settings.count(L"lsBundle\\Automatic\\Made\\1\\Stamp"), 0u);
    EXPECT_EQ(machine.Run({L"/backup", L"/auto"}), app::kExitOk);
    EXPECT_EQ(os.printed.back(), L"unchanged since backup 7 of 12-07-2026");
    // Nothing written to the list since it was found equal: told without reading every value.
    os.keysWritten = 0;
    os.calls.clear();
    EXPECT_EQ(machine.Run({L"/backup", L"/auto"}), app::kExitOk);
    EXPECT_EQ(os.printed.back(), L"unchanged since backup 7 of 12-07-2026");
    EXPECT_TRUE(os.CallsNamed(L"ReadRegistryTree").empty());

    // Most of the list gone (a key with fewer values, though no time says it was written): backed up all the same,
    // nothing deleted, and a warning recorded.
    os.addOnTree[1].values.clear();
    machine.written = samples::Regedit4(os.addOnTree);
    EXPECT_EQ(machine.Run({L"/backup", L"/auto"}), app::kExitOk);
    EXPECT_EQ(os.folders.size(), 6u) << "backup 9 is made, 2 is not thinned out";
    const std::wstring warning = L"The list has 1 name; backup 7 of 12-07-2026 had 3. If names were lost, "
                                 L"restore backup 7 in the Backups window.";
    EXPECT_EQ(os.printed.back(), warning);
    EXPECT_EQ(os.settings[L"lsBundle\\Automatic\\LastWarned"], L"1");
    EXPECT_EQ(os.settings[L"lsBundle\\Automatic\\LastLine"], warning);
    EXPECT_EQ(os.settings[L"lsBundle\\Automatic\\LastCode"], L"0");
    // Told once, at the next start of the window.
    for (const std::size_t told : {1u, 0u}) {
        os.messages.clear();
        Program program(os);
        program.Start();
        EXPECT_EQ(os.messages.size(), told);
        if (told != 0) {
            EXPECT_EQ(os.messages[0], L"The automatic backup on Monday 7 December at 15:04 warns: " + warning);
        }
    }
}

// /backup /auto registered, replaced, told and deleted; where the Task Scheduler keeps no
// triggers (Wine), the schedule is told from the last choice.
TEST(CommandLine, ScheduledBackups)
{
    Machine machine;
    fake::Os& os = machine.os;
    os.appPath = L"C:\\Program Files\\Ларк Spool";
    const std::wstring task = L"\\LarkSpool\\LarkSpool automatic backup";
    EXPECT_EQ(machine.Run({L"/schedule"}), app::kExitOk);
    EXPECT_EQ(os.printed, (std::vector<std::wstring>{L"Automatic backups: off", L"Last run: none yet"}));

    EXPECT_EQ(machine.Run({L"/schedule", L"daily", L"9:30"}), app::kExitOk);
    EXPECT_EQ(machine.Run({L"/schedule", L"weekly", L"sun", L"12:00"}), app::kExitOk);
    EXPECT_EQ(os.printed.back(), L"Automatic backups: every Sunday at 12:00");
    ASSERT_EQ(os.tasks.size(), 1u) << "registering again replaces the task";
    EXPECT_EQ(os.tasks[task], backup::TaskXml({}, L"C:\\Program Files\\Ларк Spool\\LarkSpool.exe", os.UserSid()));
    os.settings[L"lsBundle\\Automatic\\LastRun"] = L"12-06-2026 12:00:00 PM";
    os.settings[L"lsBundle\\Automatic\\LastCode"] = L"0";
    os.settings[L"lsBundle\\Automatic\\LastLine"] = L"unchanged since backup 12 of 12-06-2026";
    os.printed.clear();
    EXPECT_EQ(machine.Run({L"/schedule"}), app::kExitOk);
    const std::wstring lastRun =
        L"Last run: 12-06-2026 12:00:00 PM, exit code 0: unchanged since backup 12 of 12-06-2026";
    EXPECT_EQ(os.printed, (std::vector<std::wstring>{
                              L"Automatic backups: every Sunday at 12:00",
                              L"Program: \"C:\\Program Files\\Ларк Spool\\LarkSpool.exe\" /backup /auto", lastRun}));

    os.tasks[task] = L"<Task><Triggers/><Actions><Exec/></Actions></Task>";
    os.printed.clear();
    EXPECT_EQ(machine.Run({L"/schedule"}), app::kExitOk);
    EXPECT_EQ(os.printed,
              (std::vector<std::wstring>{
                  L"Automatic backups: every Sunday at 12:00 (as last chosen; the Task Scheduler does not tell)",
                  L"Program: \"C:\\Program Files\\Ларк Spool\\LarkSpool.exe\" /backup /auto (as registered; the Task "
                  L"Scheduler does not tell)",
                  lastRun}));
    // The program was moved: the task starts one that is no longer there.
    os.appPath = L"E:\\Tools";
    os.printed.clear();
    EXPECT_EQ(machine.Run({L"/schedule"}), app::kExitOk);
    EXPECT_EQ(os.printed.at(2), L"That program is no longer there; /schedule with the same choice registers this one.");

    os.schedulerUnreachable = L"The RPC server is unavailable.";
    for (const std::vector<std::wstring>& arguments :
         {std::vector<std::wstring>{L"/schedule", L"logon"}, {L"/schedule", L"off"}, {L"/schedule"}}) {
        os.printed.clear();
        os.errors.clear();
        EXPECT_EQ(machine.Run(arguments), app::kExitUsage);
        EXPECT_EQ(os.errors, (std::vector<std::wstring>{L"The Task Scheduler said: Connecting to \"the Task "
                                                        L"Scheduler\" failed: The RPC server is unavailable."}));
        EXPECT_EQ(os.printed, os.errors);
    }
    EXPECT_EQ(os.settings[L"lsBundle\\Automatic\\Schedule"], L"weekly sun 12:00") << "a choice not taken is not kept";
    os.schedulerUnreachable.clear();
    EXPECT_EQ(machine.Run({L"/schedule", L"off"}), app::kExitOk);
    EXPECT_TRUE(os.tasks.empty());
    EXPECT_EQ(os.printed.back(), L"Automatic backups: off");
    EXPECT_EQ(machine.Run({L"/schedule", L"off"}), app::kExitOk) << "off twice";
}

// The window of another run took the folder meanwhile: the next free one is used.
TEST(CommandLine, BackupNeverUsesAFolderThatExists)
{
    Machine machine;
    machine.os.folders = {L"c:\\larkspool7"};
    EXPECT_EQ(machine.Run({L"/backup"}), app::kExitOk);
    EXPECT_EQ(machine.os.printed.at(0).rfind(L"C:\\Larkspool8\\Larkspool8.reg: ", 0), 0u);
    EXPECT_EQ(machine.os.Setting(), L"10");
}

TEST(CommandLine, CheckOfAFile)
{
    struct Case {
        const char* what;
        std::string bytes;
        std::function<void(platform::RegistryTree&)> change;
        int exitCode;
        std::vector<std::wstring> printed;
    };
    const Case cases[] = {
        {"same", kBackup, [](auto&) {}, app::kExitOk, {L"No differences"}},
        {"a name changed and one added",
         kBackup,
         [](auto& key) {
             key[1].values[0] = Sz(L"alice@example.org", L"Alice (work)");
             key[1].values.push_back(Sz(L"", L"x"));
         },
         app::kExitDiffers,
         {L"1 added, 0 removed, 1 changed", L"added    \\CustomNames  (Default)  (none) -> \"x\"",
          L"changed  \\CustomNames  alice@example.org  \"Alice\" -> \"Alice (work)\""}},
        {"truncated",
         kBackup.substr(0, 30),
         [](auto&) {},
         app::kExitUnreadable,
         {L"C:\\b.reg: unreadable: line 3: key without a closing ']'"}},
        // Importing a section creates the keys above it; a backslash at a key's end is dropped.
        {"only a subkey",
         "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\CustomNames\\]\r\n"
         "\"alice@example.org\"=\"Alice\"\r\n",
         [](auto& key) { key[0].values.clear(); },
         app::kExitOk,
         {L"No differences"}},
        // A file of other keys is no backup of the list, however its keys compare.
        {"another key",
         "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Classes\\.bmp]\r\n@=\"Paint.Picture\"\r\n",
         [](auto&) {},
         app::kExitUnreadable,
         {L"C:\\b.reg: not a backup of HKCU\\Software\\Zephrix\\Wrenlet2: line 3 writes "
          L"HKEY_CURRENT_USER\\Software\\Classes\\.bmp"}},
        {"the list and another key",
         kBackup + "[HKEY_CURRENT_USER\\Software\\Zephrix]\r\n",
         [](auto&) {},
         app::kExitUnreadable,
         {L"C:\\b.reg: not a backup of HKCU\\Software\\Zephrix\\Wrenlet2: line 9 writes "
          L"HKEY_CURRENT_USER\\Software\\Zephrix"}},
        {"nothing",
         "REGEDIT4\r\n\r\n",
         [](auto&) {},
         app::kExitUnreadable,
         {L"C:\\b.reg: not a backup of HKCU\\Software\\Zephrix\\Wrenlet2: it writes nothing of that key"}},
        // Importing it would leave a list without what it deletes, whatever the key holds now.
        {"only deletions",
         "REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Old]\r\n",
         [](auto&) {},
         app::kExitUnreadable,
         {L"C:\\b.reg: not a backup of HKCU\\Software\\Zephrix\\Wrenlet2: line 3 deletes "
          L"HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Old"}},
        {"the list, then one of its keys deleted",
         kBackup + "[-HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\CustomNames]\r\n",
         [](auto&) {},
         app::kExitUnreadable,
         {L"C:\\b.reg: not a backup of HKCU\\Software\\Zephrix\\Wrenlet2: line 9 deletes "
          L"HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\CustomNames"}},
        {"the list, then one of its values deleted",
         kBackup + "[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\CustomNames]\r\n\"alice@example.org\"=-\r\n",
         [](auto&) {},
         app::kExitUnreadable,
         {L"C:\\b.reg: not a backup of HKCU\\Software\\Zephrix\\Wrenlet2: line 10 deletes the value "
          L"\"alice@example.org\" of HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\CustomNames"}},
        {"the default value deleted",
         "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2]\r\n\"Version\"=\"2.0\"\r\n@=-\r\n",
         [](auto&) {},
         app::kExitUnreadable,
         {L"C:\\b.reg: not a backup of HKCU\\Software\\Zephrix\\Wrenlet2: line 5 deletes the value "
          L"(Default) of HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Machine machine;
        machine.os.files[L"c:\\b.reg"] = c.bytes;
        c.change(machine.os.addOnTree);
        EXPECT_EQ(machine.Run({L"/check", L"C:\\b.reg"}), c.exitCode);
        EXPECT_EQ(machine.os.printed, c.printed);
        // Differences are the output; a file that cannot be compared is an error.
        EXPECT_EQ(machine.os.errors, c.exitCode == app::kExitUnreadable ? c.printed : std::vector<std::wstring>{});
    }
    Machine machine;
    EXPECT_EQ(machine.Run({L"/check", L"C:\\missing.reg"}), app::kExitUnreadable);
}

// Any file restored without a question; the exit code says how far it got, and whether the list
// is the file's or the one from before.
TEST(CommandLine, RestoreOfAFile)
{
    const std::string withBob = kBackup + "[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\Groups]\r\n\"g\"=\"1\"\r\n";
    struct Case {
        const char* what;
        std::string bytes;
        std::function<void(Machine&)> arrange;
        int exitCode;
        bool restored;
        std::wstring last; // the start of the last line printed
    };
    const Case cases[] = {
        {"restored", withBob, [](Machine&) {}, app::kExitOk, true, L"E:\\b.reg restored: 3 values in 3 keys, checked."},
        {"no list before", withBob, [](Machine& m) { m.os.registryKeys.clear(); }, app::kExitOk, true,
         L"E:\\b.reg restored: 3 values in 3 keys, checked. There was no list before."},
        {"truncated", withBob.substr(0, 30), [](Machine&) {}, app::kExitUnreadable, false,
         L"E:\\b.reg is not restored: its file E:\\b.reg cannot be read: line 3"},
        {"it also writes the Run key",
         withBob + "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n\"x\"=\"y.exe\"\r\n",
         [](Machine&) {}, app::kExitRefused, false,
         L"E:\\b.reg is not restored: line 11: it writes to HKEY_CURRENT_USER"},
        {"the safety backup fails", withBob, [](Machine& m) { m.exitCode = 5; }, app::kExitExportFailed, false,
         L"E:\\b.reg is not restored: the backup of the list as it is now (backup 7) did not check out"},
        {"writing fails: the list is back", withBob,
         [](Machine& m) {
             m.os.failing = L"WriteRegistryTree";
             m.os.failingOnce = true;
         },
         app::kExitNotRestored, false, L"E:\\b.reg was not restored: "},
        {"another LarkSpool backs up for longer than is waited", withBob,
         [](Machine& m) { m.os.lockHeldElsewhere = true; }, app::kExitBusy, false, backup::kAnotherIsBackingUp},
        {"another LarkSpool restores, and its journal waits for it", withBob,
         [](Machine& m) {
             m.os.lockHeldElsewhere = true;
             m.os.settings[L"lsBundle\\Restore\\Step"] = L"writing";
         },
         app::kExitBusy, false, backup::kAnotherIsRestoring},
        {"putting back fails too", withBob,
         [](Machine& m) {
             m.os.failing = L"RenameRegistryKey";
             m.os.failingAfter = 1;
         },
         app::kExitRestoreFailed, false, L"E:\\b.reg was not restored: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Machine machine;
        machine.os.files[L"e:\\b.reg"] = c.bytes;
        c.arrange(machine);
        const platform::RegistryTree before = machine.os.addOnTree;
        const bool existed = !machine.os.registryKeys.empty();
        EXPECT_EQ(machine.Run({L"/restore", L"E:\\b.reg"}), c.exitCode);
        ASSERT_FALSE(machine.os.printed.empty());
        EXPECT_EQ(machine.os.printed.back().rfind(c.last, 0), 0u)
            << std::string(machine.os.printed.back().begin(), machine.os.printed.back().end());
        EXPECT_EQ(machine.os.errors, c.exitCode == app::kExitOk ? std::vector<std::wstring>{}
                                                                : std::vector<std::wstring>{machine.os.printed.back()});
        EXPECT_TRUE(machine.os.messages.empty());
        machine.os.failing.clear();
        if (c.restored) {
            EXPECT_EQ(machine.os.addOnTree.size(), 3u);
        } else if (c.exitCode != app::kExitRestoreFailed) {
            EXPECT_TRUE(backup::CompareTrees(before, machine.os.addOnTree).empty());
            EXPECT_EQ(machine.os.registryKeys.empty(), !existed);
        }
    }
    // The steps are told as they start; the safety backup is one as /backup makes it.
    Machine machine;
    machine.os.files[L"e:\\b.reg"] = withBob;
    machine.Run({L"/restore", L"E:\\b.reg"});
    EXPECT_EQ(machine.os.printed.at(0), L"Backing up the list as it is now: backup 7");
    EXPECT_EQ(machine.os.printed.at(1), L"Writing 3 values in 3 keys");
    EXPECT_EQ(machine.os.Setting(), L"9");
    // A failure that could not be put back names the safety backup's file.
    Machine failing;
    failing.os.files[L"e:\\b.reg"] = withBob;
    failing.os.failing = L"RenameRegistryKey";
    failing.os.failingAfter = 1;
    failing.Run({L"/restore", L"E:\\b.reg"});
    EXPECT_NE(failing.os.printed.back().find(L"C:\\Larkspool7\\Larkspool7.reg"), std::wstring::npos);
}

TEST(CommandLine, ListOfBackupsNewestFirst)
{
    Machine machine;
    fake::Os& os = machine.os;
    os.folders = {L"c:\\larkspool5", L"c:\\larkspool007", L"c:\\larkspool12", L"c:\\larkspool5x",
                  L"c:\\larkspool",  L"c:\\windows",      L"c:\\larkspool3"};
    os.files[L"c:\\larkspool5\\larkspool5.reg"] = kBackup;
    os.files[L"c:\\larkspool5\\date created.txt"] = "Date Created: 12-07-2026\r\nTime Created: 3:04:05 PM\r\n";
    os.files[L"c:\\larkspool007\\larkspool007.reg"] =
        kBackup.substr(0, kBackup.find("[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\"));
    os.files[L"c:\\larkspool12\\larkspool12.reg"] = "REGEDIT4\r\n[HKEY_CURRENT_USER\r\n";
    // A date stamp held open by another program: that row says so, the others are listed.
    os.folders.insert(L"c:\\larkspool4");
    os.files[L"c:\\larkspool4\\larkspool4.reg"] = kBackup;
    os.files[L"c:\\larkspool4\\date created.txt"] = "Date Created: 12-06-2026\r\n";
    os.failing = L"ReadFileBytes";
    os.failingAfter = 4; // the .reg files of 12, 007 and 5 and the date stamp of 5 first
    os.failingOnce = true;
    EXPECT_EQ(machine.Run({L"/list"}), app::kExitOk);
    const std::wstring size = backup::FormatKilobytes(kBackup.size(), L".");
    EXPECT_EQ(
        os.printed,
        (std::vector<std::wstring>{
            L"12\t\t.03 kb\t0\t0\tunreadable: line 2: key without a closing ']'\tC:\\Larkspool12\\Larkspool12.reg",
            L"007\t\t" + backup::FormatKilobytes(os.files.at(L"c:\\larkspool007\\larkspool007.reg").size(), L".") +
                L" kb\t1\t1\tdiffers from now\tC:\\Larkspool007\\Larkspool007.reg",
            L"5\t12-07-2026 3:04:05 PM\t" + size + L" kb\t2\t2\tsame as now\tC:\\Larkspool5\\Larkspool5.reg",
            L"4\tunreadable: The device is not ready.\t" + size +
                L" kb\t2\t2\tsame as now\tC:\\Larkspool4\\Larkspool4.reg",
            L"3\t\t\t0\t0\tno backup file\tC:\\Larkspool3\\Larkspool3.reg",
        }));
}

TEST(CommandLine, UsageAndArgumentsNotUnderstood)
{
    Machine machine;
    // The usage looks at nothing: another LarkSpool's live restore keeps a journal too.
    machine.os.settings[L"lsBundle\\Restore\\Step"] = L"writing";
    machine.os.lockHeldElsewhere = true;
    EXPECT_EQ(machine.Run({L"/?"}), app::kExitOk);
    EXPECT_TRUE(machine.os.CallsNamed(L"LockList").empty());
    EXPECT_EQ(machine.os.printed, (std::vector<std::wstring>{app::UsageText()}));
    EXPECT_TRUE(machine.os.errors.empty());
    // It fits a console 80 columns wide.
    std::wistringstream usage(app::UsageText());
    for (std::wstring line; std::getline(usage, line);) {
        EXPECT_LE(line.size(), 79u) << std::string(line.begin(), line.end());
    }
    machine.os.printed.clear();
    EXPECT_EQ(machine.Run({L"/frobnicate"}), app::kExitUsage);
    EXPECT_EQ(machine.os.printed, (std::vector<std::wstring>{L"Not understood: /frobnicate", app::UsageText()}));
    EXPECT_EQ(machine.os.errors, machine.os.printed);
}

TEST(CompareText, DataOfEachType)
{
    struct Case {
        platform::RegistryValue value;
        std::wstring text;
    };
    const Case cases[] = {
        {Sz(L"a", L"Alice"), L"\"Alice\""},
        {{.name = L"a", .type = platform::kRegSz, .data = {'h', 0, 'i', 0}}, L"\"hi\""},
        {{.name = L"d", .type = platform::kRegDword, .data = {0x2a, 0, 0, 0}}, L"42"},
        {{.name = L"q", .type = platform::kRegQword, .data = {0, 0, 0, 0, 1, 0, 0, 0}}, L"4294967296"},
        {{.name = L"b", .type = platform::kRegBinary, .data = {0x01, 0xab, 0xff}}, L"01 ab ff"},
        {{.name = L"b", .type = platform::kRegBinary, .data = {}}, L"(no data)"},
        {{.name = L"d", .type = platform::kRegDword, .data = {1, 2}}, L"01 02"},
        {{.name = L"m", .type = platform::kRegMultiSz, .data = {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}}, L"\"a\", \"b\""},
        {{.name = L"n", .type = 0x1234, .data = {7}}, L"07"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(backup::DataText(c.value), c.text);
    }
}

TEST(CompareText, LinesNameTheKeyBelowTheRoot)
{
    const std::wstring root = L"HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2";
    const backup::Difference removedKey{
        .change = backup::Change::Removed, .key = root + L"\\Groups", .before = {}, .after = {}};
    EXPECT_EQ(backup::DifferenceLine(removedKey, root), L"removed  \\Groups  (key)");
    const backup::Difference atRoot{.change = backup::Change::Removed,
                                    .key = L"hkey_current_user\\software\\zephrix\\wrenlet2",
                                    .before = Sz(L"Version", L"2.0"),
                                    .after = {}};
    EXPECT_EQ(backup::DifferenceLine(atRoot, root), L"removed  \\  Version  \"2.0\" -> (none)");
    const backup::Difference elsewhere{
        .change = backup::Change::Added, .key = L"HKEY_CURRENT_USER\\Software\\Other", .before = {}, .after = {}};
    EXPECT_EQ(backup::DifferenceLine(elsewhere, root), L"added    HKEY_CURRENT_USER\\Software\\Other  (key)");
}

} // namespace
