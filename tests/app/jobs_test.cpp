// The jobs through the window logic, where an end-to-end run cannot look: the connection left
// open, failure paths of the point import, and answers no virtual navigator gives.
#include <poll.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/window_texts.h"
#include "app_fixture.h"
#include "protocol/fur_codec.h"
#include "sim/point_records.h"
#include "support/main_test_peer.h"
#include "support/pty_pair.h"

namespace {

using sim::DeviceMode;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class JobsTest : public AppTest {
protected:
    std::string StartSimWith(sim::DeviceConfig device) {
        if (sim_) sim_->Stop();
        sim::SimConfig config;
        config.deviceDir = dir_.Path();
        config.device = std::move(device);
        sim_ = std::make_unique<sim::SimServer>(config);
        return sim_->Start();
    }

    // Runs until the job has ended and its posts ran; returns the messages shown.
    std::vector<RecordingView::Message> FinishJob(Main& main) {
        EXPECT_TRUE(main.WaitForJobEnd(30000));
        EXPECT_TRUE(view_.Pump([&] { return view_.JobsEnded() >= 1; }));
        // The device check that follows the job.
        Settle(main);
        return view_.Messages();
    }

    // The result the view received for the job that ended.
    JobResult Result() const {
        const auto results = view_.Results();
        EXPECT_EQ(results.size(), 1u);
        return results.empty() ? JobResult{} : results.back();
    }

    std::string CsvPath() const { return dir_.Path() + "-points.csv"; }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove(CsvPath(), ec);
        AppTest::TearDown();
    }
};

TEST_F(JobsTest, UnknownCourseFileNameKeepsTheConnection) {
    StartSim(DeviceMode::Patch);
    Main main(view_, dir_.Settings());
    Settle(main);
    const std::string file = dir_.Path() + "-JIS.BIN";
    std::ofstream(file) << "data";
    view_.AnswerFileDialog(file);
    main.buttonKroDown_Click();
    const auto messages = FinishJob(main);
    std::filesystem::remove(file);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error!");
    EXPECT_TRUE(Peer(main).deviceCon());
    EXPECT_EQ(view_.Tabs(), true);
    EXPECT_EQ(view_.BarVisible(), false);
    EXPECT_EQ(FramesOf(0xF4, 0x05), 0);
    const JobResult result = Result();
    EXPECT_EQ(result.job, JobKind::CourseData);
    EXPECT_EQ(result.failure, JobFailure::UnknownCourseFile);
    EXPECT_EQ(result.message, ErrorMessage());
}

TEST_F(JobsTest, CourseWriteCountsTheAcknowledgedFrames) {
    StartSim(DeviceMode::Patch);
    Main main(view_, dir_.Settings());
    Settle(main);
    const std::string folder = dir_.Path() + "-course";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/jis.bin", std::ios::binary) << std::string(5000, 'j');
    view_.AnswerFileDialog(folder + "/jis.bin");
    main.buttonKroDown_Click();
    FinishJob(main);
    std::filesystem::remove_all(folder);
    const JobResult result = Result();
    EXPECT_TRUE(result.Done());
    EXPECT_EQ(result.framesTotal, 3);
    EXPECT_EQ(result.framesAcknowledged, 3);
    EXPECT_EQ(FramesOf(0xF4, 0x05), 3);
}

TEST_F(JobsTest, ACourseFileLargerThanItsFlashAreaStopsAtTheAreasEnd) {
    // kx10x20.bin owns 64 KiB up to the next file's address: 32 frames fit, the 33rd would not.
    StartSim(DeviceMode::Patch);
    Main main(view_, dir_.Settings());
    Settle(main);
    const std::string folder = dir_.Path() + "-course";
    std::filesystem::create_directories(folder);
    const std::string file = folder + "/kx10x20.bin";
    std::ofstream(file, std::ios::binary) << std::string(65536 + 1, 'k');
    view_.AnswerFileDialog(file);
    main.buttonKroDown_Click();
    const auto messages = FinishJob(main);
    std::filesystem::remove_all(folder);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error!\nthe data does not fit the file's flash area");
    EXPECT_EQ(FramesOf(0xF4, 0x05), 32);
}

TEST_F(JobsTest, BootLoaderJobsWithoutAPatchProgramSayWhereItGoesAndSendNothing) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    images::FoundImage missing;
    missing.refusal = "the patch program (patch_image.bin) was not found";
    main.SetPatchImage(missing);
    main.pointCsvPath = CsvPath();
    main.buttonUpdata_Click();
    view_.AnswerFileDialog(dir_.Path() + "-jis.bin");
    main.buttonKroDown_Click();
    EXPECT_FALSE(main.JobRunning());
    const auto messages = view_.Messages();
    ASSERT_EQ(messages.size(), 2u);
    for (const auto& m : messages) EXPECT_EQ(m.text, missing.refusal);
    EXPECT_EQ(FramesOf(0xF4, 0x05), 0);
    EXPECT_FALSE(std::filesystem::exists(CsvPath()));
}

