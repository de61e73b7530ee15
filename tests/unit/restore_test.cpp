#include "backup/backup_paths.h"
#include "backup/compare.h"
#include "backup/export.h"
#include "backup/restore.h"
#include "fake_os.h"
#include "registry_samples.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using samples::Sz;

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// Backup 5 holds an older list; the key has changed since: a name added, one changed, one gone.
struct Restoring : ::testing::Test {
    fake::Os os;
    platform::RegistryTree old = samples::AddOnKey();
    std::shared_ptr<backup::ExportRun> safety;
    int safetyBackups = 0;

    void SetUp() override
    {
        os.addOnTree = samples::AddOnKey();
        os.addOnTree[1].values[0] = Sz(L"alice@example.org", L"Alice (work)");
        os.addOnTree[1].values[1] = Sz(L"carol@example.org", L"Carol");
        os.folders = {L"c:\\larkspool5"};
        os.files[L"c:\\larkspool5\\larkspool5.reg"] = samples::Regedit4(old);
        // The registry tool exports the key as it stands when it ends.
        os.onSleep = [this] {
            if (safety && !*os.lastExit) {
                os.files[fake::Lower(backup::BackupFile(safety->runNumber()))] = samples::Regedit4(os.addOnTree);
                *os.lastExit = 0;
            }
        };
    }
    std::shared_ptr<backup::ExportRun> SafetyBackup()
    {
        ++safetyBackups;
        safety = backup::StartBackup(os, L"C:\\windows\\system32\\reg.exe", L"9");
        return safety;
    }
    // Backup 5 restored as the window does it: each question asked, polled until it has ended.
    backup::RestoreOutcome Restore()
    {
        backup::RestoreRun run(
            os, L"", [](platform::Os& system) { return backup::PlanRestore(system, L"5", L"12-07-2026 3:04:05 PM"); },
            [this] { return SafetyBackup(); }, false);
        while (run.Poll() != backup::RestoreRun::State::Ended) {
            if (run.state() == backup::RestoreRun::State::Asking) {
                run.Answer(os.Ask(run.question()));
            } else {
                os.Sleep(100);
            }
        }
        return run.outcome();
    }
    bool KeyIs(const platform::RegistryTree& tree) const { return backup::CompareTrees(tree, os.addOnTree).empty(); }
    // Nothing of a restore is left: no journal, no key beside the add-on's key.
    bool NothingLeft() const { return os.otherKeys.empty() && os.settings.count(L"lsBundle\\Restore\\Step") == 0; }
};

TEST_F(Restoring, KeyBecomesTheBackupExactlyAndTheListBeforeIsKept)
{
    const platform::RegistryTree before = os.addOnTree;
    const backup::RestoreOutcome outcome = Restore();
    EXPECT_TRUE(outcome.restored);
    EXPECT_EQ(outcome.message,
              L"Backup 5 restored: 3 values in 2 keys, checked. The list as it was before is backup 9.");
    EXPECT_TRUE(KeyIs(old)) << "carol, added since, is gone";
    ASSERT_EQ(os.questions.size(), 1u);
    EXPECT_NE(os.questions[0].find(L"backup 5 of 12-07-2026 3:04:05 PM"), std::wstring::npos);
    EXPECT_NE(os.questions[0].find(L"The restore brings back 1 name, removes 1 and changes 1."), std::wstring::npos);
    EXPECT_NE(os.questions[0].find(L"Close the messenger first"), std::wstring::npos);
    EXPECT_EQ(os.files.at(L"c:\\larkspool9\\larkspool9.reg"), samples::Regedit4(before));
    // Asked before anything changed; the safety backup checked before the key was touched.
    std::vector<std::wstring> order;
    for (const std::wstring& call : os.calls) {
        for (const wchar_t* step :
             {L"Ask", L"MakeNewDir", L"ReadFileBytes C:\\Larkspool9", L"SaveSetting", L"DeleteRegistryTree",
              L"WriteRegistryTree", L"ReadRegistryTree", L"RenameRegistryKey", L"DeleteSetting"}) {
            if (call.rfind(step, 0) == 0 && (order.empty() || order.back() != step)) {
                order.emplace_back(step);
            }
        }
    }
    // The new list is written beside the key and read back before the two change places; the
    // list before goes only once the new one has read back in place.
    EXPECT_EQ(order, (std::vector<std::wstring>{L"ReadRegistryTree", L"Ask", L"MakeNewDir", L"ReadRegistryTree",
                                                L"ReadFileBytes C:\\Larkspool9", L"SaveSetting", L"DeleteRegistryTree",
                                                L"WriteRegistryTree", L"ReadRegistryTree", L"SaveSetting",
                                                L"RenameRegistryKey", L"SaveSetting", L"RenameRegistryKey",
                                                L"ReadRegistryTree", L"SaveSetting", L"DeleteRegistryTree",
                                                L"DeleteSetting"}));
    EXPECT_TRUE(NothingLeft());
}

