// One run of each job through the window against the virtual navigator: the buttons and tabs
// go off and on again, the progress bar shows and hides, the job's message appears, and the
// data reaches the device (or the CSV file the program's folder).
#include <signal.h>
#include <unistd.h>
#include <QCheckBox>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "app/point_record.h"
#include "app/qt/signal_end.h"
#include "gui_support.h"
#include "platform/program_folder.h"
#include "sim/point_records.h"
#include "sim/pty_server.h"
#include "support/scoped_device_dir.h"
#include "support/scratch_dir.h"
#include "transfer/packing.h"

namespace {

namespace fs = std::filesystem;

// Records show, hide and enable changes of the widgets it watches, in order.
class StateLog : public QObject {
public:
    std::vector<std::string> events;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const std::string name = watched->objectName().toStdString();
        auto* widget = qobject_cast<QWidget*>(watched);
        switch (event->type()) {
            case QEvent::Show:
                events.push_back(name + ":shown");
                break;
            case QEvent::Hide:
                events.push_back(name + ":hidden");
                break;
            case QEvent::EnabledChange:
                events.push_back(name + (widget && widget->isEnabled() ? ":on" : ":off"));
                break;
            default:
                break;
        }
        return false;
    }
};

std::vector<uint8_t> Pattern(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
}

bool Contains(const std::vector<std::string>& events, const std::string& what) {
    return std::find(events.begin(), events.end(), what) != events.end();
}

class WindowJobs : public ::testing::Test {
protected:
    void StartSim(sim::DeviceMode mode, const std::function<void(sim::SimConfig&)>& more = {}) {
        sim::SimConfig config;
        config.deviceDir = dir_.Path();
        config.device.mode = mode;
        if (more) more(config);
        sim_ = std::make_unique<sim::SimServer>(config);
        sim_->Start();
        window_ = std::make_unique<MainWindow>(dir_.Settings());
        window_->show();
        for (const char* name :
             {"progressBarData", "tabControl1", "buttonUpdata", "buttonKroDown", "buttonFwDown"}) {
            Control<QWidget>(name)->installEventFilter(&log_);
        }
    }

    void TearDown() override {
        window_.reset();
        if (sim_) sim_->Stop();
    }

    template <typename T>
    T* Control(const char* name) {
        return window_->findChild<T*>(QString::fromLatin1(name));
    }

    // Answers the next file dialog with `path`.
    static void AnswerFileDialog(const std::string& path) {
        WhenModalDialogOpens<QFileDialog>([path](QFileDialog* dialog) {
            dialog->selectFile(QString::fromStdString(path));
            static_cast<QDialog*>(dialog)->accept();
        });
    }

    // Waits for the job's message box, returns its text and dismisses it; then waits for the
    // job's end.
    QString TakeJobMessage() {
        QMessageBox* box = nullptr;
        EXPECT_TRUE(ProcessEventsUntil(
            [&] {
                for (QWidget* w : QApplication::topLevelWidgets()) {
                    auto* b = qobject_cast<QMessageBox*>(w);
                    if (b && b->isVisible()) box = b;
                }
                return box != nullptr;
            },
            20000));
        if (!box) return {};
        const QString text = box->text();
        box->button(QMessageBox::Ok)->click();
        EXPECT_TRUE(ProcessEventsUntil([&] { return !window_->Logic().JobRunning(); }, 10000));
        ProcessEventsFor(50);
        return text;
    }

    // The window went through a job: disabled with the bar shown, then enabled with it hidden.
    void ExpectJobStates(const char* button) {
        const auto& e = log_.events;
        EXPECT_TRUE(Contains(e, std::string(button) + ":off"));
        EXPECT_TRUE(Contains(e, "tabControl1:off"));
        EXPECT_TRUE(Contains(e, "progressBarData:shown"));
        EXPECT_TRUE(Contains(e, "progressBarData:hidden"));
        EXPECT_TRUE(Control<QWidget>("tabControl1")->isEnabled());
        EXPECT_TRUE(Control<QPushButton>(button)->isEnabled());
        EXPECT_FALSE(Control<QProgressBar>("progressBarData")->isVisible());
    }

    ScopedDeviceDir dir_;
    std::unique_ptr<sim::SimServer> sim_;
    std::unique_ptr<MainWindow> window_;
    StateLog log_;
};

