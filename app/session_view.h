#pragma once
// The window logic's view with the job's phases, messages and result going to the session log
// of the run (diag/session_log.h) as well: the command line's --log and the window's job logs.
#include <memory>
#include <string>

#include "app/job_result.h"
#include "app/main_view.h"
#include "diag/session_log.h"

// One line for the log about a job's end: "done records 12 rows 12", "failed device gone ...".
std::string ResultText(const JobResult& result);

// The window logic's view as a job reports to it, with the job's phases, messages and result
// going to the session log as well. Forwards everything to `inner`.
class SessionView : public MainView {
public:
    explicit SessionView(MainView& inner) : inner_(inner) {}

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
    void SetProgressStage(ProgressStage stage) override;
    void ShowMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override;
    std::optional<std::string> AskOpenFile(const OpenFileRequest& request) override;
    std::string SettingText(Setting setting) override { return inner_.SettingText(setting); }
    void SetLabelPackets(const std::string& text) override;
    bool OpenUrl(const std::string& url) override { return inner_.OpenUrl(url); }
    void ShowReportLink(bool visible) override { inner_.ShowReportLink(visible); }
    void JobEnded(const JobResult& result) override;

protected:
    MainView& Inner() { return inner_; }

private:
    void Progress(const char* what);
    MainView& inner_;
    // UI thread only.
    int64_t value_ = 0;
    int64_t maximum_ = 0;
};
