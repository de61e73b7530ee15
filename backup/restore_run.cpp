// The restore as one job that the window and the command line both start and watch: the plan
// read off the caller's thread, the question, the safety backup, the key's replacement; and what it
// tells while it runs.
#include "backup/restore.h"

#include "backup/export.h"

namespace backup {

namespace {

constexpr int kWaitStep = 50;
constexpr std::chrono::milliseconds kPercentAfter{1000};

RestoreOutcome SafetyFailed(RestoreOutcome outcome)
{
    outcome.result = RestoreOutcome::Result::SafetyFailed;
    return outcome;
}

} // namespace

void RestoreProgress::Step(const std::wstring& text)
{
    {
        const std::lock_guard<std::mutex> guard(lock_);
        lines_.push_back(text);
        percent_.clear();
        done_ = 0;
        total_ = 0;
        stepStarted_ = std::chrono::steady_clock::now();
    }
    if (onStep_) {
        onStep_(text);
    }
}

void RestoreProgress::Done(std::size_t done, std::size_t total)
{
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard<std::mutex> guard(lock_);
    done_ = done;
    total_ = total;
    if (total != 0 && now - stepStarted_ >= kPercentAfter) {
        percent_ = L": " + std::to_wstring(done * 100 / total) + L"%";
    }
}

std::wstring RestoreProgress::Text()
{
    const std::lock_guard<std::mutex> guard(lock_);
    std::wstring text;
    for (const std::wstring& line : lines_) {
        text += (text.empty() ? L"" : L"\r\n") + line;
    }
    return text + percent_;
}

RestoreProgress::Share RestoreProgress::Current()
{
    const std::lock_guard<std::mutex> guard(lock_);
    return {lines_.empty() ? std::wstring() : lines_.back(), done_, total_};
}

RestoreRun::RestoreRun(platform::Os& os, const std::wstring& firstStep, MakePlan makePlan,
                       StartSafetyBackup safetyBackup, bool consented, std::function<void(const std::wstring&)> onStep)
    : os_(os), makePlan_(std::move(makePlan)), safetyBackup_(std::move(safetyBackup)), consented_(consented),
      progress_(std::make_shared<RestoreProgress>(std::move(onStep)))
{
    if (!firstStep.empty()) {
        progress_->Step(firstStep);
    }
}

RestoreRun::~RestoreRun()
{
    if (job_ && state_ != State::Replacing) {
        job_->LetGo(); // only reading: nothing to wait for
    }
}

RestoreRun::State RestoreRun::End(RestoreOutcome outcome)
{
    using Result = RestoreOutcome::Result;
    std::wstring name = plan_->label;
    if (name.rfind(L"Backup ", 0) == 0) {
        name[0] = L'b';
    }
    switch (outcome.result) {
    case Result::Restored:
        lastStep_ = L"Done: " + name + L" is the list now; " +
                    (safety_ ? L"the list before is backup " + safety_->runNumber() + L"."
                             : std::wstring(L"there was no list before."));
        break;
    case Result::PutBack:
        lastStep_ = L"Not restored: the list as it was before is back.";
        break;
    case Result::PutBackFailed:
        lastStep_ = L"Not restored, and the list as it was before is not back yet.";
        break;
    default:
        lastStep_ = L"Not restored: nothing was changed.";
    }
    outcome_ = std::move(outcome);
    state_ = State::Ended;
    return state_;
}

RestoreRun::State RestoreRun::Poll()
{
    try {
        if (job_ && !job_->Done()) {
            return state_;
        }
    } catch (const std::exception& error) {
        job_.reset();
        // While the key changed: the journal tells the next start how far it got.
        return End({.result = state_ == State::Replacing ? RestoreOutcome::Result::PutBackFailed
                                                         : RestoreOutcome::Result::Refused,
                    .restored = false,
                    .message = L"The restore failed: " + platform::FailureText(error),
                    .kind = platform::MessageKind::Error});
    }
    job_.reset();
    switch (state_) {
    case State::Planning:
        if (planStarted_) { // and read
            if (!plan_->refusal.empty()) {
                return End(
                    {.result = plan_->unreadable ? RestoreOutcome::Result::Unreadable : RestoreOutcome::Result::Refused,
                     .restored = false,
                     .message = plan_->refusal,
                     .kind = platform::MessageKind::Error});
            }
            if (consented_) {
                BackUpFirst();
            } else {
                question_ = plan_->question;
                state_ = State::Asking;
            }
            return state_;
        }
        // Told at once, before the question, when another LarkSpool is restoring; one that backs the
        // list up is waited for once the key is to change.
        if (!os_.LockList(0) && RestoreLeft(os_)) {
            return End(Busy(kAnotherIsRestoring));
        }
        planStarted_ = true;
        job_ = os_.StartJob([&system = os_, plan = plan_, makePlan = makePlan_] { *plan = makePlan(system); });
        return Poll();
    case State::BackingUp: {
        try {
            if (safety_->Poll() == ExportRun::State::Exporting || safety_->state() == ExportRun::State::Checking) {
                return state_;
            }
        } catch (const platform::Failure& failure) {
            return End(SafetyFailed(NotRestored(*plan_, L"the backup of the list as it is now (backup " +
                                                            safety_->runNumber() + L") failed: " + failure.text())));
        }
        const std::optional<SafetyVerdict> verdict = JudgeSafetyBackup(*plan_, *safety_);
        if (!verdict) {
            Replace();
        } else if (!verdict->refusal.empty()) {
            return End(
                SafetyFailed({.restored = false, .message = verdict->refusal, .kind = platform::MessageKind::Error}));
        } else if (consented_) {
            return End(
                SafetyFailed(NotRestored(*plan_, verdict->question.substr(0, verdict->question.rfind(L"\n\n")))));
        } else {
            question_ = verdict->question;
            askingAboutSafety_ = true;
            state_ = State::Asking;
        }
        return state_;
    }
    case State::Replacing:
        return End(*replaced_);
    default:
        return state_;
    }
}

void RestoreRun::Answer(bool yes)
{
    if (state_ != State::Asking) {
        return;
    }
    question_.clear();
    if (!yes) {
        End({});
    } else if (askingAboutSafety_) {
        Replace();
    } else {
        BackUpFirst();
    }
}

void RestoreRun::BackUpFirst()
{
    if (!plan_->listExists) {
        Replace();
        return;
    }
    try {
        safety_ = safetyBackup_();
    } catch (const platform::Failure& failure) {
        End(SafetyFailed(
            NotRestored(*plan_, L"the list as it is now could not be backed up first: " + failure.text())));
        return;
    }
    if (!safety_) {
        End(SafetyFailed(NotRestored(*plan_, L"the list as it is now could not be backed up first.")));
        return;
    }
    progress_->Step(L"Backing up the list as it is now: backup " + safety_->runNumber());
    state_ = State::BackingUp;
}

void RestoreRun::Replace()
{
    state_ = State::Replacing;
    replaced_ = std::make_shared<RestoreOutcome>();
    job_ = os_.StartJob([&system = os_, plan = plan_, progress = progress_, outcome = replaced_,
                         safety = safety_ ? safety_->runNumber() : std::wstring()] {
        *outcome = ReplaceList(system, *plan, safety, *progress);
    });
}

bool RestoreRun::Wait(int milliseconds)
{
    for (int waited = 0; Poll() != State::Ended; waited += kWaitStep) {
        if (state_ == State::Asking || waited >= milliseconds) {
            return false;
        }
        os_.Sleep(kWaitStep);
    }
    return true;
}

} // namespace backup