TEST_F(Restoring, NoChangesWhenTheUserSaysNo)
{
    os.answer = false;
    const platform::RegistryTree before = os.addOnTree;
    EXPECT_FALSE(Restore().restored);
    EXPECT_TRUE(KeyIs(before));
    EXPECT_EQ(safetyBackups, 0);
}

TEST_F(Restoring, WithoutTheKeyThereIsNothingToKeep)
{
    os.registryKeys.clear();
    os.addOnTree.clear();
    const backup::RestoreOutcome outcome = Restore();
    EXPECT_TRUE(outcome.restored);
    EXPECT_EQ(safetyBackups, 0);
    EXPECT_EQ(outcome.message, L"Backup 5 restored: 3 values in 2 keys, checked. There was no list before.");
    EXPECT_TRUE(KeyIs(old));
}

// A file in C:\ may have been planted to make the registry start a program: it is refused and
// nothing changes, whatever way it names another key.
TEST_F(Restoring, FileThatWritesElsewhereOrDeletesIsRefused)
{
    struct Case {
        std::string section;
        std::string value;
        std::wstring why;
    };
    const Case cases[] = {
        {"[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]", "\"x\"=\"C:\\\\evil.exe\"",
         L"line 10: it writes to HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run, outside"},
        {"[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\..\\..\\Microsoft\\Windows\\CurrentVersion\\Run]",
         "\"x\"=\"y\"", L"line 10: it writes to HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\..\\..\\Microsoft"},
        {"[HKEY_LOCAL_MACHINE\\Software\\Zephrix\\Wrenlet2]", "\"x\"=\"y\"",
         L"line 10: it writes to HKEY_LOCAL_MACHINE\\Software\\Zephrix\\Wrenlet2, outside"},
        {"[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2Evil]", "\"x\"=\"y\"", L"line 10: it writes to"},
        {"[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\\\Sub]", "\"x\"=\"y\"", L"line 10: it writes to"},
        {"[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\.]", "\"x\"=\"y\"", L"line 10: it writes to"},
        {"[-HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\CustomNames]", "",
         L"line 10: it deletes the key HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\CustomNames."},
        {"[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2]", "\"Version\"=-",
         L"line 11: it deletes the value \"Version\"."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section + " " + c.value);
        Restoring::SetUp();
        os.calls.clear();
        const platform::RegistryTree before = os.addOnTree;
        os.files[L"c:\\larkspool5\\larkspool5.reg"] = samples::Regedit4(old) + c.section + "\r\n" + c.value + "\r\n";
        const backup::RestoreOutcome outcome = Restore();
        EXPECT_FALSE(outcome.restored);
        EXPECT_NE(outcome.message.find(L"Backup 5 is not restored: " + c.why), std::wstring::npos)
            << Narrow(outcome.message);
        EXPECT_NE(outcome.message.find(L"Nothing was changed."), std::wstring::npos);
        EXPECT_TRUE(os.CallsNamed(L"Ask").empty());
        EXPECT_TRUE(os.CallsNamed(L"DeleteRegistryTree").empty());
        EXPECT_TRUE(KeyIs(before));
    }
}

// Sections as the registry tool imports them: the keys above a section are made, backslashes at
// the end of its path dropped; the key reads back equal to that.
TEST_F(Restoring, KeysThatSectionsImplyAreNoDifference)
{
    const std::wstring root = samples::kRoot;
    os.files[L"c:\\larkspool5\\larkspool5.reg"] =
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2\\CustomNames\\Deep\\\\]\r\n\"x\"=\"y\"\r\n";
    const backup::RestoreOutcome outcome = Restore();
    EXPECT_TRUE(outcome.restored) << Narrow(outcome.message);
    EXPECT_TRUE(KeyIs({{.path = root, .values = {}},
                       {.path = root + L"\\CustomNames", .values = {}},
                       {.path = root + L"\\CustomNames\\Deep", .values = {Sz(L"x", L"y")}}}));
}

