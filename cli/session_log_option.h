#pragma once
// --log FILE and --trace on every device command: the session log of the run (diag/), written
// while the command runs and ended with its exit status.
#include <memory>
#include <string>
#include <vector>

#include "app/job_result.h"
#include "app/main_view.h"
#include "diag/session_log.h"

namespace cli {

// The program's arguments as given, for the log's header; called by the entry point.
void RememberCommandLine(int argc, char** argv);
// The log of this run, or nullptr.
std::shared_ptr<diag::SessionLog> CurrentSessionLog();
// Writes the exit status and closes the log; the entry point calls it last.
void EndSessionLog(int exitCode);

// One line for the log about a job's end: "done rows 12", "failed device gone: ...".
std::string ResultText(const JobResult& result);

// The window logic's view as a job reports to it, with the job's phases, messages and result
// going to the session log as well. Forwards everything to `inner`.
class SessionView : public MainView {
public:
    explicit SessionView(MainView& inner) : inner_(inner), log_(CurrentSessionLog()) {}

    void Post(std::function<void()> call) override { inner_.Post(std::move(call)); }
    void SetTitle(const std::string& title) override { inner_.SetTitle(title); }
    void SetButtonEnabled(JobButton button, bool enabled) override {
        inner_.SetButtonEnabled(button, enabled);
    }
    void SetTabControlEnabled(bool enabled) override { inner_.SetTabControlEnabled(enabled); }
    void SetCloseAllowed(bool allowed) override { inner_.SetCloseAllowed(allowed); }
    void SetProgressMaximum(int32_t maximum) override;
    void SetProgressValue(int32_t value) override;
    void StepProgress() override;
    void SetProgressVisible(bool visible) override { inner_.SetProgressVisible(visible); }
    void SetProgressRange(int32_t maximum, int32_t value) override;
    void ShowMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override;
    std::optional<std::string> AskOpenFile(const OpenFileRequest& request) override {
        return inner_.AskOpenFile(request);
    }
    std::string SettingText(Setting setting) override { return inner_.SettingText(setting); }
    void SetLabelPackets(const std::string& text) override;
    bool OpenUrl(const std::string& url) override { return inner_.OpenUrl(url); }
    void JobEnded(const JobResult& result) override;

private:
    void Progress(const char* what);
    MainView& inner_;
    std::shared_ptr<diag::SessionLog> log_;
    // UI thread only.
    int64_t value_ = 0;
    int64_t maximum_ = 0;
};

}  // namespace cli
