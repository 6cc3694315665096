// The Qt window's controls: four tabs, the picture buttons, labels, links and hidden settings
// texts, at the fixed geometry and fonts the window was laid out with.
#include <QCheckBox>
#include <QColor>
#include <QEvent>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QTabBar>

#include "app/point_import_maps.h"
#include "app/point_logbook.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_text.h"
#include "app/window_texts.h"

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
    // Shows `url` itself, or `text` when given.
    LinkLabel(QWidget* parent, QString url, bool breakFirst, QString text = {})
        : QLabel(parent), url_(std::move(url)), text_(std::move(text)), breakFirst_(breakFirst) {
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
        const QString shown = text_.isEmpty() ? escaped : text_.toHtmlEscaped();
        setText(QStringLiteral("%1<a href=\"%2\" style=\"color:%3\">%4</a>")
                    .arg(breakFirst_ ? QStringLiteral("<br>") : QString(), escaped, colour.name(),
                         shown));
    }

    QString url_;
    QString text_;
    bool breakFirst_;
};

QFont MakeFont(const char* family) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(kTextPixelSize);
    return font;
}

}  // namespace

void MainWindow::BuildControls() {
    InstallFontSubstitutions();
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
    // The logbook's choice below the maps' one, and the link to the report of the rounds last
    // imported below the picture button, shown once an import has written it.
    checkBoxLogbook = new QCheckBox(Q(texts::kAddToLogbook), page);
    checkBoxLogbook->setObjectName(QStringLiteral("checkBoxLogbook"));
    checkBoxLogbook->setFont(MakeFont("MS PGothic"));
    checkBoxLogbook->move(180, 150);
    checkBoxLogbook->adjustSize();
    checkBoxLogbook->setVisible(LogbookAvailable());
    auto* report =
        new LinkLabel(page, QStringLiteral("report"), false, Q(texts::kLogbookReportLink));
    report->setObjectName(QStringLiteral("linkLabelReport"));
    report->setFont(MakeFont("MS PGothic"));
    report->move(180, 100);
    report->adjustSize();
    report->setVisible(false);
    connect(report, &QLabel::linkActivated, this, [this] { main_->linkLabelReport_LinkClicked(); });
    linkLabelReport = report;
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
