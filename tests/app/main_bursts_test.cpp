// Devices appearing and vanishing in bursts, during a mode query and during a job: nothing
// crashes, hangs or leaves a reader thread behind.
#include <atomic>

#include "app_fixture.h"
#include "support/main_test_peer.h"

using sim::DeviceMode;

TEST_F(AppTest, AttachAndDetachInQuickSuccession) {
    Main main(view_, dir_.Settings());
    for (int i = 0; i < 12; ++i) {
        StartSim(DeviceMode::Boot);
        Check(main);
        ASSERT_TRUE(Enabled(JobButton::FwDown)) << i;
        ASSERT_FALSE(Peer(main).deviceCon()) << i;
        Check(main);
        ASSERT_TRUE(Peer(main).deviceCon()) << i;
        Unplug();
        Check(main);
        ASSERT_FALSE(Peer(main).deviceCon()) << i;
        ASSERT_FALSE(Enabled(JobButton::KroDown)) << i;
    }
    EXPECT_EQ(WaitForReaderThreads(0), 0);
}

TEST_F(AppTest, DeviceVanishesDuringTheModeQuery) {
    testsupport::ScopedFastClock fast;
    sim::FaultConfig slow;
    slow.delayMs = 800;  // the reply would come long after the device is gone
    Main main(view_, dir_.Settings());
    StartSim(DeviceMode::Boot, slow);
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        Unplug();
    });
    const auto start = std::chrono::steady_clock::now();
    Check(main);
    const auto took = std::chrono::steady_clock::now() - start;
    unplug.join();
    // The query ran out (about 2 s) without an answer: not taken for boot mode.
    EXPECT_LT(took, std::chrono::milliseconds(4000));
    EXPECT_TRUE(Peer(main).FwType());
    EXPECT_FALSE(Peer(main).deviceCon());
    Check(main);
    EXPECT_FALSE(Peer(main).deviceExist());
    EXPECT_FALSE(Enabled(JobButton::Updata));
    EXPECT_EQ(WaitForReaderThreads(0), 0);
}

TEST_F(AppTest, ChecksRacingAPlugLoopNeverHang) {
    Main main(view_, dir_.Settings());
    std::atomic<bool> done{false};
    // Another thread plugs and unplugs while the UI thread keeps checking.
    std::thread plugger([&] {
        for (int i = 0; i < 15; ++i) {
            StartSim(DeviceMode::Boot);
            std::this_thread::sleep_for(std::chrono::milliseconds(7 * (i % 4)));
            Unplug();
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        done = true;
    });
    int checks = 0;
    const auto start = std::chrono::steady_clock::now();
    while (!done) {
        Check(main);
        ++checks;
    }
    plugger.join();
    Check(main);
    EXPECT_GT(checks, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_FALSE(Peer(main).deviceExist());
    EXPECT_FALSE(Peer(main).deviceCon());
    EXPECT_EQ(WaitForReaderThreads(0), 0);
}

TEST_F(AppTest, UnplugAndReplugDuringAJob) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    FakeJobs(main);
    view_.CloseGateAtNextDialog();
    view_.AnswerFileDialog("/data/update.ckfm");
    main.buttonFwDown_Click();
    Settle(main);
    ASSERT_TRUE(view_.WaitForForeignPosts(1));
    for (int i = 0; i < 5; ++i) {
        Unplug();
        main.CheckDeviceStatus();
        EXPECT_FALSE(Peer(main).deviceCon());
        StartSim(DeviceMode::Boot);
        main.CheckDeviceStatus();
        // The job still owns the window: no probe, no new connection.
        EXPECT_FALSE(Peer(main).deviceCon());
        EXPECT_EQ(VersionPolls(), 0);
    }
    view_.OpenGate();
    ASSERT_TRUE(main.WaitForJobEnd(5000));
    ASSERT_TRUE(view_.Pump([&] { return view_.JobsEnded() == 1; }));
    // The job's end checks the device again (so may the link the unplug broke): probed, and
    // at most the one connection a check keeps is left.
    Settle(main);
    EXPECT_GE(VersionPolls(), 1);
    EXPECT_TRUE(Enabled(JobButton::FwDown));
    const int readers = Peer(main).deviceCon() ? 1 : 0;
    EXPECT_EQ(WaitForReaderThreads(readers), readers);
}
