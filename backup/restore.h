// A restore that cannot lose the current list: the backup is read and vetted, the user asked,
// the list as it is now backed up and checked, and the backup written beside the add-on's key,
// read back and only then swapped in by renaming. A journal in the settings store lets the next
// start finish or undo a restore that was cut off.
#pragma once

#include "backup/reg_file.h"
#include "platform/os.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace backup {

class ExportRun;

// The first line of the file that would write outside the add-on's key (another key, also
// through ".." or another root) or delete anything, with why, or that it writes nothing of that
// key; nothing when it may be restored.
// Backup folders lie in C:\, where a file could have been planted to make the registry start a
// program.
std::optional<std::wstring> RefusalReason(const RegFile& file);

// The keys beside the add-on's key that a restore writes and renames to.
constexpr wchar_t kRestoreKey[] = L"HKCU\\Software\\Zephrix\\Wrenlet2.LarkSpool-restore";
constexpr wchar_t kBeforeKey[] = L"HKCU\\Software\\Zephrix\\Wrenlet2.LarkSpool-before";

// What a LarkSpool that finds another changing the list says; nothing was changed.
constexpr wchar_t kAnotherIsRestoring[] = L"Another LarkSpool is restoring the list; try again when it has finished.";
constexpr wchar_t kAnotherIsBackingUp[] =
    L"Another LarkSpool is backing up the list or deleting backups; try again when it has finished.";

// Whether a restore's journal, or a key beside the add-on's key, is there: a restore runs, or was
// cut off.
bool RestoreLeft(platform::Os& os);
// Which of the two another LarkSpool that holds the list's lock is doing, by the journal.
std::wstring AnotherAtWork(platform::Os& os);

// How long a start waits for another LarkSpool's restore, or its recovery, to end, and a restore
// or a backup for another's backup: longer than the restore of a large list takes.
constexpr int kStartLockWait = 60000;

struct RestoreOutcome {
    // How far a restore got, as the command line's exit code tells it.
    enum class Result {
        Restored,
        Declined,      // the user said No; nothing was changed
        Unreadable,    // the file cannot be read; nothing was changed
        Refused,       // the file writes outside the key or deletes, or the key cannot be read; nothing changed
        SafetyFailed,  // the list as it is now could not be backed up and checked; nothing was changed
        PutBack,       // not restored; the list from before is back
        PutBackFailed, // not restored, and putting the list from before back failed too
        Busy,          // another LarkSpool holds the list's lock; nothing was changed
    };
    Result result = Result::Declined;
    bool restored = false;
    std::wstring message;
    platform::MessageKind kind = platform::MessageKind::Information;
};

class RestoreProgress {
public:
    RestoreProgress() = default;
    // `onStep` hears each step as it starts, on the restore's thread.
    explicit RestoreProgress(std::function<void(const std::wstring&)> onStep) : onStep_(std::move(onStep)) {}

    // A step starts.
    void Step(const std::wstring& text);
    // Part of a long step is done: shown as a percentage once the step has run for a second.
    void Done(std::size_t done, std::size_t total);
    // The steps so far, one a line.
    std::wstring Text();
    // The step under way and how much of it is done, at once; `total` 0 while it gives no count.
    struct Share {
        std::wstring step;
        std::size_t done = 0;
        std::size_t total = 0;
    };
    Share Current();

    // Asks the restore to end as soon as the key is whole: undone while the new list is being
    // written, finished once it is being swapped in.
    void Stop() { stop_ = true; }
    bool StopAsked() const { return stop_; }

private:
    std::mutex lock_;
    std::vector<std::wstring> lines_;
    std::wstring percent_;
    std::size_t done_ = 0;
    std::size_t total_ = 0;
    std::chrono::steady_clock::time_point stepStarted_{};
    std::atomic<bool> stop_{false};
    std::function<void(const std::wstring&)> onStep_;
};

// A restore before the user's word: the backup read and vetted, the list now read.
struct RestorePlan {
    std::wstring file;     // the backup's file
    std::wstring name;     // "backup 5 of 12-07-2026 3:04:05 PM", or the file's path
    std::wstring label;    // "Backup 5", or the file's path, as messages start
    std::wstring refusal;  // why it cannot be restored, as a message; nothing was changed
    std::wstring question; // what the user is asked
    platform::RegistryTree backup;
    bool listExists = false; // the add-on's key exists now, so a safety backup is due
    bool unreadable = false; // refused because the file cannot be read
};

// Reads and vets backup `runNumber`, created at `created` (as its date stamp says, may be
// empty). Safe to call from a job's thread; never throws a platform failure.
RestorePlan PlanRestore(platform::Os& os, const std::wstring& runNumber, const std::wstring& created);
// The same for any registration file, named by its path, with the date of the stamp beside it
// when there is one.
RestorePlan PlanRestoreFromFile(platform::Os& os, const std::wstring& file);

