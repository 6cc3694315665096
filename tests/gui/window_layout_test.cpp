// The controls of the window: names, places, sizes, texts, fonts, images.
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include "app/window_texts.h"
#include "gui_support.h"
#include "support/scoped_device_dir.h"

namespace {

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString Shown(std::string_view text) {
    return Q(text).replace(QStringLiteral("\r\n"), "\n");
}

}  // namespace

class WindowLayoutTest : public ::testing::Test {
protected:
    template <typename T>
    T* Control(const char* name) {
        auto* widget = window_.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    ScopedDeviceDir dir_;  // empty: no navigator
    MainWindow window_{dir_.Settings()};
};

TEST_F(WindowLayoutTest, WindowHasTheFixedClientAreaTitleAndIcon) {
    EXPECT_EQ(window_.size(), QSize(591, 278));
    EXPECT_EQ(window_.minimumSize(), QSize(591, 278));
    EXPECT_EQ(window_.maximumSize(), QSize(591, 278));
    EXPECT_EQ(window_.windowTitle(), Q(texts::kProductLine));
    EXPECT_EQ(window_.windowTitle(), QStringLiteral("Velloran CADDORA for MDL4100/MDL4200"));
    EXPECT_FALSE(window_.windowIcon().isNull());
    EXPECT_FALSE(window_.windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(WindowLayoutTest, TabsHaveTheirCaptionsAndAFixedSize) {
    auto* tabs = Control<QTabWidget>("tabControl1");
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->geometry(), QRect(18, 17, 551, 210));
    ASSERT_EQ(tabs->count(), 4);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("地点データ"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("コースデータ"));
    EXPECT_EQ(tabs->tabText(2), QStringLiteral("ファームウェア"));
    EXPECT_EQ(tabs->tabText(3), QStringLiteral("バージョン情報"));
    EXPECT_EQ(tabs->currentIndex(), 0);
    const QSize first = tabs->tabBar()->tabRect(0).size();
    for (int i = 1; i < 4; ++i) EXPECT_EQ(tabs->tabBar()->tabRect(i).size(), first) << i;
    EXPECT_EQ(tabs->widget(0)->objectName(), "tabPage1");
    EXPECT_EQ(tabs->widget(3)->objectName(), "tabPage4");
}

TEST_F(WindowLayoutTest, JobButtonsArePictureButtonsAtTheirPlaces) {
    const std::pair<const char*, const char*> buttons[] = {
        {"buttonUpdata", "tabPage1"}, {"buttonKroDown", "tabPage2"}, {"buttonFwDown", "tabPage3"}};
    for (const auto& [name, page] : buttons) {
        auto* button = Control<QPushButton>(name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->geometry(), QRect(18, 17, 140, 134)) << name;
        EXPECT_EQ(button->parentWidget()->objectName(), page) << name;
        EXPECT_TRUE(button->text().isEmpty()) << name;
        EXPECT_FALSE(button->icon().isNull()) << name;
        // No navigator: the device check disabled it.
        EXPECT_FALSE(button->isEnabled()) << name;
    }
}

TEST_F(WindowLayoutTest, LabelsShowTheirTextsAtTheirPlacesWithoutClipping) {
    struct Expected {
        const char* name;
        std::string_view text;
        QPoint place;
        const char* family;
    };
    const Expected labels[] = {
        {"label9", texts::kLabel9, {180, 30}, "IPAPGothic"},
        {"label11", texts::kLabel11, {180, 30}, "IPAPGothic"},
        {"label18", texts::kLabel18, {180, 94}, "Liberation Sans"},
        {"label12", texts::kLabel12, {180, 30}, "IPAPGothic"},
        {"label5", texts::kProductLine, {180, 30}, "Liberation Sans"},
        {"label6", texts::kVersion, {180, 60}, "Liberation Sans"},
        {"label7", texts::kLegalNotice, {180, 90}, "Liberation Sans"},
    };
    for (const auto& expected : labels) {
        auto* label = Control<QLabel>(expected.name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), Shown(expected.text)) << expected.name;
        EXPECT_EQ(label->pos(), expected.place) << expected.name;
        EXPECT_EQ(QFontInfo(label->font()).family(), QString::fromLatin1(expected.family))
            << expected.name;
        EXPECT_EQ(label->font().pixelSize(), 16) << expected.name;
        // The whole text fits in the label, and the label in its tab page.
        EXPECT_GE(label->width(), label->sizeHint().width()) << expected.name;
        EXPECT_GE(label->height(), label->sizeHint().height()) << expected.name;
        EXPECT_LE(label->geometry().right(), label->parentWidget()->width()) << expected.name;
        EXPECT_LE(label->geometry().bottom(), label->parentWidget()->height()) << expected.name;
    }
    EXPECT_TRUE(Control<QLabel>("label11")->text().contains(QStringLiteral("約10分")));
    EXPECT_TRUE(Control<QLabel>("label6")->text() == QStringLiteral("Ver 1.00"));
}

TEST_F(WindowLayoutTest, LinkLabelsCarryTheirAddresses) {
    auto* maker = Control<QLabel>("linkLabel1");
    auto* member = Control<QLabel>("linkLabel2");
    ASSERT_TRUE(maker && member);
    EXPECT_EQ(maker->pos(), QPoint(181, 123));
    EXPECT_EQ(member->pos(), QPoint(179, 110));
    EXPECT_EQ(maker->parentWidget()->objectName(), "tabPage4");
    EXPECT_EQ(member->parentWidget()->objectName(), "tabPage2");
    EXPECT_TRUE(maker->text().contains(Q(texts::kMakerUrl)));
    EXPECT_TRUE(member->text().contains(Q(texts::kMemberUrl)));
    EXPECT_TRUE(member->text().startsWith(QStringLiteral("<br>")));
    EXPECT_TRUE(Q(texts::kMakerUrl).contains(QStringLiteral("example.com")));
    EXPECT_EQ(QFontInfo(maker->font()).family(), QStringLiteral("Liberation Sans"));
}

TEST_F(WindowLayoutTest, ProductPictureIsCentredInItsBox) {
    auto* picture = Control<QLabel>("pictureBox1");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->geometry(), QRect(33, 25, 131, 118));
    EXPECT_EQ(picture->alignment(), Qt::AlignCenter);
    const QPixmap pixmap = picture->pixmap();
    ASSERT_FALSE(pixmap.isNull());
    EXPECT_LE(pixmap.width(), 131);
    EXPECT_LE(pixmap.height(), 118);
}

