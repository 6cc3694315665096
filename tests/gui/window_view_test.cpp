// The window as Main's view: posting, the progress bar, closing, message boxes, the file dialog,
// links and device checks.
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <atomic>
#include <fstream>
#include <thread>

#include "app/window_texts.h"
#include "gui_support.h"
#include "sim/pty_server.h"
#include "support/main_test_peer.h"
#include "support/scoped_device_dir.h"

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

class WindowViewTest : public ::testing::Test {
protected:
    template <typename T>
    T* Control(const char* name) {
        return window_.findChild<T*>(QString::fromLatin1(name));
    }
    QProgressBar* Bar() { return Control<QProgressBar>("progressBarData"); }

    // Message boxes now open, of any parent.
    static QList<QMessageBox*> OpenBoxes() {
        QList<QMessageBox*> boxes;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) boxes << box;
        }
        return boxes;
    }

    ScopedDeviceDir dir_;
    MainWindow window_{dir_.Settings()};
};

TEST_F(WindowViewTest, PostedCallsRunOnTheUiThreadInOrder) {
    std::vector<int> order;
    std::atomic<int> foreign{0};
    const auto ui = std::this_thread::get_id();
    std::thread poster([&] {
        for (int i = 0; i < 200; ++i) {
            window_.Post([&, i] {
                order.push_back(i);
                if (std::this_thread::get_id() != ui) ++foreign;
            });
        }
    });
    poster.join();
    EXPECT_TRUE(order.empty());  // nothing runs before the event loop does
    ASSERT_TRUE(ProcessEventsUntil([&] { return order.size() == 200; }));
    for (int i = 0; i < 200; ++i) ASSERT_EQ(order[i], i);
    EXPECT_EQ(foreign, 0);
}

TEST_F(WindowViewTest, ProgressBarStepsStopAtTheMaximum) {
    window_.SetProgressVisible(true);
    EXPECT_TRUE(Bar()->isVisibleTo(&window_));
    window_.SetProgressMaximum(10);
    window_.SetProgressValue(3);
    EXPECT_EQ(Bar()->value(), 3);
    for (int i = 0; i < 20; ++i) window_.StepProgress();
    EXPECT_EQ(Bar()->value(), 10);
    // A smaller maximum pulls the value down with it.
    window_.SetProgressMaximum(5);
    EXPECT_EQ(Bar()->maximum(), 5);
    EXPECT_EQ(Bar()->value(), 5);
    window_.SetProgressValue(50);
    EXPECT_EQ(Bar()->value(), 5);
    window_.SetProgressMaximum(15);
    EXPECT_EQ(Bar()->value(), 5);
    window_.SetProgressVisible(false);
    EXPECT_FALSE(Bar()->isVisibleTo(&window_));
}