TEST_F(WindowJobs, PointImportWritesTheCsvBesideTheProgramAndSaysWhere) {
    StartSim(sim::DeviceMode::Patch);
    // The build folder is writable, so the file goes beside the program.
    const fs::path folder = platform::ProgramFolder();
    std::set<fs::path> before;
    for (const auto& e : fs::directory_iterator(folder)) before.insert(e.path());

    Control<QPushButton>("buttonUpdata")->click();
    const QString message = TakeJobMessage();
    ExpectJobStates("buttonUpdata");

    std::vector<fs::path> written;
    for (const auto& e : fs::directory_iterator(folder)) {
        const fs::path ext = e.path().extension();
        if (!before.count(e.path()) && (ext == ".csv" || ext == ".gpx" || ext == ".kml")) {
            written.push_back(e.path());
        }
    }
    // The CSV file alone: GPX and KML only when the point tab's choice asks for them.
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].extension(), ".csv");
    EXPECT_EQ(message, QString::fromUtf8("データの書込みが完了しました。\n") +
                           QString::fromStdString(written[0].string()));
    std::ifstream in(written[0], std::ios::binary);
    const std::string csv((std::istreambuf_iterator<char>(in)), {});
    fs::remove(written[0]);
    EXPECT_EQ(csv.compare(0, 3, "\xEF\xBB\xBF"), 0);
    // The sample points: header and seven rows.
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 8);
    // The job's log is in the user's state folder, whole, with the rows it read.
    const fs::path logs = fs::path(std::getenv("XDG_STATE_HOME")) / "caddora" / "logs";
    std::string log;
    for (const auto& e : fs::directory_iterator(logs)) {
        if (e.path().string().find("-import-points") != std::string::npos) {
            std::ifstream file(e.path(), std::ios::binary);
            log.assign(std::istreambuf_iterator<char>(file), {});
        }
    }
    EXPECT_NE(log.find("\nrecv "), std::string::npos) << log.substr(0, 500);
    EXPECT_NE(log.find("\nresult "), std::string::npos);
    EXPECT_NE(log.find(" records 7 rows 7\n"), std::string::npos);
    EXPECT_NE(log.find("\nexit "), std::string::npos);
}

// The point tab's "also save GPX and KML" box: kept between runs, and with it on the import
// leaves maps beside its CSV file, with the same message as always.
TEST_F(WindowJobs, AlsoSaveMapsIsRememberedAndSavesMapsBesideTheCsv) {
    for (const bool on : {true, false, true}) {
        MainWindow window(dir_.Settings());
        auto* box = window.findChild<QCheckBox*>(QStringLiteral("checkBoxMaps"));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->parentWidget()->objectName(), "tabPage1");
        EXPECT_EQ(box->isChecked(), !on);  // starts unchecked, then as the last run left it
        box->setChecked(on);
        EXPECT_EQ(window.Logic().pointMapFormats.size(), on ? 2u : 0u);
    }
    StartSim(sim::DeviceMode::Patch);
    EXPECT_TRUE(Control<QCheckBox>("checkBoxMaps")->isChecked());
    // A CSV path of this test's own, so that imports of tests running beside it do not mix in.
    const std::string stem = dir_.Path() + "-points";
    window_->Logic().pointCsvPath = stem + ".csv";

    Control<QPushButton>("buttonUpdata")->click();
    EXPECT_EQ(TakeJobMessage(), QString::fromUtf8("データの書込みが完了しました。"));
    for (const std::string ext : {".csv", ".gpx", ".kml"}) {
        std::ifstream in(stem + ext, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        if (ext == ".csv") {
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8);  // header, 7 rows
        } else {
            EXPECT_NE(text.find("<name>H1 s0</name>"), std::string::npos) << ext;
            EXPECT_NE(text.find("<name>H18 p0</name>"), std::string::npos) << ext;
        }
        fs::remove(stem + ext);
    }
}

// The point tab's "add to the logbook" box: on at first, then kept between runs; an import
// with it on shows the link to the report of its rounds.
TEST_F(WindowJobs, AddToLogbookIsRememberedAndTheReportLinkFollowsAnImport) {
    for (const bool on : {false, true}) {
        MainWindow window(dir_.Settings());
        auto* box = window.findChild<QCheckBox*>(QStringLiteral("checkBoxLogbook"));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->parentWidget()->objectName(), "tabPage1");
        EXPECT_EQ(box->isChecked(), !on);
        box->setChecked(on);
        EXPECT_EQ(window.Logic().addPointsToLogbook, on);
    }
    StartSim(sim::DeviceMode::Patch);
    auto* link = Control<QLabel>("linkLabelReport");
    ASSERT_NE(link, nullptr);
    EXPECT_FALSE(link->isVisible());
    const std::string stem = dir_.Path() + "-logbook";
    window_->Logic().pointCsvPath = stem + ".csv";
    window_->Logic().pointLogbook = LogbookLocation{stem + ".sqlite3", false};
    Control<QPushButton>("buttonUpdata")->click();
    EXPECT_EQ(TakeJobMessage(), QString::fromUtf8("データの書込みが完了しました。"));
    EXPECT_TRUE(link->isVisible());
    EXPECT_EQ(window_->Logic().PointReportPath(), stem + "-last-import.html");
    EXPECT_TRUE(fs::exists(window_->Logic().PointReportPath()));
    for (const char* ext : {".csv", ".sqlite3", "-last-import.html"}) fs::remove(stem + ext);
}

