#include "app/qt/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>
#include <QSettings>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <cstdio>

#include "app/qt/qt_text.h"
#include "caddora_version.h"
#include "platform/user_folders.h"

static void InitResources() {
    Q_INIT_RESOURCE(caddora_resources);
}

namespace {

// What the user chose in the window, kept between runs.
std::unique_ptr<QSettings> UserSettings() {
    return std::make_unique<QSettings>(QStringLiteral("caddora"), QStringLiteral("caddora"));
}

// "description|pattern|..." to Qt's "description (pattern);;...".
QString QtFilter(const std::string& filter) {
    const QStringList parts = Q(filter).split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

QMessageBox::Icon QtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

MainWindow::MainWindow(const platform::Settings& settings, QWidget* parent) : QWidget(parent) {
    InitResources();
    setObjectName(QStringLiteral("Main"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kWidth, kHeight);
    QIcon icon;
    for (const char* size : {"32", "64", "256"}) {
        icon.addFile(QStringLiteral(":/caddora/icon_%1.png").arg(QLatin1String(size)));
    }
    setWindowIcon(icon);
    BuildControls();

    deviceCheckTimer_.setSingleShot(true);
    deviceCheckTimer_.setInterval(kDeviceCheckDelayMs);
    connect(&deviceCheckTimer_, &QTimer::timeout, this, [this] {
        TimeUi("device check", [this] {
            if (main_) main_->CheckDeviceStatus();
        });
    });
    connect(buttonFwDown, &QPushButton::clicked, this, [this] {
        TimeUi("buttonFwDown click", [this] {
            if (!main_->JobRunning()) jobLogs_->BeginJob("write-firmware");
            main_->buttonFwDown_Click();
        });
    });
    connect(buttonKroDown, &QPushButton::clicked, this, [this] {
        TimeUi("buttonKroDown click", [this] {
            if (!main_->JobRunning()) jobLogs_->BeginJob("write-course");
            main_->buttonKroDown_Click();
        });
    });
    connect(buttonUpdata, &QPushButton::clicked, this, [this] {
        TimeUi("buttonUpdata click", [this] {
            if (!main_->JobRunning()) jobLogs_->BeginJob("import-points");
            main_->buttonUpdata_Click();
        });
    });

    // Main reports through the job logs, which pass everything on to this window.
    jobLogs_ =
        std::make_unique<WindowJobLogs>(*this, WindowJobLogs::FolderIn(platform::UserStateFolder()),
                                        std::string("caddora ") + kCaddoraVersion);
    main_ = std::make_unique<Main>(*jobLogs_, settings);
    // The "also save GPX and KML" choice is kept between runs.
    checkBoxMaps->setChecked(UserSettings()->value(kAlsoSaveMapsKey, false).toBool());
    main_->SetAlsoSavePointMaps(checkBoxMaps->isChecked());
    connect(checkBoxMaps, &QCheckBox::toggled, this, [this](bool on) {
        UserSettings()->setValue(kAlsoSaveMapsKey, on);
        main_->SetAlsoSavePointMaps(on);
    });
    // So is the "add to the logbook" choice (on unless turned off).
    checkBoxLogbook->setChecked(UserSettings()->value(kAddToLogbookKey, true).toBool());
    main_->addPointsToLogbook = checkBoxLogbook->isChecked();
    connect(checkBoxLogbook, &QCheckBox::toggled, this, [this](bool on) {
        UserSettings()->setValue(kAddToLogbookKey, on);
        main_->addPointsToLogbook = on;
    });
}

MainWindow::~MainWindow() {
    deviceCheckTimer_.stop();
    ReleaseMessageWaits();
    main_.reset();  // waits for a job still running
}

void MainWindow::ScheduleDeviceCheck() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            // The first change of a burst sets the time; later ones join the same check.
            if (!deviceCheckTimer_.isActive()) deviceCheckTimer_.start();
        },
        Qt::QueuedConnection);
}

// --- MainView ------------------------------------------------------------------------------

void MainWindow::Post(std::function<void()> call) {
    QMetaObject::invokeMethod(
        this, [this, call = std::move(call)] { TimeUi("posted call", call); },
        Qt::QueuedConnection);
}

void MainWindow::TimeUi(const char* what, const std::function<void()>& work) {
    if (busy_.Time(what, work) && logUiBusy_) {
        std::fprintf(stderr, "caddora: the UI thread was busy %.1f ms in one go (%s)\n",
                     busy_.LongestMs(), what);
    }
}

void MainWindow::SetTitle(const std::string& title) {
    setWindowTitle(Q(title));
}