// Whether the safety backup allows the restore to go on: nothing when it checked out; else the
// message that refuses the restore, or (`question` set) a question, when it lacks only values
// that the registry tool cannot write (strings with a NUL inside or an odd number of bytes).
struct SafetyVerdict {
    std::wstring refusal;
    std::wstring question;
};
std::optional<SafetyVerdict> JudgeSafetyBackup(const RestorePlan& plan, const ExportRun& safety);

// The add-on's key replaced by the plan's backup, swapped in whole and read back; on any failure
// the list from before stays or is put back. `safetyRunNumber` names the checked backup of the
// list before; empty when there was none. Runs on a job's thread, which holds the list's lock
// throughout; gives Busy when another LarkSpool holds it.
RestoreOutcome ReplaceList(platform::Os& os, const RestorePlan& plan, const std::wstring& safetyRunNumber,
                           RestoreProgress& progress);

// The refusal of a restore whose plan or safety backup stopped it.
RestoreOutcome NotRestored(const RestorePlan& plan, const std::wstring& why);
// The refusal of a restore while another LarkSpool holds the list's lock, saying what it does.
RestoreOutcome Busy(const std::wstring& why);

// Starts a backup of the key as it is now, the way a click on "Export Custom Names" does, and
// gives the run; null when none could be started (the user has been told why). A platform
// failure (drive C: cannot be written) refuses the restore with its words.
using StartSafetyBackup = std::function<std::shared_ptr<ExportRun>()>;

// One restore from the reading of the backup to the list read back in place: the window and the
// command line both start it and watch it; they only ask and show. The backup is read and the
// key changed off the caller's thread; the safety backup is started on it.
class RestoreRun {
public:
    enum class State { Planning, Asking, BackingUp, Replacing, Ended };
    using MakePlan = std::function<RestorePlan(platform::Os&)>;

    // `consented`: the command was the consent, so nothing is asked, and a safety backup that
    // lacks values refuses the restore. `onStep` hears each step, on whichever thread runs it.
    RestoreRun(platform::Os& os, const std::wstring& firstStep, MakePlan makePlan, StartSafetyBackup safetyBackup,
               bool consented, std::function<void(const std::wstring&)> onStep = nullptr);
    // Waits for the key to be whole, unless let go.
    ~RestoreRun();
    RestoreRun(const RestoreRun&) = delete;
    RestoreRun& operator=(const RestoreRun&) = delete;

    // Moves on as far as it can without waiting.
    State Poll();
    State state() const noexcept { return state_; }
    // While Asking: the question, to be answered Yes or No.
    const std::wstring& question() const noexcept { return question_; }
    void Answer(bool yes);
    // Whether the key is being changed: the restore must not be cut off now.
    bool ChangingKey() const noexcept { return state_ == State::Replacing; }
    // Asks it to end as soon as the key is whole.
    void Stop() { progress_->Stop(); }
    // Polls until it has ended or the time is up; whether it ended. Never asks.
    bool Wait(int milliseconds);
    // The steps so far, one a line.
    std::wstring Steps() { return progress_->Text(); }
    RestoreProgress::Share CurrentStep() { return progress_->Current(); }
    // Once Ended.
    const RestoreOutcome& outcome() const noexcept { return outcome_; }
    // Once Ended, the outcome in one line, as the last of the steps: "Done: backup 16 is the list
    // now; the list before is backup 15."
    const std::wstring& lastStep() const noexcept { return lastStep_; }
    // The safety backup's run, once started.
    const std::shared_ptr<ExportRun>& safety() const noexcept { return safety_; }

private:
    void BackUpFirst();
    void Replace();
    State End(RestoreOutcome outcome);

    platform::Os& os_;
    MakePlan makePlan_;
    StartSafetyBackup safetyBackup_;
    bool consented_;
    State state_ = State::Planning;
    bool planStarted_ = false;
    bool askingAboutSafety_ = false;
    std::wstring question_;
    std::shared_ptr<RestoreProgress> progress_;
    std::shared_ptr<RestorePlan> plan_ = std::make_shared<RestorePlan>();
    std::shared_ptr<ExportRun> safety_;
    std::shared_ptr<RestoreOutcome> replaced_;
    RestoreOutcome outcome_;
    std::wstring lastStep_;
    std::unique_ptr<platform::Job> job_; // last: it writes plan_ and replaced_ until it has ended
};

// At every start: a restore that was cut off (a journal entry, or a key beside the add-on's key)
// is finished or undone, once the list's lock is free (waiting at most `lockWait` ms): a restore
// that another LarkSpool is running is never taken for one cut off. Nothing when there was none;
// else what to tell the user. `failed`: the key could not be made whole, and nothing else may
// write to it in this run. `busy`: another LarkSpool still holds the lock; nothing was done.
struct Recovery {
    std::wstring message;
    bool failed = false;
    bool busy = false;
};
std::optional<Recovery> RecoverInterruptedRestore(platform::Os& os, int lockWait = kStartLockWait);

} // namespace backup