TEST_F(JobsTest, PointImportWithoutThePatchProgramIsAnErrorAndWritesNoFile) {
    testsupport::ScopedFastClock fast;
    // Frame 3 is the first patch packet: refused.
    sim::FaultConfig faults;
    faults.nakFrames = {3};
    StartSim(DeviceMode::Boot, faults);
    Main main(view_, dir_.Settings());
    Settle(main);
    GiveStandInPatch(main);
    main.pointCsvPath = CsvPath();
    main.buttonUpdata_Click();
    const auto messages = FinishJob(main);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error!");
    EXPECT_EQ(messages[0].caption, "Error");
    // Nothing was read: no file appears.
    EXPECT_FALSE(std::filesystem::exists(CsvPath()));
    // The end is the same on every path: reset, window enabled, connection closed. The reset
    // is not answered, so it may reach the journal a moment after the job ended.
    EXPECT_TRUE(sim_->WaitForFrames(4, 2000));
    EXPECT_EQ(FramesOf(0x06, 0x40), 1);
    EXPECT_FALSE(Peer(main).deviceCon());
    EXPECT_EQ(view_.Tabs(), true);
    const JobResult result = Result();
    EXPECT_EQ(result.failure, JobFailure::PatchFailed);
    EXPECT_EQ(result.csvPath, CsvPath());
    EXPECT_EQ(result.rowsWritten, 0);
    EXPECT_FALSE(result.csvKept);
}

TEST_F(JobsTest, PointImportFromUnidentifiedFlashIsAnError) {
    testsupport::ScopedFastClock fast;
    sim::DeviceConfig device;
    device.mode = DeviceMode::Patch;
    device.spinorId = {0xFF, 0xFF, 0x00, 0x00};
    StartSimWith(device);
    std::ofstream(CsvPath(), std::ios::binary) << "earlier import";
    Main main(view_, dir_.Settings());
    Settle(main);
    main.pointCsvPath = CsvPath();
    main.buttonUpdata_Click();
    const auto messages = FinishJob(main);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error!");
    // An existing file stays as it was.
    EXPECT_EQ(Slurp(CsvPath()), "earlier import");
    EXPECT_EQ(FramesOf(0xF4, 0x31), 0);
    EXPECT_EQ(Result().failure, JobFailure::FlashNotFound);
}

// The window says which file and why under "Error!", as the result has them.
TEST_F(JobsTest, PointImportThatCannotCreateItsFileSaysWhereAndWhy) {
    testsupport::ScopedFastClock fast;
    StartSim(DeviceMode::Patch);
    std::ofstream(CsvPath()) << "a file where a folder should be";
    Main main(view_, dir_.Settings());
    Settle(main);
    const std::string target = CsvPath() + "/points.csv";
    main.pointCsvPath = target;
    main.buttonUpdata_Click();
    const auto messages = FinishJob(main);
    ASSERT_EQ(messages.size(), 1u);
    const JobResult result = Result();
    EXPECT_EQ(result.failure, JobFailure::CsvNotWritable);
    EXPECT_NE(result.detail.find(target), std::string::npos) << result.detail;
    EXPECT_NE(result.detail.find(std::strerror(ENOTDIR)), std::string::npos) << result.detail;
    EXPECT_EQ(messages[0].text, "Error!\n" + result.detail);
    EXPECT_EQ(messages[0].icon, MessageIcon::Error);
    ASSERT_TRUE(result.message);
    EXPECT_EQ(result.message->text, messages[0].text);
}

TEST_F(JobsTest, AnErrorThatEndsAJobKeepsItsText) {
    StartSim(DeviceMode::Patch);
    Main main(view_, dir_.Settings());
    main.JobBodyOverride = [](JobButton) -> JobResult {
        throw std::runtime_error("frame table exhausted");
    };
    main.pointCsvPath = CsvPath();
    main.buttonUpdata_Click();
    const auto messages = FinishJob(main);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error!\nframe table exhausted");
    const JobResult result = Result();
    EXPECT_EQ(result.job, JobKind::PointImport);
    EXPECT_EQ(result.failure, JobFailure::Unexpected);
    EXPECT_EQ(result.detail, "frame table exhausted");
}

TEST_F(JobsTest, PointImportOfAnEmptyAreaCompletesWithAnEmptyFile) {
    StartSim(DeviceMode::Patch);
    view_.SetSetting(Setting::textUpLen, "0");
    Main main(view_, dir_.Settings());
    Settle(main);
    main.pointCsvPath = CsvPath();
    main.buttonUpdata_Click();
    const auto messages = FinishJob(main);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "データの書込みが完了しました。");
    EXPECT_EQ(messages[0].caption, "");
    EXPECT_FALSE(messages[0].fromUiThread);
    EXPECT_EQ(std::filesystem::file_size(CsvPath()), 0u);
    const JobResult result = Result();
    EXPECT_TRUE(result.Done());
    EXPECT_EQ(result.message, WriteDoneMessage());
    EXPECT_EQ(result.rowsWritten, 0);
}

