// The window callbacks, the delegates, the click handlers and the job thread they start.
#include <regex>

#include "app/window_texts.h"
#include "app_fixture.h"
#include "platform/program_folder.h"
#include "support/main_test_peer.h"

using sim::DeviceMode;

TEST_F(AppTest, UpdateProgressWithoutMaximumKeepsTheBarsMaximum) {
    Main main(view_, dir_.Settings());
    Settle(main);
    Peer(main).progressMax() = 10;
    main.UpdateProgress(3);
    EXPECT_EQ(view_.ProgressMax(), 10);
    EXPECT_EQ(view_.ProgressValue(), 3);
    view_.ClearLog();
    Peer(main).progressMax() = 0;
    main.UpdateProgress(5);
    EXPECT_EQ(view_.ProgressMax(), 10);
    EXPECT_EQ(view_.ProgressValue(), 5);
    EXPECT_EQ(view_.Log(), std::vector<std::string>{"value:5"});
    Peer(main).progressMax() = -1;
    main.UpdateProgress(6);
    EXPECT_EQ(view_.ProgressMax(), 10);
}

TEST_F(AppTest, UpdateButtonFollowsTheDeviceModeForTheFirmwareButton) {
    Main main(view_, dir_.Settings());
    Settle(main);
    Peer(main).FwType() = false;
    main.UpdateButton(false);
    EXPECT_EQ(view_.Tabs(), false);
    EXPECT_EQ(view_.CloseAllowed(), false);
    EXPECT_EQ(view_.BarVisible(), true);
    EXPECT_FALSE(Enabled(JobButton::KroDown));
    EXPECT_FALSE(Enabled(JobButton::Updata));
    // Still enabled, though out of reach behind the disabled tabs.
    EXPECT_TRUE(Enabled(JobButton::FwDown));

    Peer(main).FwType() = true;
    main.UpdateButton(true);
    EXPECT_EQ(view_.Tabs(), true);
    EXPECT_EQ(view_.CloseAllowed(), true);
    EXPECT_EQ(view_.BarVisible(), false);
    EXPECT_TRUE(Enabled(JobButton::KroDown));
    EXPECT_TRUE(Enabled(JobButton::Updata));
    EXPECT_FALSE(Enabled(JobButton::FwDown));
}

TEST_F(AppTest, ErrorShowIsTheGenericErrorBox) {
    Main main(view_, dir_.Settings());
    Settle(main);
    main.ErrorShow();
    auto messages = view_.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error!");
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(messages[0].icon, MessageIcon::Error);
}

TEST_F(AppTest, DelegatesPostInOrderWithoutTouchingTheView) {
    Main main(view_, dir_.Settings());
    Settle(main);
    view_.ClearLog();
    std::thread job([&] {
        Peer(main).progressMax() = 10;
        Peer(main).UpdateProgressDelegate()(3);
        // The value posted above keeps the maximum it was posted with.
        Peer(main).progressMax() = 0;
        Peer(main).UpdateProgressDelegate()(4);
        Peer(main).UpdateButtonDelegate()(false);
        main.PostProgressRange(7, 1);
        main.PostProgressStep();
        Peer(main).ErrorShowDelegate()();
    });
    job.join();
    EXPECT_TRUE(view_.Log().empty());
    EXPECT_TRUE(view_.Messages().empty());
    view_.RunPosted();
    const std::vector<std::string> expected = {"max:10",           "value:3",
                                               "value:4",          "tabs:off",
                                               "close:off",        "buttonKroDown:off",
                                               "buttonUpdata:off", "buttonFwDown:on",
                                               "bar:on",           "max:7",
                                               "value:1",          "step:",
                                               "message:Error!"};
    EXPECT_EQ(view_.Log(), expected);
    EXPECT_EQ(view_.ProgressValue(), 2);
}

TEST_F(AppTest, CallsPostedAfterMainIsGoneAreDropped) {
    auto main = std::make_unique<Main>(view_, dir_.Settings());
    Settle(*main);
    Peer(*main).UpdateButtonDelegate()(false);
    Peer(*main).ErrorShowDelegate()();
    main.reset();
    view_.ClearLog();
    EXPECT_EQ(view_.RunPosted(), 2);
    EXPECT_TRUE(view_.Log().empty());
}

