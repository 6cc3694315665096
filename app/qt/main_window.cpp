#include "app/qt/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QColor>
#include <QDesktopServices>
#include <QEvent>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QSettings>
#include <QTabBar>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <cstdio>

#include "app/point_import_maps.h"
#include "app/window_texts.h"

static void InitResources() {
    Q_INIT_RESOURCE(caddora_resources);
}

namespace {

// Fixed tab size, as the window was laid out.
constexpr int kTabWidth = 120;
constexpr int kTabHeight = 24;
// 12 pt at the 96 dpi the fixed layout is drawn for.
constexpr int kTextPixelSize = 16;

class FixedTabBar : public QTabBar {
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int) const override { return {kTabWidth, kTabHeight}; }
    QSize minimumTabSizeHint(int) const override { return {kTabWidth, kTabHeight}; }
};

class FixedTabWidget : public QTabWidget {
public:
    explicit FixedTabWidget(QWidget* parent) : QTabWidget(parent) {
        setTabBar(new FixedTabBar(this));
    }
};

// What the user chose in the window, kept between runs.
std::unique_ptr<QSettings> UserSettings() {
    return std::make_unique<QSettings>(QStringLiteral("caddora"), QStringLiteral("caddora"));
}

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The window stores "\r\n" line ends; a label shows a line break for each.
QString Display(std::string_view text) {
    QString s = Q(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

void InstallFontSubstitutions() {
    // Metric-compatible stand-ins for the fonts the layout was made with.
    QFont::insertSubstitutions(QStringLiteral("MS PGothic"),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                                QStringLiteral("Noto Sans CJK JP")});
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
}

// A label with one link (behind an optional line break) that greys out with the controls around
// it, as rich-text links keep their colour otherwise.
class LinkLabel : public QLabel {
public:
    LinkLabel(QWidget* parent, QString url, bool breakFirst)
        : QLabel(parent), url_(std::move(url)), breakFirst_(breakFirst) {
        setTextFormat(Qt::RichText);
        setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        Render();
    }

protected:
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::EnabledChange || event->type() == QEvent::PaletteChange) {
            Render();
        }
        QLabel::changeEvent(event);
    }

private:
    void Render() {
        const QColor colour = isEnabled()
                                  ? palette().color(QPalette::Link)
                                  : palette().color(QPalette::Disabled, QPalette::WindowText);
        const QString escaped = url_.toHtmlEscaped();
        setText(QStringLiteral("%1<a href=\"%2\" style=\"color:%3\">%2</a>")
                    .arg(breakFirst_ ? QStringLiteral("<br>") : QString(), escaped, colour.name()));
    }

    QString url_;
    bool breakFirst_;
};

QFont MakeFont(const char* family) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(kTextPixelSize);
    return font;
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
    InstallFontSubstitutions();
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
    connect(buttonFwDown, &QPushButton::clicked, this,
            [this] { TimeUi("buttonFwDown click", [this] { main_->buttonFwDown_Click(); }); });
    connect(buttonKroDown, &QPushButton::clicked, this,
            [this] { TimeUi("buttonKroDown click", [this] { main_->buttonKroDown_Click(); }); });
    connect(buttonUpdata, &QPushButton::clicked, this,
            [this] { TimeUi("buttonUpdata click", [this] { main_->buttonUpdata_Click(); }); });

    main_ = std::make_unique<Main>(*this, settings);
    // The "also save GPX and KML" choice is kept between runs.
    checkBoxMaps->setChecked(UserSettings()->value(kAlsoSaveMapsKey, false).toBool());
    main_->SetAlsoSavePointMaps(checkBoxMaps->isChecked());
    connect(checkBoxMaps, &QCheckBox::toggled, this, [this](bool on) {
        UserSettings()->setValue(kAlsoSaveMapsKey, on);
        main_->SetAlsoSavePointMaps(on);
    });
}

MainWindow::~MainWindow() {
    deviceCheckTimer_.stop();
    ReleaseMessageWaits();
    main_.reset();  // waits for a job still running
}

void MainWindow::BuildControls() {
    setFont(MakeFont("MS PGothic"));
    tabControl1 = new FixedTabWidget(this);
    tabControl1->setObjectName(QStringLiteral("tabControl1"));
    tabControl1->setGeometry(18, 17, 551, 210);
    tabControl1->addTab(BuildPointsPage(), Q(texts::kTabPoints));
    tabControl1->addTab(BuildCoursePage(), Q(texts::kTabCourse));
    tabControl1->addTab(BuildFirmwarePage(), Q(texts::kTabFirmware));
    tabControl1->addTab(BuildVersionPage(), Q(texts::kTabVersion));
    tabControl1->setCurrentIndex(0);

    progressBarData = new QProgressBar(this);
    progressBarData->setObjectName(QStringLiteral("progressBarData"));
    progressBarData->setGeometry(18, 242, 551, 23);
    progressBarData->setRange(0, 100);
    progressBarData->setValue(0);
    progressBarData->setTextVisible(false);
    progressBarData->setVisible(false);
}