void MainWindow::SetButtonEnabled(JobButton button, bool enabled) {
    switch (button) {
        case JobButton::FwDown:
            buttonFwDown->setEnabled(enabled);
            break;
        case JobButton::KroDown:
            buttonKroDown->setEnabled(enabled);
            break;
        case JobButton::Updata:
            buttonUpdata->setEnabled(enabled);
            break;
    }
}

void MainWindow::SetTabControlEnabled(bool enabled) {
    tabControl1->setEnabled(enabled);
}

void MainWindow::SetCloseAllowed(bool allowed) {
    closeAllowed_ = allowed;
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowCloseButtonHint, allowed);
    flags.setFlag(Qt::WindowMinimizeButtonHint, allowed);
    if (flags == windowFlags()) return;
    // Changing the flags of a shown window hides it; show it again where it was.
    const bool shown = isVisible();
    const QPoint where = pos();
    setWindowFlags(flags);
    if (shown) {
        move(where);
        show();
    }
}

void MainWindow::SetProgressMaximum(int32_t maximum) {
    const int value = progressBarData->value();
    progressBarData->setRange(std::min(progressBarData->minimum(), maximum), maximum);
    // The bar keeps its value within the new range.
    progressBarData->setValue(std::clamp(value, progressBarData->minimum(), maximum));
}

void MainWindow::SetProgressValue(int32_t value) {
    progressBarData->setValue(
        std::clamp(value, progressBarData->minimum(), progressBarData->maximum()));
}

void MainWindow::StepProgress() {
    const int value = std::max(progressBarData->value(), progressBarData->minimum());
    progressBarData->setValue(std::min(value + 1, progressBarData->maximum()));
}

void MainWindow::SetProgressVisible(bool visible) {
    progressBarData->setVisible(visible);
}

QMessageBox* MainWindow::MakeMessageBox(const std::string& text, const std::string& caption,
                                        MessageIcon icon) {
    auto* box = new QMessageBox(QtIcon(icon), Q(caption), Q(text), QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("messageBox"));
    return box;
}

void MainWindow::ShowMessage(const std::string& text, const std::string& caption,
                             MessageIcon icon) {
    if (QThread::currentThread() == thread()) {
        std::unique_ptr<QMessageBox> box(MakeMessageBox(text, caption, icon));
        busy_.Modal([&box] { return box->exec(); });
        return;
    }
    // From a job thread: the box lives on the UI thread, modal to nothing; only the job waits.
    auto wait = std::make_shared<MessageWait>();
    {
        std::lock_guard<std::mutex> lock(waitMutex_);
        if (releasing_) return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, wait, text, caption, icon] {
            QMessageBox* box = MakeMessageBox(text, caption, icon);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setWindowModality(Qt::NonModal);
            connect(box, &QDialog::finished, this, [this, wait] {
                {
                    std::lock_guard<std::mutex> lock(waitMutex_);
                    wait->done = true;
                }
                waitCv_.notify_all();
            });
            box->show();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(waitMutex_);
    waitCv_.wait(lock, [&] { return wait->done || releasing_; });
}

void MainWindow::ReleaseMessageWaits() {
    {
        std::lock_guard<std::mutex> lock(waitMutex_);
        releasing_ = true;
    }
    waitCv_.notify_all();
}

std::optional<std::string> MainWindow::AskOpenFile(const OpenFileRequest& request) {
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("openFileDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (!request.filter.empty()) dialog.setNameFilter(QtFilter(request.filter));
    if (!request.defaultExt.empty()) dialog.setDefaultSuffix(Q(request.defaultExt));
    if (!request.fileName.empty()) dialog.selectFile(Q(request.fileName));
    if (busy_.Modal([&dialog] { return dialog.exec(); }) != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.first().toStdString();
}

std::string MainWindow::SettingText(Setting setting) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return settings_[setting];
}

void MainWindow::SetLabelPackets(const std::string& text) {
    labelPackets->setText(Q(text));
}

bool MainWindow::OpenUrl(const std::string& url) {
    return QDesktopServices::openUrl(QUrl(Q(url)));
}

void MainWindow::ShowReportLink(bool visible) {
    linkLabelReport->setVisible(visible);
}

void MainWindow::JobEnded(const JobResult&) {
    // The message boxes have told the user everything; the window only signals the end.
    emit jobEnded();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // While a job runs the title bar has no close button; other ways to close are refused too.
    if (!closeAllowed_ || (main_ && !main_->CanClose())) {
        event->ignore();
        return;
    }
    event->accept();
}