TEST_F(AppTest, LinksOpenTheirAddresses) {
    Main main(view_, dir_.Settings());
    Settle(main);
    main.linkLabel1_LinkClicked();
    main.linkLabel2_LinkClicked();
    EXPECT_EQ(view_.Urls(), (std::vector<std::string>{std::string(texts::kMakerUrl),
                                                      std::string(texts::kMemberUrl)}));
}

// --- Firmware button ------------------------------------------------------------------------

TEST_F(AppTest, FirmwareClickInBootModeAsksForAPackedFileAndStartsTheJob) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    FakeJobs(main);
    view_.AnswerFileDialog("/data/update.ckfm");
    main.buttonFwDown_Click();
    Settle(main);
    auto requests = view_.FileRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].defaultExt, "ckfm");
    EXPECT_EQ(requests[0].filter, "Packed Firmware Files|*.ckfm");
    EXPECT_EQ(requests[0].fileName, "");
    EXPECT_EQ(Peer(main).filePath(), "/data/update.ckfm");
    ASSERT_NE(Peer(main).SendPort(), nullptr);
    EXPECT_EQ(Peer(main).SendPort()->ReadTimeout(), 25000);
    ASSERT_TRUE(main.WaitForJobEnd(5000));
    EXPECT_EQ(StartedJobs(), std::vector<JobButton>{JobButton::FwDown});
    // The window is enabled again and the job's failure is reported.
    ASSERT_TRUE(view_.Pump([&] { return view_.JobsEnded() == 1; }));
    Settle(main);
    auto messages = view_.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error!");
    EXPECT_TRUE(messages[0].fromUiThread);
    EXPECT_EQ(view_.Tabs(), true);
    EXPECT_EQ(view_.BarVisible(), false);
    EXPECT_FALSE(Peer(main).deviceCon());
    EXPECT_TRUE(main.CanClose());
    EXPECT_EQ(WaitForReaderThreads(0), 0);
}

TEST_F(AppTest, FirmwareClickCancelledStartsNothingAndKeepsTheConnection) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    FakeJobs(main);
    view_.AnswerFileDialog(std::nullopt);
    main.buttonFwDown_Click();
    Settle(main);
    EXPECT_EQ(view_.FileRequests().size(), 1u);
    EXPECT_FALSE(main.JobRunning());
    EXPECT_TRUE(StartedJobs().empty());
    EXPECT_TRUE(Peer(main).deviceCon());
    EXPECT_EQ(Peer(main).SendPort(), nullptr);
    EXPECT_TRUE(Enabled(JobButton::FwDown));
}

TEST_F(AppTest, FirmwareClickInNormalModeOpensNoDialog) {
    testsupport::ScopedFastClock fast;
    Main main(view_, dir_.Settings());  // no device yet: FwType stays false
    Settle(main);
    FakeJobs(main);
    StartSim(DeviceMode::Normal);
    view_.AnswerFileDialog("/data/update.ckfm");
    main.buttonFwDown_Click();
    Settle(main);
    EXPECT_TRUE(view_.FileRequests().empty());
    EXPECT_TRUE(Peer(main).FwType());
    EXPECT_FALSE(Enabled(JobButton::FwDown));
    EXPECT_FALSE(main.JobRunning());
    EXPECT_TRUE(StartedJobs().empty());
}

// --- Course-data button ---------------------------------------------------------------------