TEST_F(WindowJobs, CourseWriteStoresTheFileAtItsAddress) {
    StartSim(sim::DeviceMode::Patch);
    const std::string named =
        (fs::path(dir_.Path()).parent_path() / (fs::path(dir_.Path()).filename().string() + "-c"))
            .string();
    fs::create_directories(named);
    const std::string path = named + "/jis.bin";
    const auto data = Pattern(5000, 1);
    WriteFile(path, data);

    AnswerFileDialog(path);
    Control<QPushButton>("buttonKroDown")->click();
    EXPECT_EQ(TakeJobMessage(), QString::fromUtf8("データの書込みが完了しました。"));
    ExpectJobStates("buttonKroDown");
    EXPECT_EQ(Control<QLabel>("labelPackets")->text(), QStringLiteral("0"));
    const auto stored = sim_->WrittenMemory().Read(0xC0080000, 5000);
    EXPECT_EQ(stored, data);
    fs::remove_all(named);
}

TEST_F(WindowJobs, FirmwareWriteInTheBootLoader) {
    StartSim(sim::DeviceMode::Boot);
    const std::string raw = dir_.Path() + "-fw.bin";
    const std::string packed = dir_.Path() + "-fw.ckfm";
    const auto image = Pattern(3000, 2);
    WriteFile(raw, image);
    const std::vector<uint8_t> subHeader = {2, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(transfer::GZipOperations(false).GZipCompress(raw, packed, subHeader));

    AnswerFileDialog(packed);
    Control<QPushButton>("buttonFwDown")->click();
    EXPECT_EQ(TakeJobMessage(), QString::fromUtf8("データの書込みが完了しました。"));
    ExpectJobStates("buttonFwDown");
    EXPECT_EQ(sim_->WrittenMemory().Read(0x90000000, 3000), image);
    fs::remove(raw);
    fs::remove(packed);
}

// SIGTERM (what logout and shutdown send) during an import: the job stops as on a failure, the
// navigator is reset, the whole rows read so far are put in place, and the window quits with
// 128 + SIGTERM; no temporary file is left.
TEST_F(WindowJobs, TerminationRequestEndsTheImportKeepingItsRows) {
    constexpr size_t kPoints = 300;
    const auto points = sim::EncodePointRecords(sim::SyntheticPoints(kPoints));
    StartSim(sim::DeviceMode::Patch, [&points](sim::SimConfig& config) {
        config.device.points = points;
        config.device.faults.delayMs = 5;  // the import is well inside its records at the signal
    });
    std::string complete(PointCsvHeader());
    for (const auto& bytes : points) {
        complete += FormatPointRowUtf8(
            ParsePointRecord(std::span<const uint8_t, kPointRecordLength>(bytes)));
    }
    const auto reads = [this] {
        const auto journal = sim_->Journal();
        return std::count_if(journal.begin(), journal.end(),
                             [](const auto& e) { return e.Code() == 0xF431; });
    };
    testsupport::ScratchDir folder("window-signal");
    const std::string csv = folder / "points.csv";
    window_->Logic().pointCsvPath = csv;
    int status = -1;
    {
        const SignalEnd end(*window_);
        Control<QPushButton>("buttonUpdata")->click();
        ASSERT_TRUE(ProcessEventsUntil([&] { return reads() >= 20; }, 20000));
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
        limit.start(20000);
        ::kill(::getpid(), SIGTERM);
        status = QApplication::exec();
    }
    EXPECT_EQ(status, 128 + SIGTERM);
    EXPECT_FALSE(window_->Logic().JobRunning());
    const std::string kept = testsupport::Slurp(csv);
    const auto rows = std::count(kept.begin(), kept.end(), '\n') - 1;
    EXPECT_GE(rows, 19);
    EXPECT_LT(rows, static_cast<long>(kPoints)) << "the import was not stopped";
    EXPECT_EQ(kept, complete.substr(0, kept.size()));
    EXPECT_TRUE(kept.ends_with("\r\n"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), {}), 1) << "a temporary is left";
    // The failure path reset the navigator after the last request.
    EXPECT_TRUE(ProcessEventsUntil([&] { return sim_->Journal().back().Code() == 0x0640; }, 3000));
}

}  // namespace