QWidget* MainWindow::BuildPointsPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tabPage1"));
    buttonUpdata = MakePictureButton(page, "buttonUpdata", "button_points.png");
    MakeLabel(page, "label9", texts::kLabel9, MakeFont("MS PGothic"), 180, 30);
    checkBoxMaps = new QCheckBox(Q(texts::kAlsoSaveMaps), page);
    checkBoxMaps->setObjectName(QStringLiteral("checkBoxMaps"));
    checkBoxMaps->setFont(MakeFont("MS PGothic"));
    checkBoxMaps->move(180, 126);
    checkBoxMaps->adjustSize();
    MakeHiddenSetting(page, "textUpAddr", "labelUpAddr", texts::kUpAddrLabel, texts::kUpAddrDefault,
                      Setting::textUpAddr);
    MakeHiddenSetting(page, "textUpLen", "labelUpLen", texts::kUpLenLabel, texts::kUpLenDefault,
                      Setting::textUpLen);
    MakeHiddenSetting(page, "textBoxPathUp", "labelPathUp", texts::kPatchAddrLabel,
                      texts::kPatchAddrDefault, Setting::textBoxPathUp);
    return page;
}

QWidget* MainWindow::BuildCoursePage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tabPage2"));
    buttonKroDown = MakePictureButton(page, "buttonKroDown", "button_course.png");
    MakeLabel(page, "label11", texts::kLabel11, MakeFont("MS PGothic"), 180, 30);
    MakeLabel(page, "label18", texts::kLabel18, MakeFont("Arial"), 180, 94);
    auto* link = new LinkLabel(page, Q(texts::kMemberUrl), true);
    link->setObjectName(QStringLiteral("linkLabel2"));
    link->setFont(MakeFont("Arial"));
    link->move(179, 110);
    link->adjustSize();
    connect(link, &QLabel::linkActivated, this, [this] { main_->linkLabel2_LinkClicked(); });
    MakeHiddenSetting(page, "textBoxPathKro", "labelPathKro", texts::kPatchAddrLabel,
                      texts::kPatchAddrDefault, Setting::textBoxPathKro);
    auto* packetsCaption = new QLabel(Q(texts::kPacketsLabel), page);
    packetsCaption->setObjectName(QStringLiteral("labelPacketsCaption"));
    packetsCaption->setVisible(false);
    labelPackets = new QLabel(Q(texts::kPacketsDefault), page);
    labelPackets->setObjectName(QStringLiteral("labelPackets"));
    labelPackets->setVisible(false);
    return page;
}

QWidget* MainWindow::BuildFirmwarePage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tabPage3"));
    buttonFwDown = MakePictureButton(page, "buttonFwDown", "button_firmware.png");
    MakeLabel(page, "label12", texts::kLabel12, MakeFont("MS PGothic"), 180, 30);
    return page;
}

QWidget* MainWindow::BuildVersionPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tabPage4"));
    auto* picture = new QLabel(page);
    picture->setObjectName(QStringLiteral("pictureBox1"));
    picture->setGeometry(33, 25, 131, 118);
    picture->setAlignment(Qt::AlignCenter);
    picture->setPixmap(QPixmap(QStringLiteral(":/caddora/product.png")));
    const QFont arial = MakeFont("Arial");
    MakeLabel(page, "label5", texts::kProductLine, arial, 180, 30);
    MakeLabel(page, "label6", texts::kVersion, arial, 180, 60);
    MakeLabel(page, "label7", texts::kLegalNotice, arial, 180, 90);
    auto* link = new LinkLabel(page, Q(texts::kMakerUrl), false);
    link->setObjectName(QStringLiteral("linkLabel1"));
    link->setFont(arial);
    link->move(181, 123);
    link->adjustSize();
    connect(link, &QLabel::linkActivated, this, [this] { main_->linkLabel1_LinkClicked(); });
    return page;
}

QPushButton* MainWindow::MakePictureButton(QWidget* page, const char* name, const char* image) {
    auto* button = new QPushButton(page);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(18, 17, 140, 134);
    button->setIcon(QIcon(QStringLiteral(":/caddora/") + QString::fromLatin1(image)));
    button->setIconSize(QSize(124, 118));
    return button;
}

QLabel* MainWindow::MakeLabel(QWidget* page, const char* name, std::string_view text,
                              const QFont& font, int x, int y) {
    auto* label = new QLabel(Display(text), page);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLineEdit* MainWindow::MakeHiddenSetting(QWidget* page, const char* name, const char* labelName,
                                         std::string_view label, std::string_view value,
                                         Setting setting) {
    auto* caption = new QLabel(Q(label), page);
    caption->setObjectName(QString::fromLatin1(labelName));
    caption->setVisible(false);
    auto* box = new QLineEdit(Q(value), page);
    box->setObjectName(QString::fromLatin1(name));
    box->setVisible(false);
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        settings_[setting] = std::string(value);
    }
    connect(box, &QLineEdit::textChanged, this, [this, setting](const QString& text) {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        settings_[setting] = text.toStdString();
    });
    return box;
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