TEST_F(AppTest, CourseClickSetsTheJobFieldsFromTheChosenFile) {
    Main main(view_, dir_.Settings());
    Settle(main);
    FakeJobs(main);
    GiveStandInPatch(main);
    StartSim(DeviceMode::Patch);
    const std::pair<const char*, int32_t> cases[] = {
        {"/c/index4.kzip", 2}, {"/c/pack.ckfm", 1}, {"/c/jis.bin", 0}, {"/c/INDEX4.KZIP", 0}};
    for (const auto& [path, kind] : cases) {
        view_.AnswerFileDialog(path);
        main.buttonKroDown_Click();
        EXPECT_EQ(Peer(main).filePath(), path);
        EXPECT_EQ(Peer(main).kroType(), kind) << path;
        EXPECT_EQ(Peer(main).type(), 2);
        ASSERT_NE(Peer(main).SendPort(), nullptr);
        EXPECT_EQ(Peer(main).SendPort()->ReadTimeout(), 25000);
        EXPECT_EQ(view_.LabelPackets(), "0");
        ASSERT_TRUE(main.WaitForJobEnd(5000));
        // The patch program answered the job thread's query: no upload will be needed.
        EXPECT_TRUE(Peer(main).patchStatus());
        view_.RunPosted();
        Settle(main);  // the device check that follows the job
    }
    EXPECT_EQ(StartedJobs(), std::vector<JobButton>(4, JobButton::KroDown));
    auto requests = view_.FileRequests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].filter, "kzip File|*.kzip");
    EXPECT_EQ(requests[0].fileName, "index4.kzip");
    EXPECT_EQ(requests[0].defaultExt, "");
}

TEST_F(AppTest, CourseClickWithoutDeviceStartsNothing) {
    Main main(view_, dir_.Settings());
    Settle(main);
    FakeJobs(main);
    view_.AnswerFileDialog("/c/index4.kzip");
    main.buttonKroDown_Click();
    EXPECT_FALSE(main.JobRunning());
    EXPECT_EQ(Peer(main).SendPort(), nullptr);
    EXPECT_EQ(Peer(main).filePath(), "");
    EXPECT_TRUE(StartedJobs().empty());
}

// --- Point-data button ----------------------------------------------------------------------

TEST_F(AppTest, PointClickNamesTheCsvByTheClockBesideTheProgram) {
    Main main(view_, dir_.Settings());
    Settle(main);
    FakeJobs(main);
    GiveStandInPatch(main);
    StartSim(DeviceMode::Patch);
    view_.SetButtonEnabled(JobButton::Updata, true);
    main.buttonUpdata_Click();
    EXPECT_FALSE(Enabled(JobButton::Updata));
    EXPECT_TRUE(view_.FileRequests().empty());
    EXPECT_EQ(Peer(main).type(), 1);
    ASSERT_NE(Peer(main).SendPort(), nullptr);
    EXPECT_EQ(Peer(main).SendPort()->ReadTimeout(), 21000);
    const std::string folder = platform::ProgramFolder() + "/";
    ASSERT_EQ(Peer(main).filePath().compare(0, folder.size(), folder), 0) << Peer(main).filePath();
    EXPECT_TRUE(
        std::regex_match(Peer(main).filePath().substr(folder.size()), std::regex(R"(\d{8}_\d{6}\.csv)")))
        << Peer(main).filePath();
    ASSERT_TRUE(main.WaitForJobEnd(5000));
    EXPECT_TRUE(Peer(main).patchStatus());
    EXPECT_EQ(StartedJobs(), std::vector<JobButton>{JobButton::Updata});
}

// A navigator that never answers must not hold the window: the click returns long before the
// patch query's deadline, which the job thread waits out instead.
TEST_F(AppTest, PointAndCourseClicksNeverWaitOnTheDevice) {
    testsupport::ScopedFastClock fast(5);
    Main main(view_, dir_.Settings());
    Settle(main);
    FakeJobs(main);
    sim::FaultConfig silent;
    silent.silentAfter = 0;
    StartSim(DeviceMode::Boot, silent);
    for (const JobButton button : {JobButton::Updata, JobButton::KroDown}) {
        Peer(main).patchStatus() = true;
        view_.AnswerFileDialog("/c/index4.kzip");
        const int64_t clickTicks = testsupport::ElapsedTicks(fast.Clock(), [&] {
            if (button == JobButton::Updata) {
                main.buttonUpdata_Click();
            } else {
                main.buttonKroDown_Click();
            }
        });
        EXPECT_LT(clickTicks, static_cast<int64_t>(kQueryTimeoutMs));
        ASSERT_TRUE(main.WaitForJobEnd(20000));
        EXPECT_FALSE(Peer(main).patchStatus());
        ASSERT_FALSE(StartedJobs().empty());
        EXPECT_EQ(StartedJobs().back(), button);
        view_.RunPosted();
        Settle(main);  // the device check that follows the job
    }
    Unplug();
}

