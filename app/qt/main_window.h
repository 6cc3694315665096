#pragma once
// The Qt window: the controls of the maintenance tool, and the MainView that Main drives.
// Every control has the object name the window logic knows it by (buttonFwDown, label9, ...).
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "app/main.h"
#include "app/main_view.h"
#include "app/ui_busy_meter.h"
#include "app/window_job_logs.h"

class QCheckBox;
class QMessageBox;

class MainWindow : public QWidget, public MainView {
    Q_OBJECT

public:
    // Client area of the window, fixed.
    static constexpr int kWidth = 591;
    static constexpr int kHeight = 278;
    // Key of the point tab's "also save GPX and KML" choice in the user's settings
    // (~/.config/caddora/caddora.conf).
    static constexpr const char* kAlsoSaveMapsKey = "points/alsoSaveMaps";
    // Key of the point tab's "add to the logbook" choice, kept the same way.
    static constexpr const char* kAddToLogbookKey = "points/addToLogbook";
    // Coalescing of device-change bursts into one device check.
    static constexpr int kDeviceCheckDelayMs = 100;

    // Builds the controls, then Main (which runs the first device check).
    explicit MainWindow(const platform::Settings& settings, QWidget* parent = nullptr);
    ~MainWindow() override;

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
    void JobEnded(const JobResult& result) override;

    // Releases job threads waiting in message boxes; later ones return at once.
    void ReleaseMessageWaits();

    // Each posted call, click and device check is timed (modal dialogs left out); with `on`,
    // each new longest time is written to stderr.
    void SetUiBusyLog(bool on) { logUiBusy_ = on; }
    const UiBusyMeter& UiBusy() const { return busy_; }

signals:
    // A job thread has ended and everything it posted has run.
    void jobEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct MessageWait {
        bool done = false;
    };

    void TimeUi(const char* what, const std::function<void()>& work);
    void BuildControls();
    QWidget* BuildPointsPage();
    QWidget* BuildCoursePage();
    QWidget* BuildFirmwarePage();
    QWidget* BuildVersionPage();
    QPushButton* MakePictureButton(QWidget* page, const char* name, const char* image);
    QLabel* MakeLabel(QWidget* page, const char* name, std::string_view text, const QFont& font,
                      int x, int y);
    QLineEdit* MakeHiddenSetting(QWidget* page, const char* name, const char* labelName,
                                 std::string_view label, std::string_view value, Setting setting);
    QMessageBox* MakeMessageBox(const std::string& text, const std::string& caption,
                                MessageIcon icon);

    QTabWidget* tabControl1 = nullptr;
    QPushButton* buttonUpdata = nullptr;
    QCheckBox* checkBoxMaps = nullptr;
    QCheckBox* checkBoxLogbook = nullptr;
    QLabel* linkLabelReport = nullptr;
    QPushButton* buttonKroDown = nullptr;
    QPushButton* buttonFwDown = nullptr;
    QLabel* labelPackets = nullptr;
    QProgressBar* progressBarData = nullptr;
    QTimer deviceCheckTimer_;
    bool closeAllowed_ = true;
    UiBusyMeter busy_;
    bool logUiBusy_ = false;

    // Copies of the hidden settings texts, readable from job threads.
    std::mutex settingsMutex_;
    std::map<Setting, std::string> settings_;

    // Job threads waiting for their message boxes.
    std::mutex waitMutex_;
    std::condition_variable waitCv_;
    bool releasing_ = false;

    // Declared before main_, so it outlives the jobs that report to it.
    std::unique_ptr<WindowJobLogs> jobLogs_;
    std::unique_ptr<Main> main_;
};