TEST_F(WindowViewTest, UpdateButtonDrivesTabsBarAndTitleButtons) {
    window_.show();
    Peer(window_.Logic()).FwType() = true;
    window_.Logic().UpdateButton(false);
    EXPECT_FALSE(Control<QTabWidget>("tabControl1")->isEnabled());
    EXPECT_TRUE(Bar()->isVisible());
    EXPECT_FALSE(window_.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window_.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(window_.isVisible());
    // Closing is refused while the title bar has no close button.
    EXPECT_FALSE(window_.close());
    EXPECT_TRUE(window_.isVisible());

    window_.Logic().UpdateButton(true);
    EXPECT_TRUE(Control<QTabWidget>("tabControl1")->isEnabled());
    EXPECT_FALSE(Bar()->isVisible());
    EXPECT_TRUE(window_.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(Control<QPushButton>("buttonKroDown")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>("buttonFwDown")->isEnabled());
    EXPECT_TRUE(window_.close());
}

TEST_F(WindowViewTest, MessageFromAJobThreadBlocksOnlyThatThread) {
    std::atomic<bool> returned{false};
    std::thread job([&] {
        window_.ShowMessage("データの書込みが完了しました。", "", MessageIcon::None);
        returned = true;
    });
    ASSERT_TRUE(ProcessEventsUntil([] { return !OpenBoxes().isEmpty(); }));
    QMessageBox* box = OpenBoxes().first();
    EXPECT_EQ(box->text(), QStringLiteral("データの書込みが完了しました。"));
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    // The UI thread keeps working while the job waits.
    bool ran = false;
    window_.Post([&] { ran = true; });
    ASSERT_TRUE(ProcessEventsUntil([&] { return ran; }));
    ProcessEventsFor(50);
    EXPECT_FALSE(returned);
    box->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(ProcessEventsUntil([&] { return returned.load(); }));
    job.join();
}

TEST_F(WindowViewTest, ClosingReleasesAJobWaitingForItsMessage) {
    std::atomic<bool> returned{false};
    std::thread job([&] {
        window_.ShowMessage("Error!", "Error", MessageIcon::Error);
        returned = true;
    });
    ASSERT_TRUE(ProcessEventsUntil([] { return !OpenBoxes().isEmpty(); }));
    EXPECT_EQ(OpenBoxes().first()->icon(), QMessageBox::Critical);
    EXPECT_EQ(OpenBoxes().first()->windowTitle(), QStringLiteral("Error"));
    window_.ReleaseMessageWaits();
    job.join();
    EXPECT_TRUE(returned);
    // Later boxes from job threads no longer wait.
    std::thread late([&] { window_.ShowMessage("x", "", MessageIcon::None); });
    late.join();
}

TEST_F(WindowViewTest, ErrorShowOnTheUiThreadIsModalUntilDismissed) {
    QString seen;
    WhenModalDialogOpens<QMessageBox>([&](QMessageBox* box) {
        seen = box->windowTitle() + "/" + box->text();
        box->button(QMessageBox::Ok)->click();
    });
    window_.Logic().ErrorShow();
    EXPECT_EQ(seen, QStringLiteral("Error/Error!"));
}

TEST_F(WindowViewTest, FileDialogUsesTheFilterDefaultExtensionAndFileName) {
    const std::string file = dir_.Entry("firmware.ckfm");
    std::ofstream(file) << "x";
    QStringList filters;
    QString suffix;
    WhenModalDialogOpens<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        suffix = dialog->defaultSuffix();
        // Typed into the name box, as a user does: selectFile() leaves the box alone once it
        // has the focus, which the dialog gives it when the window system activates it.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name) name->setText(QString::fromStdString(file));
        static_cast<QDialog*>(dialog)->accept();  // as the Open button does
    });
    auto chosen = window_.AskOpenFile({"ckfm", "Packed Firmware Files|*.ckfm", ""});
    EXPECT_EQ(filters, QStringList{QStringLiteral("Packed Firmware Files (*.ckfm)")});
    EXPECT_EQ(suffix, QStringLiteral("ckfm"));
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, file);

    QString filled;
    WhenModalDialogOpens<QFileDialog>([&](QFileDialog* dialog) {
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name) filled = name->text();
        dialog->reject();
    });
    EXPECT_FALSE(window_.AskOpenFile({"", "kzip File|*.kzip", "index4.kzip"}).has_value());
    EXPECT_EQ(filled, QStringLiteral("index4.kzip"));
}

TEST_F(WindowViewTest, PointButtonWithoutDeviceDisablesItself) {
    auto* button = Control<QPushButton>("buttonUpdata");
    button->setEnabled(true);
    button->click();
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(window_.Logic().JobRunning());
}

TEST_F(WindowViewTest, LinkLabelsOpenTheirAddresses) {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
    auto* maker = Control<QLabel>("linkLabel1");
    auto* member = Control<QLabel>("linkLabel2");
    emit maker->linkActivated(QString::fromUtf8(texts::kMakerUrl.data()));
    emit member->linkActivated(QString::fromUtf8(texts::kMemberUrl.data()));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    ASSERT_EQ(recorder.urls.size(), 2);
    EXPECT_EQ(recorder.urls[0], QUrl(QString::fromUtf8(texts::kMakerUrl.data())));
    EXPECT_EQ(recorder.urls[1], QUrl(QString::fromUtf8(texts::kMemberUrl.data())));
}

TEST_F(WindowViewTest, DeviceChangesBecomeOneCoalescedCheck) {
    ASSERT_FALSE(Control<QPushButton>("buttonFwDown")->isEnabled());
    sim::SimConfig config;
    config.deviceDir = dir_.Path();
    sim::SimServer navigator(config);
    navigator.Start();
    std::thread watcher([&] {
        for (int i = 0; i < 5; ++i) window_.ScheduleDeviceCheck();
    });
    watcher.join();
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return Control<QPushButton>("buttonFwDown")->isEnabled(); }, 3000));
    EXPECT_TRUE(Control<QPushButton>("buttonKroDown")->isEnabled());
    ProcessEventsFor(300);
    uint32_t polls = 0;
    for (const auto& e : navigator.Journal()) polls += e.msgClass == 0x0A && e.msgId == 0x04;
    EXPECT_EQ(polls, 1u);
}

#include "window_view_test.moc"
