#include "sim/pty_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "sim/frame_journal.h"
#include "sim/sim_test_support.h"

using namespace simtest;
using sim::SimConfig;
using sim::SimServer;

namespace {

namespace fs = std::filesystem;

class SimServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = fs::temp_directory_path() /
                ("simserver_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(base_);
        config_.deviceDir = (base_ / "dev" / "caddora").string();  // missing: the server creates it
        config_.device.mode = sim::DeviceMode::Normal;
    }
    void TearDown() override { fs::remove_all(base_); }

    fs::path base_;
    SimConfig config_;
};

}  // namespace

TEST_F(SimServerTest, LinksThePtyAnswersARawClientAndRemovesTheLinkOnStop) {
    config_.journalPath = (base_ / "journal.txt").string();
    config_.dumpDir = (base_ / "dump").string();
    SimServer server(config_);
    std::string path = server.Start();
    EXPECT_EQ(path, config_.deviceDir + "/navigator0");
    ASSERT_TRUE(fs::is_symlink(path));
    EXPECT_TRUE(fs::is_character_file(path));
    EXPECT_EQ(fs::read_symlink(path).string(), server.SlavePath());

    Client client(path);
    ASSERT_TRUE(client.Open());
    ASSERT_TRUE(client.Send(VersionPoll()));
    auto replies = ParseAll(client.ReadFrames(1, 3000));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(std::string(replies[0].payload.begin(), replies[0].payload.begin() + 16),
              "MDL4200 FW V3.05");
    ASSERT_TRUE(server.WaitForFrames(1, 1000));
    EXPECT_EQ(server.Journal().size(), 1u);
    // The journal file is written as frames arrive.
    auto lines = sim::ReadJournalFile(config_.journalPath);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Code(), 0x0A04);

    server.Stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    EXPECT_FALSE(server.Running());
    EXPECT_TRUE(fs::exists(base_ / "dump" / "state.txt"));
}

TEST_F(SimServerTest, AClientCanDisconnectAndConnectAgain) {
    SimServer server(config_);
    std::string path = server.Start();
    for (int round = 0; round < 3; ++round) {
        Client client(path);
        ASSERT_TRUE(client.Open());
        client.Send(SpinorIdPoll());
        EXPECT_EQ(ParseAll(client.ReadFrames(1, 3000)).size(), 1u) << "round " << round;
    }
    EXPECT_EQ(server.FramesReceived(), 3u);
}

TEST_F(SimServerTest, SplitRepliesArriveInPiecesAndComplete) {
    config_.device.faults.splitBytes = 10;
    config_.device.faults.splitGapMs = 20;
    SimServer server(config_);
    Client client(server.Start());
    client.Send(SpinorRead(0, 192));
    std::vector<size_t> chunks;
    auto replies = ParseAll(client.ReadFrames(1, 5000, &chunks));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].payload.size(), 192u);
    EXPECT_GE(chunks.size(), 5u);  // 200 bytes, 10 per write, 20 ms apart
    for (size_t n : chunks) EXPECT_LE(n, 20u);
}

TEST_F(SimServerTest, DelayedAndNoisyRepliesStillCarryTheFrame) {
    config_.device.faults.delayMs = 150;
    config_.device.faults.noiseBytes = 30;
    SimServer server(config_);
    Client client(server.Start());
    auto start = std::chrono::steady_clock::now();
    client.Send(VersionPoll());
    Bytes got = client.ReadFrames(1, 5000);
    auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(ParseAll(got).size(), 1u);
    EXPECT_GE(elapsed, std::chrono::milliseconds(140));
    EXPECT_EQ(got.size(), 30u + 72u);
}

TEST_F(SimServerTest, VanishingDeviceRemovesTheLinkAndTheClientsReadFails) {
    config_.device.faults.vanishAfter = 1;
    std::atomic<bool> notified{false};
    config_.onVanish = [&] { notified = true; };
    SimServer server(config_);
    std::string path = server.Start();
    Client client(path);
    client.Send(VersionPoll());
    EXPECT_EQ(ParseAll(client.ReadFrames(1, 3000)).size(), 1u);  // frame 1 is still answered
    ASSERT_TRUE(server.WaitForVanish(3000));
    EXPECT_TRUE(notified);
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    EXPECT_TRUE(client.ReadFails(2000));
    EXPECT_FALSE(server.Running());
    server.Stop();  // harmless afterwards
}

TEST_F(SimServerTest, StaleLinksAreReplacedButLiveNamesAreNot) {
    fs::create_directories(config_.deviceDir);
    std::string path = config_.deviceDir + "/navigator0";
    fs::create_symlink("/dev/pts/nonexistent-999", path);
    SimServer first(config_);
    EXPECT_EQ(first.Start(), path);
    SimServer second(config_);
    EXPECT_THROW(second.Start(), std::runtime_error);
    EXPECT_TRUE(fs::is_character_file(path));  // the failed start left the live link alone
    first.Stop();
    SimConfig badName = config_;
    badName.name = "a/b";
    EXPECT_THROW(SimServer(badName).Start(), std::invalid_argument);
}

TEST_F(SimServerTest, PatchUploadOverThePtyChangesTheModeSeenByLaterQueries) {
    config_.device.mode = sim::DeviceMode::Boot;
    SimServer server(config_);
    Client client(server.Start());
    Bytes image = PatternImage(sim::kPatchImageSize);
    for (const Bytes& packet : PatchPackets(image)) {
        ASSERT_TRUE(client.Send(packet));
        auto r = ParseAll(client.ReadFrames(1, 3000));
        ASSERT_EQ(r.size(), 1u);
        ASSERT_TRUE(IsAck(r[0], 0xF4, 0x05));
    }
    client.Send(RunAt(0x2622D));
    EXPECT_TRUE(IsAck(ParseAll(client.ReadFrames(1, 3000)).at(0), 0xF4, 0x06));
    EXPECT_EQ(server.Mode(), sim::DeviceMode::Patch);
    EXPECT_EQ(server.WrittenMemory().Read(0x26000, sim::kPatchImageSize), image);
    auto journal = server.Journal();
    ASSERT_EQ(journal.size(), 16u);
    EXPECT_EQ(journal[14].payloadLength, 6u + 268u);
    EXPECT_EQ(journal[15].Code(), 0xF406);
    // Settings can change while serving.
    server.WithModel([](sim::DeviceModel& m) { m.SetVersionText("MDL4200 E3 SPECIAL"); });
    client.Send(VersionPoll());
    auto version = ParseAll(client.ReadFrames(1, 3000));
    ASSERT_EQ(version.size(), 1u);
    EXPECT_EQ(std::string(version[0].payload.begin(), version[0].payload.begin() + 18),
              "MDL4200 E3 SPECIAL");
}
