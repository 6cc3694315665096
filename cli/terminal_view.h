#pragma once
// The window logic's screen on a terminal. The file dialog is answered from the command line,
// progress goes to stderr (see ProgressDisplay), message boxes become lines, and the hidden
// settings texts come from options. Posted calls run on the thread that calls RunUntilJobEnd
// (the program's main thread plays the window's thread).
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/job_result.h"
#include "app/main_view.h"
#include "cli/progress_display.h"

namespace cli {

class TerminalView : public MainView {
public:
    struct Options {
        std::ostream* out = nullptr;  // messages for the user, JSON lines
        std::ostream* err = nullptr;  // progress, error messages
        bool json = false;
        bool errIsTerminal = false;
        std::string unit = "frames";
        // What plain progress lines say they count; none: "progress" and the unit.
        std::optional<ProgressSubject> subject;
        // What the file dialog answers; nothing means "cancelled".
        std::optional<std::string> fileAnswer;
        std::map<Setting, std::string> settings;
        // One bar for the whole file when a job sends it in several runs of frames (the
        // course data's chunks): the frames of the file, or 0 when only the runs tell.
        std::optional<int64_t> wholeFileFrames;
    };

    struct Message {
        std::string text;
        std::string caption;
        MessageIcon icon;
    };

    explicit TerminalView(Options options);
    ~TerminalView() override;

    // --- MainView --------------------------------------------------------------------------
    void Post(std::function<void()> call) override;
    void SetTitle(const std::string&) override {}
    void SetButtonEnabled(JobButton, bool) override {}
    void SetTabControlEnabled(bool) override {}
    void SetCloseAllowed(bool) override {}
    void SetProgressMaximum(int32_t maximum) override;
    void SetProgressValue(int32_t value) override;
    void StepProgress() override;
    void SetProgressVisible(bool visible) override;
    void SetProgressRange(int32_t maximum, int32_t value) override;
    void SetProgressStage(ProgressStage stage) override;
    void ShowMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override;
    std::optional<std::string> AskOpenFile(const OpenFileRequest& request) override;
    std::string SettingText(Setting setting) override;
    void SetLabelPackets(const std::string&) override {}
    bool OpenUrl(const std::string& url) override;
    void JobEnded(const JobResult& result) override;

    // --- The event loop --------------------------------------------------------------------
    // Runs posted calls on this thread until the job has ended and every call it posted ran.
    // `jobAlive` tells whether the job thread still runs: a job that is gone without its end
    // being posted (it never started) ends the loop after a short grace.
    // `onWake` runs on this thread at every wake-up (at least every 100 ms), for example to
    // pass an interrupt on to the job.
    void RunUntilJobEnd(const std::function<bool()>& jobAlive,
                        const std::function<void()>& onWake = {});
    // Runs the calls posted so far.
    void RunPosted();
    // Runs posted calls until `busy` turns false (a device query's outcome has been applied),
    // then the calls posted so far.
    void RunWhile(const std::function<bool()>& busy);

    std::vector<Message> Messages() const;
    // The result of the job that ended, if one did.
    std::optional<JobResult> Result() const;
    std::vector<OpenFileRequest> FileRequests() const;

private:
    uint64_t NowMs() const;
    // Whole-file progress: the runs before the current one, and the current run.
    void ShowWholeFile(uint64_t nowMs);
    bool inRuns_ = false;
    int64_t runsBefore_ = 0;
    int32_t runMaximum_ = 0;
    int32_t runDone_ = 0;

    Options options_;
    ProgressDisplay progress_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> calls_;
    bool jobEnded_ = false;
    std::optional<JobResult> result_;
    std::vector<Message> messages_;
    std::vector<OpenFileRequest> fileRequests_;
};

}  // namespace cli
