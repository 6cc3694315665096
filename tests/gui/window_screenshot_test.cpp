// Pictures of the four tabs for people to look at: build/screenshots/tab<N>_<name>.png, and
// one of a job in progress.
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QProgressBar>
#include <QTabWidget>

#include "gui_support.h"
#include "sim/pty_server.h"
#include "support/main_test_peer.h"
#include "support/scoped_device_dir.h"

namespace {

QString ScreenshotDir() {
    const char* bin = std::getenv("CADDORA_BIN_DIR");
    QString dir = bin ? QString::fromUtf8(bin) + QStringLiteral("/../screenshots")
                      : QDir::tempPath() + QStringLiteral("/caddora-screenshots");
    QDir().mkpath(dir);
    return QDir(dir).absolutePath();
}

// Share of pixels that differ from the most common colour: a blank picture has none.
double Busy(const QImage& image) {
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y)];
    int most = 0;
    for (int c : counts) most = std::max(most, c);
    return 1.0 - double(most) / (image.width() * image.height());
}

}  // namespace

TEST(WindowScreenshots, EachTabIsDrawnAndSaved) {
    ScopedDeviceDir dir;
    // A navigator in its boot stage: every job button is enabled.
    sim::SimConfig config;
    config.deviceDir = dir.Path();
    sim::SimServer navigator(config);
    navigator.Start();
    MainWindow window(dir.Settings());
    window.show();
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("tabControl1"));
    ASSERT_NE(tabs, nullptr);
    const char* names[] = {"points", "course", "firmware", "version"};
    const QString folder = ScreenshotDir();
    for (int i = 0; i < 4; ++i) {
        tabs->setCurrentIndex(i);
        ProcessEventsFor(50);
        const QImage image = window.grab().toImage();
        ASSERT_EQ(image.size(), QSize(591, 278));
        EXPECT_GT(Busy(image), 0.05) << names[i];
        const QString path = QStringLiteral("%1/tab%2_%3.png").arg(folder).arg(i + 1).arg(names[i]);
        EXPECT_TRUE(image.save(path)) << path.toStdString();
    }
    // After an import: the link to the report of its rounds.
    tabs->setCurrentIndex(0);
    window.ShowReportLink(true);
    ProcessEventsFor(50);
    EXPECT_TRUE(window.grab().toImage().save(folder + QStringLiteral("/points_report_link.png")));
    window.ShowReportLink(false);
    // A job at work: tabs disabled, progress shown.
    tabs->setCurrentIndex(1);
    Peer(window.Logic()).FwType() = true;
    window.Logic().UpdateButton(false);
    window.SetProgressMaximum(10);
    window.SetProgressValue(4);
    ProcessEventsFor(50);
    EXPECT_TRUE(window.grab().toImage().save(folder + QStringLiteral("/job_running.png")));
    window.Logic().UpdateButton(true);
}