TEST_F(AppTest, PointClickWithoutDeviceLeavesTheButtonDisabled) {
    Main main(view_, dir_.Settings());
    Settle(main);
    FakeJobs(main);
    view_.SetButtonEnabled(JobButton::Updata, true);
    main.buttonUpdata_Click();
    EXPECT_FALSE(Enabled(JobButton::Updata));
    EXPECT_FALSE(main.JobRunning());
    EXPECT_TRUE(StartedJobs().empty());
}

// --- One job at a time ----------------------------------------------------------------------

TEST_F(AppTest, ClickDisablesItsButtonAtOnceAndOtherClicksWaitForTheJob) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    FakeJobs(main);
    view_.CloseGateAtNextDialog();  // the job's first post holds it
    view_.AnswerFileDialog("/data/update.ckfm");
    main.buttonFwDown_Click();
    Settle(main);
    EXPECT_FALSE(Enabled(JobButton::FwDown));
    ASSERT_TRUE(view_.WaitForForeignPosts(1));
    ASSERT_TRUE(main.JobRunning());
    EXPECT_FALSE(main.CanClose());
    EXPECT_EQ(Peer(main).refDevData()->DevThread == std::thread::id{}, false);

    const auto polls = VersionPolls();
    view_.AnswerFileDialog("/data/other.ckfm");
    main.buttonFwDown_Click();
    view_.AnswerFileDialog("/c/index4.kzip");
    main.buttonKroDown_Click();
    main.buttonUpdata_Click();
    EXPECT_EQ(view_.FileRequests().size(), 1u);
    EXPECT_EQ(VersionPolls(), polls);
    EXPECT_EQ(Peer(main).filePath(), "/data/update.ckfm");

    view_.OpenGate();
    ASSERT_TRUE(main.WaitForJobEnd(5000));
    ASSERT_TRUE(view_.Pump([&] { return view_.JobsEnded() == 1; }));
    Settle(main);
    EXPECT_TRUE(main.CanClose());
    EXPECT_EQ(view_.Messages().size(), 1u);
    EXPECT_EQ(StartedJobs(), std::vector<JobButton>{JobButton::FwDown});
}

TEST_F(AppTest, DeviceCheckDuringAJobExchangesNoFramesButClosesOnUnplug) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    FakeJobs(main);
    view_.CloseGateAtNextDialog();
    view_.AnswerFileDialog("/data/update.ckfm");
    main.buttonFwDown_Click();
    Settle(main);
    ASSERT_TRUE(view_.WaitForForeignPosts(1));
    auto record = Peer(main).refDevData();
    const auto frames = sim_->FramesReceived();

    view_.ClearLog();
    main.CheckDeviceStatus();
    EXPECT_EQ(sim_->FramesReceived(), frames);
    EXPECT_TRUE(Peer(main).deviceCon());
    EXPECT_TRUE(record->readStream->IsOpen());
    EXPECT_TRUE(view_.Log().empty());

    Unplug();
    main.CheckDeviceStatus();
    EXPECT_FALSE(Peer(main).deviceCon());
    EXPECT_FALSE(record->readStream->IsOpen());
    EXPECT_FALSE(Enabled(JobButton::KroDown));

    view_.OpenGate();
    ASSERT_TRUE(main.WaitForJobEnd(5000));
    view_.RunPosted();
    EXPECT_EQ(WaitForReaderThreads(0), 0);
}

TEST_F(AppTest, MainWaitsForARunningJobBeforeItGoes) {
    StartSim(DeviceMode::Boot);
    auto main = std::make_unique<Main>(view_, dir_.Settings());
    Settle(*main);
    FakeJobs(*main);
    view_.CloseGateAtNextDialog();
    view_.AnswerFileDialog("/data/update.ckfm");
    main->buttonFwDown_Click();
    Settle(*main);
    ASSERT_TRUE(view_.WaitForForeignPosts(1));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        view_.OpenGate();
    });
    const auto start = std::chrono::steady_clock::now();
    main.reset();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    release.join();
    // Everything the job posted is dropped, since Main is gone.
    view_.ClearLog();
    EXPECT_GE(view_.RunPosted(), 1);
    EXPECT_TRUE(view_.Log().empty());
    EXPECT_EQ(WaitForReaderThreads(0), 0);
}
