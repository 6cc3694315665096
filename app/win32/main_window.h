#pragma once
// The native Windows window: the controls of the maintenance tool, and the MainView that Main
// drives. Laid out like the Qt window (client area 591 x 278 at 96 dpi, scaled to the screen's).
#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "app/main.h"
#include "app/main_view.h"
#include "app/window_job_logs.h"

class Win32MainWindow : public MainView {
public:
    static constexpr int kWidth = 591;
    static constexpr int kHeight = 278;
    // Coalescing of device-change bursts into one device check.
    static constexpr UINT kDeviceCheckDelayMs = 100;

    explicit Win32MainWindow(platform::Settings settings);
    ~Win32MainWindow() override;
    Win32MainWindow(const Win32MainWindow&) = delete;
    Win32MainWindow& operator=(const Win32MainWindow&) = delete;

    // Creates the window and its controls, then Main (which runs the first device check).
    bool Create(int showCommand);
    HWND Handle() const { return hwnd_; }
    Main& Logic() { return *main_; }

    // Asks for a device check soon; callable from any thread. Bursts become one check.
    void ScheduleDeviceCheck();

    // --- MainView -------------------------------------------------------------------------
    void Post(std::function<void()> call) override;
    void SetTitle(const std::string& title) override;
    void SetButtonEnabled(JobButton button, bool enabled) override;
    void SetTabControlEnabled(bool enabled) override;
    void SetCloseAllowed(bool allowed) override;
    void SetProgressMaximum(int32_t maximum) override;
    void SetProgressValue(int32_t value) override;
    void StepProgress() override;
    void SetProgressVisible(bool visible) override;
    void ShowMessage(const std::string& text, const std::string& caption,
                     MessageIcon icon) override;
    std::optional<std::string> AskOpenFile(const OpenFileRequest& request) override;
    std::string SettingText(Setting setting) override;
    void SetLabelPackets(const std::string& text) override;
    bool OpenUrl(const std::string& url) override;
    void ShowReportLink(bool visible) override;
    // Says where a point import put its CSV when that is not beside the program.

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);

    void BuildControls();
    HWND MakePage();
    HWND MakePictureButton(HWND page, int id, int bitmap);
    HWND MakeLabel(HWND page, std::string_view text, HFONT font, int x, int y);
    // A link label showing `text` in `font`.
    HWND MakeLink(HWND page, int id, std::string_view text, HFONT font, int x, int y);
    void ShowPage(int index);
    void DropQueuedPosts();
    int S(int pixels) const { return MulDiv(pixels, dpi_, 96); }

    HWND hwnd_ = nullptr;
    HWND tabControl1 = nullptr;
    HWND pages_[4] = {};
    HWND buttonUpdata = nullptr;
    HWND buttonKroDown = nullptr;
    HWND buttonFwDown = nullptr;
    HWND checkBoxMaps = nullptr;
    HWND checkBoxLogbook = nullptr;
    HWND linkLabelReport = nullptr;
    HWND progressBarData = nullptr;
    HFONT gothic_ = nullptr;
    HFONT arial_ = nullptr;
    int dpi_ = 96;
    bool closeAllowed_ = true;
    std::string labelPackets_ = "0";

    // Copies of the hidden settings texts, readable from job threads.
    std::mutex settingsMutex_;
    std::map<Setting, std::string> settings_;

    const platform::Settings runSettings_;
    // Declared before main_, so it outlives the jobs that report to it.
    std::unique_ptr<WindowJobLogs> jobLogs_;
    std::unique_ptr<Main> main_;
};