TEST_F(Restoring, UnreadableOrEmptyBackupIsRefused)
{
    const std::pair<std::string, std::wstring> cases[] = {
        {"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER", L"cannot be read: line 3: "},
        {"REGEDIT4\r\n\r\n", L"is not restored: it writes nothing of HKEY_CURRENT_USER\\Software\\Zephrix\\Wrenlet2."},
    };
    for (const auto& [file, why] : cases) {
        os.files[L"c:\\larkspool5\\larkspool5.reg"] = file;
        const backup::RestoreOutcome outcome = Restore();
        EXPECT_NE(outcome.message.find(why), std::wstring::npos) << Narrow(outcome.message);
        EXPECT_TRUE(os.CallsNamed(L"Ask").empty());
        EXPECT_TRUE(os.CallsNamed(L"DeleteRegistryTree").empty());
    }
}

TEST_F(Restoring, SafetyBackupThatFailsStopsBeforeAnyChange)
{
    struct Case {
        const char* what;
        std::function<void(Restoring&)> arrange;
        std::wstring why;
    };
    const Case cases[] = {
        {"the tool fails", [](Restoring& r) { r.os.onSleep = [&r] { *r.os.lastExit = 1; }; },
         L"did not check out: Export failed: reg.exe ended with code 1"},
        {"the file differs",
         [](Restoring& r) {
             r.os.onSleep = [&r] {
                 r.os.files[L"c:\\larkspool9\\larkspool9.reg"] = samples::Regedit4(r.old);
                 *r.os.lastExit = 0;
             };
         },
         L"did not check out: Backup differs from the registry"},
        {"no backup could start", [](Restoring& r) { r.os.failing = L"Shell"; }, L"The device is not ready."},
        {"the list cannot be read before the question",
         [](Restoring& r) {
             r.os.failing = L"ReadRegistryTree";
             r.os.failingOnce = true;
         },
         L"Backup 5 is not restored: the list as it is now cannot be read: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Restoring::SetUp();
        safety.reset();
        const platform::RegistryTree before = os.addOnTree;
        c.arrange(*this);
        backup::RestoreOutcome outcome;
        try {
            outcome = Restore();
        } catch (const platform::Failure& failure) {
            outcome.message = failure.text(); // the window's dispatcher tells this one
        }
        EXPECT_FALSE(outcome.restored);
        EXPECT_NE(outcome.message.find(c.why), std::wstring::npos) << Narrow(outcome.message);
        EXPECT_TRUE(os.CallsNamed(L"DeleteRegistryTree").empty());
        EXPECT_TRUE(KeyIs(before));
    }
}

// A string with a NUL inside is a value the registry tool cannot write: its safety backup never
// checks out, so the user is told which values it lacks and may go on.
TEST_F(Restoring, ValuesTheToolCannotWriteAreNamedAndTheUserMayGoOn)
{
    platform::RegistryValue& nul = os.addOnTree[1].values[0];
    nul.data = {'a', 0, 0, 0, 'b', 0, 0, 0};
    os.onSleep = [this] {
        if (safety && !*os.lastExit) {
            platform::RegistryTree written = os.addOnTree;
            written[1].values[0] = Sz(L"alice@example.org", L"a");
            os.files[fake::Lower(backup::BackupFile(safety->runNumber()))] = samples::Regedit4(written);
            *os.lastExit = 0;
        }
    };
    os.answers = {true, false};
    EXPECT_FALSE(Restore().restored);
    ASSERT_EQ(os.questions.size(), 2u);
    EXPECT_NE(os.questions[1].find(L"lacks values that the registry tool cannot write as they are:\nchanged  "
                                   L"\\CustomNames  alice@example.org"),
              std::wstring::npos)
        << Narrow(os.questions[1]);
    EXPECT_TRUE(os.CallsNamed(L"RenameRegistryKey").empty());
    safety.reset();
    EXPECT_TRUE(Restore().restored);
    EXPECT_TRUE(KeyIs(old));
}

// Whatever fails once the key is touched, the list from before is put back from its backup.
TEST_F(Restoring, FailureAfterTheKeyWasTouchedPutsTheListBack)
{
    struct Case {
        const char* what;
        std::function<void(Restoring&)> arrange;
        std::wstring why;
    };
    const Case cases[] = {
        {"removing a stale new list fails",
         [](Restoring& r) {
             r.os.failing = L"DeleteRegistryTree";
             r.os.failingOnce = true;
         },
         L"\"HKCU\\Software\\Zephrix\\Wrenlet2.LarkSpool-restore\" failed:\nThe device is not ready."},
        {"writing fails",
         [](Restoring& r) {
             r.os.failing = L"WriteRegistryTree";
             r.os.failingOnce = true;
         },
         L"failed:\nThe device is not ready."},
        {"the key reads back different",
         [](Restoring& r) {
             r.os.onWrite = [&r](platform::RegistryTree& tree) {
                 if (tree[0].values.size() == 2) {
                     tree[0].values.pop_back();
                     r.os.onWrite = nullptr;
                 }
             };
         },
         L"the key read back differs from it (0 added, 1 removed, 0 changed)"},
        {"reading back fails",
         [](Restoring& r) {
             r.os.failing = L"ReadRegistryTree";
             r.os.failingAfter = 2; // the question's and the safety backup's reads work
             r.os.failingOnce = true;
         },
         L"The device is not ready."},
        {"reading back in place fails",
         [](Restoring& r) {
             r.os.failing = L"ReadRegistryTree";
             r.os.failingAfter = 3;
             r.os.failingOnce = true;
         },
         L"The device is not ready."},
        {"the second rename fails",
         [](Restoring& r) {
             r.os.failing = L"RenameRegistryKey";
             r.os.failingAfter = 1;
             r.os.failingOnce = true;
         },
         L"Wrenlet2.LarkSpool-restore Wrenlet2\" failed:\nThe device is not ready."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Restoring::SetUp();
        safety.reset();
        const platform::RegistryTree before = os.addOnTree;
        c.arrange(*this);
        const backup::RestoreOutcome outcome = Restore();
        EXPECT_FALSE(outcome.restored);
        EXPECT_EQ(outcome.message.rfind(L"Backup 5 was not restored: ", 0), 0u) << Narrow(outcome.message);
        EXPECT_NE(outcome.message.find(c.why), std::wstring::npos) << Narrow(outcome.message);
        EXPECT_NE(outcome.message.find(L"The list as it was before is back (backup 9)."), std::wstring::npos)
            << Narrow(outcome.message);
        EXPECT_TRUE(KeyIs(before));
        EXPECT_TRUE(NothingLeft());
    }
}

// Faults of a restore that meets someone else: another LarkSpool, the messenger, a journal that
// cannot be removed.
TEST_F(Restoring, OthersAtWork)
{
    struct Case {
        const char* what;
        std::function<void(Restoring&)> arrange;
        backup::RestoreOutcome::Result result;
        std::wstring message; // its start
    };
    const Case cases[] = {
        {"another LarkSpool restores",
         [](Restoring& r) {
             r.os.lockHeldElsewhere = true;
             r.os.settings[L"lsBundle\\Restore\\Step"] = L"writing";
         },
         backup::RestoreOutcome::Result::Busy, backup::kAnotherIsRestoring},
        // A backup only reads: the restore waits for it where it would change the key.
        {"another LarkSpool backs up, for longer than is waited", [](Restoring& r) { r.os.lockHeldElsewhere = true; },
         backup::RestoreOutcome::Result::Busy, backup::kAnotherIsBackingUp},
        {"another LarkSpool backs up, and ends",
         [](Restoring& r) {
             r.os.lockHeldElsewhere = true;
             r.os.onLockWait = [&r] { r.os.lockHeldElsewhere = false; };
         },
         backup::RestoreOutcome::Result::Restored, L"Backup 5 restored: 3 values in 2 keys, checked."},
        {"the messenger stores a list where there was none",
         [](Restoring& r) {
             r.os.registryKeys.clear();
             r.os.addOnTree.clear();
             r.os.onWrite = [&r](platform::RegistryTree&) {
                 r.os.registryKeys.insert(L"hkcu\\software\\zephrix\\wrenlet2");
                 r.os.addOnTree = {{.path = samples::kRoot, .values = {Sz(L"new", L"Newly stored")}}};
                 r.os.onWrite = nullptr;
             };
         },
         backup::RestoreOutcome::Result::PutBack,
         L"Backup 5 is not restored: a list was stored while the restore ran. Restore again to back it up first."},
        {"the journal cannot be removed",
         [](Restoring& r) {
             r.os.failing = L"DeleteSetting";
             r.os.failingOnce = true;
         },
         backup::RestoreOutcome::Result::Restored,
         L"Backup 5 restored: 3 values in 2 keys, checked. The list as it was before is backup 9. The note of this "
         L"restore could not be removed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        os = fake::Os();
        Restoring::SetUp();
        safety.reset();
        c.arrange(*this);
        const platform::RegistryTree before = os.addOnTree;
        const backup::RestoreOutcome outcome = Restore();
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.message.rfind(c.message, 0), 0u) << Narrow(outcome.message);
        EXPECT_TRUE(c.result == backup::RestoreOutcome::Result::Restored ? KeyIs(old) : KeyIs(os.addOnTree));
        EXPECT_TRUE(os.otherKeys.empty());
        if (c.result == backup::RestoreOutcome::Result::Busy) {
            EXPECT_EQ(os.questions.empty(), c.message == backup::kAnotherIsRestoring) << "told at once";
            EXPECT_TRUE(KeyIs(before));
        }
        EXPECT_EQ(os.locksHeld, 0);
    }
    // The journal names its owner while the key changes.
    os = fake::Os();
    Restoring::SetUp();
    os.onWrite = [this](platform::RegistryTree&) {
        EXPECT_EQ(os.settings[L"lsBundle\\Restore\\Owner"], L"process 42 started 12-07-2026 3:04:05 PM");
        EXPECT_EQ(os.locksHeld, 1);
        os.onWrite = nullptr;
    };
    EXPECT_TRUE(Restore().restored);
}

// A journal is also what a live restore keeps: the next start recovers only once it has the lock;
// two starts after a crash, one recovers and the other then finds nothing to do.
TEST_F(Restoring, RecoveryWaitsForTheLock)
{
    os.killAt = 11; // the list before renamed aside
    EXPECT_THROW(Restore(), fake::Killed);
    os.killAt = -1;
    const std::size_t changes = os.changes;
    os.lockHeldElsewhere = true;
    const std::optional<backup::Recovery> busy = backup::RecoverInterruptedRestore(os, 2000);
    ASSERT_TRUE(busy);
    EXPECT_TRUE(busy->busy);
    EXPECT_EQ(os.CallsNamed(L"LockList").back(), L"2000");
    EXPECT_EQ(os.changes, changes) << "nothing touched";
    // The other start recovers while this one waits.
    os.onLockWait = [this] {
        os.lockHeldElsewhere = false;
        ASSERT_TRUE(backup::RecoverInterruptedRestore(os));
    };
    os.lockHeldElsewhere = true;
    EXPECT_FALSE(backup::RecoverInterruptedRestore(os));
    EXPECT_TRUE(NothingLeft());
    // A journal that names no safety backup never says "is back ()".
    os.settings[L"lsBundle\\Restore\\Step"] = L"writing";
    const std::optional<backup::Recovery> noSafety = backup::RecoverInterruptedRestore(os);
    ASSERT_TRUE(noSafety);
    EXPECT_EQ(noSafety->message, L"A restore of a backup was interrupted. The list as it was before is back.");
}

// When putting back fails too, the journal stays, and the next start puts the list back.
TEST_F(Restoring, PuttingBackThatFailsTooIsDoneAtTheNextStart)
{
    const platform::RegistryTree before = os.addOnTree;
    os.failing = L"RenameRegistryKey";
    os.failingAfter = 1;
    const backup::RestoreOutcome outcome = Restore();
    EXPECT_FALSE(outcome.restored);
    EXPECT_NE(outcome.message.find(L"Putting the previous list back failed too"), std::wstring::npos);
    EXPECT_NE(outcome.message.find(L"It is kept in C:\\Larkspool9\\Larkspool9.reg."), std::wstring::npos)
        << Narrow(outcome.message);
    os.failing.clear();
    const std::optional<backup::Recovery> recovery = backup::RecoverInterruptedRestore(os);
    ASSERT_TRUE(recovery);
    EXPECT_EQ(recovery->message,
              L"A restore of backup 5 was interrupted. The list as it was before is back (backup 9).");
    EXPECT_TRUE(KeyIs(before));
    EXPECT_TRUE(NothingLeft());
    EXPECT_FALSE(backup::RecoverInterruptedRestore(os)) << "told once";
}

// Killed at any change of the registry or the journal, the next start leaves the key exactly the
// backup or exactly the list from before, says which, and leaves nothing behind.
TEST_F(Restoring, KilledAtAnyStepIsFinishedOrUndoneAtTheNextStart)
{
    for (const int variant : {0, 1, 2, 3}) {
        const bool listBefore = variant % 2 == 0;
        const bool renameInSteps = variant >= 2;
        for (int killAt = 0;; ++killAt) {
            SCOPED_TRACE(testing::Message() << "list before: " << listBefore << ", renames in steps: " << renameInSteps
                                            << ", killed at change " << killAt);
            os = fake::Os();
            Restoring::SetUp();
            os.renameInSteps = renameInSteps;
            safety.reset();
            if (!listBefore) {
                os.registryKeys.clear();
                os.addOnTree.clear();
            }
            const platform::RegistryTree before = os.addOnTree;
            os.killAt = killAt;
            try {
                Restore();
                EXPECT_TRUE(KeyIs(old));
                break; // every change has had its turn
            } catch (const fake::Killed&) {
            }
            os.killAt = -1;
            const std::optional<backup::Recovery> recovery = backup::RecoverInterruptedRestore(os);
            EXPECT_TRUE(NothingLeft());
            if (!recovery) {
                EXPECT_TRUE(KeyIs(before)) << "killed before the journal: nothing had changed";
                continue;
            }
            EXPECT_FALSE(recovery->failed);
            const bool restored =
                recovery->message.find(L"It is complete: the list is backup 5.") != std::wstring::npos;
            EXPECT_TRUE(restored ? KeyIs(old) : KeyIs(before)) << Narrow(recovery->message);
            EXPECT_EQ(restored || os.registryKeys.count(L"hkcu\\software\\zephrix\\wrenlet2") == listBefore, true);
        }
    }
}

// The next start cannot always put the list back: it says where the list before is kept, and
// tries again at the start after.
TEST_F(Restoring, RecoveryThatFailsKeepsItsJournal)
{
    struct Case {
        const char* what;
        std::function<void(Restoring&)> arrange;
        std::wstring why;
    };
    const Case cases[] = {
        {"the renames fail", [](Restoring& r) { r.os.failing = L"RenameRegistryKey"; }, L"The device is not ready."},
        {"the safety backup is gone",
         [](Restoring& r) {
             r.os.otherKeys.clear();
             r.os.files.erase(L"c:\\larkspool9\\larkspool9.reg");
         },
         L"cannot find the file"},
        {"the safety backup is unreadable",
         [](Restoring& r) {
             r.os.otherKeys.clear();
             r.os.files[L"c:\\larkspool9\\larkspool9.reg"] = "REGEDIT4\r\n[HKEY";
         },
         L"C:\\Larkspool9\\Larkspool9.reg cannot be read: line 2"},
        {"writing fails",
         [](Restoring& r) {
             r.os.otherKeys.clear();
             r.os.failing = L"WriteRegistryTree";
         },
         L"The device is not ready."},
        {"the safety backup was replaced by one that writes elsewhere",
         [](Restoring& r) {
             r.os.otherKeys.clear();
             r.os.files[L"c:\\larkspool9\\larkspool9.reg"] =
                 "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n\"x\"="
                 "\"y\"\r\n";
         },
         L"C:\\Larkspool9\\Larkspool9.reg is not restored: line 3: it writes to "
         L"HKEY_CURRENT_USER\\Software\\Microsoft"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        os = fake::Os();
        Restoring::SetUp();
        safety.reset();
        os.killAt = 11; // the list before renamed aside, the new one not yet in place
        EXPECT_THROW(Restore(), fake::Killed);
        ASSERT_EQ(os.otherKeys.count(L"hkcu\\software\\zephrix\\wrenlet2.larkspool-before"), 1u) << "the kill's moment";
        os.killAt = -1;
        c.arrange(*this);
        const std::optional<backup::Recovery> recovery = backup::RecoverInterruptedRestore(os);
        ASSERT_TRUE(recovery);
        EXPECT_TRUE(recovery->failed);
        EXPECT_NE(recovery->message.find(c.why), std::wstring::npos) << Narrow(recovery->message);
        EXPECT_NE(recovery->message.find(L"It is kept in C:\\Larkspool9\\Larkspool9.reg."), std::wstring::npos);
        EXPECT_EQ(os.settings.count(L"lsBundle\\Restore\\Step"), 1u);
    }
}

} // namespace
