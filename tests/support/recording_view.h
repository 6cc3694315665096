#pragma once
// A MainView for tests: records what the window logic shows, answers the file dialog from a
// queue, and keeps posted calls in a queue that the test (playing the UI thread) runs with
// RunPosted or Pump. A gate can hold every Post made by another thread, which keeps a job
// thread "running" for as long as a test needs.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/job_result.h"
#include "app/main_view.h"
#include "app/ui_busy_meter.h"

class RecordingView : public MainView {
public:
    struct Message {
        std::string text;
        std::string caption;
        MessageIcon icon;
        bool fromUiThread;
    };

    RecordingView() : uiThread_(std::this_thread::get_id()) {
        settings_[Setting::textUpAddr] = "0";
        settings_[Setting::textUpLen] = "786432";
        settings_[Setting::textBoxPathUp] = "2622d";
        settings_[Setting::textBoxPathKro] = "2622d";
    }
    ~RecordingView() override { OpenGate(); }

    // --- MainView -----------------------------------------------------------------------
    void Post(std::function<void()> call) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (std::this_thread::get_id() != uiThread_) {
            ++postsFromOtherThreads_;
            changed_.notify_all();
            gateCv_.wait(lock, [this] { return !gateClosed_; });
        }
        posted_.push_back(std::move(call));
        changed_.notify_all();
    }
    void SetTitle(const std::string& title) override {
        Log("title", title);
        title_ = title;
    }
    void SetButtonEnabled(JobButton button, bool enabled) override {
        Log(ButtonName(button), enabled ? "on" : "off");
        buttons_[button] = enabled;
    }
    void SetTabControlEnabled(bool enabled) override {
        Log("tabs", enabled ? "on" : "off");
        tabs_ = enabled;
    }
    void SetCloseAllowed(bool allowed) override {
        Log("close", allowed ? "on" : "off");
        close_ = allowed;
    }
    void SetProgressMaximum(int32_t maximum) override {
        Log("max", std::to_string(maximum));
        progressMax_ = maximum;
        if (progressValue_ > maximum) progressValue_ = maximum;
    }
    void SetProgressValue(int32_t value) override {
        Log("value", std::to_string(value));
        progressValue_ = value;
    }
    void StepProgress() override {
        Log("step", "");
        if (progressValue_ < progressMax_) ++progressValue_;
    }
    void SetProgressVisible(bool visible) override {
        Log("bar", visible ? "on" : "off");
        barVisible_ = visible;
    }
    void ShowMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back({text, caption, icon, std::this_thread::get_id() == uiThread_});
        log_.push_back("message:" + text);
        changed_.notify_all();
    }
    std::optional<std::string> AskOpenFile(const OpenFileRequest& request) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (gateAtDialog_) gateClosed_ = true;
        gateAtDialog_ = false;
        fileRequests_.push_back(request);
        log_.push_back("dialog:" + request.filter);
        if (fileAnswers_.empty()) return std::nullopt;
        auto answer = fileAnswers_.front();
        fileAnswers_.pop_front();
        return answer;
    }
    std::string SettingText(Setting setting) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return settings_[setting];
    }
    void SetLabelPackets(const std::string& text) override {
        Log("packets", text);
        labelPackets_ = text;
    }
    bool OpenUrl(const std::string& url) override {
        Log("url", url);
        urls_.push_back(url);
        return true;
    }
    void ShowReportLink(bool visible) override { Log("report-link", visible ? "on" : "off"); }
    void JobEnded(const JobResult& result) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++jobsEnded_;
        results_.push_back(result);
        log_.push_back("job-ended");
        changed_.notify_all();
    }

    // --- Test controls ------------------------------------------------------------------
    // Runs the calls posted so far (and those they post), in order; returns how many ran.
    int RunPosted() {
        int ran = 0;
        for (;;) {
            std::function<void()> call;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (posted_.empty()) return ran;
                call = std::move(posted_.front());
                posted_.pop_front();
            }
            busy_.Time("posted call", call);
            ++ran;
        }
    }
    // Runs posted calls until `done` holds or `timeoutMs` passes; returns done().
    bool Pump(const std::function<bool()>& done, int timeoutMs = 5000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            RunPosted();
            if (done()) return true;
            std::unique_lock<std::mutex> lock(mutex_);
            if (std::chrono::steady_clock::now() >= deadline) return false;
            changed_.wait_for(lock, std::chrono::milliseconds(5));
        }
    }
    // Holds Posts from other threads until OpenGate.
    void CloseGate() {
        std::lock_guard<std::mutex> lock(mutex_);
        gateClosed_ = true;
    }
    // Closes the gate when the next file dialog is answered: a click whose job starts only
    // after a mode query has its job held from its first post.
    void CloseGateAtNextDialog() {
        std::lock_guard<std::mutex> lock(mutex_);
        gateAtDialog_ = true;
    }
    void OpenGate() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            gateClosed_ = false;
        }
        gateCv_.notify_all();
    }
    // Waits until another thread has called Post `count` times in all.
    bool WaitForForeignPosts(int count, int timeoutMs = 5000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return postsFromOtherThreads_ >= count; });
    }
    void AnswerFileDialog(std::optional<std::string> answer) {
        std::lock_guard<std::mutex> lock(mutex_);
        fileAnswers_.push_back(std::move(answer));
    }
    void SetSetting(Setting setting, std::string text) {
        std::lock_guard<std::mutex> lock(mutex_);
        settings_[setting] = std::move(text);
    }

    std::optional<bool> Button(JobButton button) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = buttons_.find(button);
        return it == buttons_.end() ? std::nullopt : std::optional<bool>(it->second);
    }
    std::optional<bool> Tabs() const { return Locked(tabs_); }
    std::optional<bool> CloseAllowed() const { return Locked(close_); }
    std::optional<bool> BarVisible() const { return Locked(barVisible_); }
    int32_t ProgressMax() const { return Locked(progressMax_); }
    int32_t ProgressValue() const { return Locked(progressValue_); }
    std::string Title() const { return Locked(title_); }
    std::string LabelPackets() const { return Locked(labelPackets_); }
    std::vector<std::string> Urls() const { return Locked(urls_); }
    std::vector<Message> Messages() const { return Locked(messages_); }
    std::vector<OpenFileRequest> FileRequests() const { return Locked(fileRequests_); }
    std::vector<std::string> Log() const { return Locked(log_); }
    int JobsEnded() const { return Locked(jobsEnded_); }
    // The results the ended jobs handed over, in order.
    std::vector<JobResult> Results() const { return Locked(results_); }
    size_t PendingPosts() const { return Locked(posted_).size(); }
    // Times every posted call RunPosted runs; a test times its handlers with Busy().Time too
    // (UI thread only).
    UiBusyMeter& Busy() { return busy_; }
    void ClearLog() {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.clear();
    }

    static std::string ButtonName(JobButton button) {
        switch (button) {
            case JobButton::FwDown:
                return "buttonFwDown";
            case JobButton::KroDown:
                return "buttonKroDown";
            case JobButton::Updata:
                return "buttonUpdata";
        }
        return "?";
    }

private:
    void Log(const std::string& what, const std::string& value) {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(what + ":" + value);
    }
    template <typename T>
    T Locked(const T& field) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return field;
    }

    const std::thread::id uiThread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::condition_variable gateCv_;
    bool gateClosed_ = false;
    bool gateAtDialog_ = false;
    int postsFromOtherThreads_ = 0;
    std::deque<std::function<void()>> posted_;
    std::map<JobButton, bool> buttons_;
    std::optional<bool> tabs_, close_, barVisible_;
    int32_t progressMax_ = 100;
    int32_t progressValue_ = 0;
    std::string title_, labelPackets_ = "0";
    std::vector<std::string> urls_;
    std::vector<Message> messages_;
    std::vector<OpenFileRequest> fileRequests_;
    std::deque<std::optional<std::string>> fileAnswers_;
    std::map<Setting, std::string> settings_;
    std::vector<std::string> log_;
    int jobsEnded_ = 0;
    std::vector<JobResult> results_;
    UiBusyMeter busy_;
};