TEST_F(JobsTest, PointImportHandsOverTheRecordsInFlashOrder) {
    sim::DeviceConfig device;
    device.mode = DeviceMode::Patch;
    const std::vector<sim::SavedPoint> points = sim::SyntheticPoints(5, 7);
    device.points = sim::EncodePointRecords(points);
    StartSimWith(device);
    Main main(view_, dir_.Settings());
    Settle(main);
    main.pointCsvPath = CsvPath();
    main.buttonUpdata_Click();
    FinishJob(main);
    const JobResult result = Result();
    EXPECT_TRUE(result.Done());
    EXPECT_EQ(result.rowsWritten, 5);
    ASSERT_EQ(result.points.size(), points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(result.points[i].gcid, points[i].gcid) << i;
        EXPECT_EQ(result.points[i].latitudeRaw, points[i].latitudeRaw) << i;
        EXPECT_EQ(result.points[i].second, points[i].second) << i;
    }
    // One row per record after the header.
    const std::string csv = Slurp(CsvPath());
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 6);
}

TEST_F(JobsTest, ARefusedFirmwareFileLeavesTheWindowAsItWas) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    const std::string file = dir_.Path() + "-bad.ckfm";
    std::ofstream(file) << "not a packed file";
    view_.AnswerFileDialog(file);
    view_.ClearLog();
    main.buttonFwDown_Click();
    const auto messages = FinishJob(main);
    std::filesystem::remove(file);
    EXPECT_TRUE(messages.empty());
    // The click took the button away; the job gives it back and never shows the bar.
    EXPECT_TRUE(Enabled(JobButton::FwDown));
    EXPECT_EQ(view_.Tabs(), true);
    const auto log = view_.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "bar:on"), 0);
    EXPECT_TRUE(Peer(main).deviceCon());
    EXPECT_EQ(FramesOf(0xF4, 0x05), 0);
    const JobResult result = Result();
    EXPECT_EQ(result.failure, JobFailure::RefusedFile);
    EXPECT_FALSE(result.message.has_value());
    EXPECT_FALSE(result.detail.empty());
}

// A navigator played on a pty: it runs the patch program, names its flash, and answers every
// flash read with only `replyBytes` bytes.
class ShortReplyDevice {
public:
    ShortReplyDevice(ScopedDeviceDir& dir, size_t replyBytes) : replyBytes_(replyBytes) {
        dir.Link("navigator0", pty_.SlavePath());
        thread_ = std::thread([this] { Serve(); });
    }
    ~ShortReplyDevice() {
        stop_ = true;
        thread_.join();
    }

private:
    void Serve() {
        std::vector<uint8_t> held;
        while (!stop_) {
            pollfd p{pty_.Master(), POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            uint8_t buf[4096];
            const ssize_t n = read(pty_.Master(), buf, sizeof buf);
            if (n <= 0) continue;
            held.insert(held.end(), buf, buf + n);
            for (;;) {
                FUR_DATA r{PARSE_NO_FRAME, {}, 0, 0};
                const uint32_t used = parsefur(held.data(), static_cast<uint32_t>(held.size()), &r);
                if (used == 0) break;
                const uint16_t code = r.status == PARSE_OK ? FurCode(r.command) : 0;
                held.erase(held.begin(), held.begin() + used);
                if (code == 0x0A04) {
                    const std::string text = "BOOT E3 TEST";
                    std::vector<uint8_t> payload(text.begin(), text.end());
                    payload.resize(64, 0);
                    pty_.Send(MakeFrame(VERSION_DATA, payload));
                } else if (code == 0xF430) {
                    const std::vector<uint8_t> id = {0xC2, 0x20, 0x18, 0x00};
                    pty_.Send(MakeFrame(BOOT2_SPINORID_DATA, id));
                } else if (code == 0xF431) {
                    pty_.Send(
                        MakeFrame(BOOT2_SPINORRD_DATA, std::vector<uint8_t>(replyBytes_, 0x11)));
                }
            }
        }
    }

    PtyPair pty_;
    size_t replyBytes_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(JobsTest, AShortAnswerToAFlashReadIsAnError) {
    ShortReplyDevice device(dir_, 100);
    Main main(view_, dir_.Settings());
    Settle(main);
    GiveStandInPatch(main);
    main.pointCsvPath = CsvPath();
    main.buttonUpdata_Click();
    const auto messages = FinishJob(main);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error!");
    // No record was read, so the file with its header alone is not put in place.
    EXPECT_FALSE(std::filesystem::exists(CsvPath()));
    const JobResult result = Result();
    EXPECT_EQ(result.failure, JobFailure::NotAnswering);
    EXPECT_EQ(result.rowsWritten, 0);
    EXPECT_TRUE(result.points.empty());
}

}  // namespace