TEST_F(WindowLayoutTest, ProgressBarLiesBelowTheTabsHiddenWhileIdle) {
    auto* bar = Control<QProgressBar>("progressBarData");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->geometry(), QRect(18, 242, 551, 23));
    EXPECT_FALSE(bar->isVisibleTo(&window_));
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(WindowLayoutTest, HiddenSettingsHoldTheirDefaults) {
    const std::tuple<const char*, const char*, Setting> boxes[] = {
        {"textUpAddr", "0", Setting::textUpAddr},
        {"textUpLen", "786432", Setting::textUpLen},
        {"textBoxPathUp", "2622d", Setting::textBoxPathUp},
        {"textBoxPathKro", "2622d", Setting::textBoxPathKro}};
    for (const auto& [name, value, setting] : boxes) {
        auto* box = Control<QLineEdit>(name);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QString::fromLatin1(value)) << name;
        EXPECT_FALSE(box->isVisibleTo(&window_)) << name;
        EXPECT_EQ(window_.SettingText(setting), value) << name;
    }
    EXPECT_EQ(Control<QLineEdit>("textBoxPathKro")->parentWidget()->objectName(), "tabPage2");
    EXPECT_EQ(Control<QLineEdit>("textUpLen")->parentWidget()->objectName(), "tabPage1");
    auto* packets = Control<QLabel>("labelPackets");
    ASSERT_NE(packets, nullptr);
    EXPECT_EQ(packets->text(), "0");
    EXPECT_FALSE(packets->isVisibleTo(&window_));
    // A changed box is what the jobs read, from any thread.
    Control<QLineEdit>("textUpLen")->setText("200");
    std::string fromThread;
    std::thread([&] { fromThread = window_.SettingText(Setting::textUpLen); }).join();
    EXPECT_EQ(fromThread, "200");
}
