// caddora-cli ymodem against caddora-sim: the update-mode frames the device received, the file
// its YMODEM receiver kept, and the failures that must end with "Error!".
#include "e2e/job_run_support.h"

namespace e2e {
namespace {

const Bytes kYmodemSub = {3, 0, 0, 0, 0, 0, 0, 0};

class YmodemCli : public JobRun {
protected:
    // The dump's list of received files: "<n>\t<size>\t<complete>\t<name>" lines.
    std::string ReceivedList() const { return Slurp(DumpDir() + "/ymodem.txt"); }

    // The frames after the window's device check (its version request): CFG_CFG, CFG_FWUP.
    std::vector<Frame> CommandFrames() const {
        std::vector<Frame> out;
        for (const auto& f : Journal()) {
            if (!f.Is(0x0A, 0x04)) out.push_back(f);
        }
        return out;
    }

    void ExpectUpdateModeFrames() const {
        const auto frames = CommandFrames();
        ASSERT_EQ(frames.size(), 2u) << "nothing else was taken for a frame";
        EXPECT_TRUE(frames[0].Is(0x06, 0x09));
        EXPECT_EQ(frames[0].payload, (Bytes{2, 0, 0, 0, 7, 0, 0, 0}));
        EXPECT_TRUE(frames[1].Is(0x06, 0x50));
        EXPECT_EQ(frames[1].payload, (Bytes{16}));
    }

    static void ExpectError(const CliRun& run) {
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find("Error!"), std::string::npos) << run.out << run.err;
    }
};

TEST_F(YmodemCli, SendsTheUnpackedPayloadAfterSwitchingToUpdateMode) {
    // Over 255 blocks, so the block numbers wrap.
    const Bytes payload = Pattern(300 * 1024 + 123, 3);
    const std::string file = Packed("fw.ckfm", payload, kYmodemSub);
    StartSim({});
    const CliRun run = Cli({"ymodem", file});
    StopSim();
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("sent 307323 bytes"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("bytes"), std::string::npos) << "progress on stderr: " << run.err;
    ExpectUpdateModeFrames();
    EXPECT_EQ(ReceivedList(), "0\t307323\t1\tfw.ckfm\n");
    EXPECT_EQ(ReadBytes(DumpDir() + "/ymodem_0.bin"), payload);
    EXPECT_EQ(DumpState()["ymodem_requested"], "1");
}

TEST_F(YmodemCli, JsonLinesEndWithTheResult) {
    const std::string file = Packed("small.ckfm", Pattern(1025, 4), kYmodemSub);
    StartSim({});
    const CliRun run = Cli({"ymodem", "--json", file});
    StopSim();
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const auto last = run.out.rfind("{\"type\":\"result\"");
    ASSERT_NE(last, std::string::npos) << run.out;
    const std::string result = run.out.substr(last);
    EXPECT_NE(result.find("\"ok\":true"), std::string::npos) << result;
    EXPECT_NE(result.find("\"bytes\":1025"), std::string::npos) << result;
    EXPECT_EQ(ReadBytes(DumpDir() + "/ymodem_0.bin"), Pattern(1025, 4));
}

TEST_F(YmodemCli, WrongPackageTypeSendsNothing) {
    const std::string file = Packed("frames.ckfm", Pattern(5000, 5), {2, 0, 0, 0, 0, 0, 0, 0});
    StartSim({});
    const CliRun run = Cli({"ymodem", file});
    StopSim();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("wrong package type"), std::string::npos) << run.err;
    EXPECT_TRUE(CommandFrames().empty());
    EXPECT_EQ(DumpState()["ymodem_requested"], "0");
}

TEST_F(YmodemCli, DigestMismatchLeavesTheDeviceOutOfUpdateMode) {
    const std::string file = Packed("bad.ckfm", Pattern(5000, 6), kYmodemSub, Bytes(16, 0xAB));
    StartSim({});
    const CliRun run = Cli({"ymodem", file});
    StopSim();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Incorrect checksum"), std::string::npos) << run.err;
    EXPECT_TRUE(CommandFrames().empty()) << "checked before switching the device";
    EXPECT_EQ(DumpState()["ymodem_requested"], "0");
    EXPECT_EQ(ReceivedList(), "") << "the receiver got no file";
}

TEST_F(YmodemCli, RefusedUpdateCommandFails_Slow) {
    const std::string file = Packed("fw.ckfm", Pattern(2000, 7), kYmodemSub);
    StartSim({"--nak-frame", "3"});  // 1 is the device check's version request
    const CliRun run = Cli({"ymodem", file});
    StopSim();
    ExpectError(run);
    ASSERT_EQ(CommandFrames().size(), 2u);
    EXPECT_TRUE(CommandFrames()[1].Is(0x06, 0x50));
    EXPECT_EQ(DumpState()["ymodem_requested"], "0");
    EXPECT_EQ(ReceivedList(), "");
}

TEST_F(YmodemCli, SilentDeviceFailsWithinTheAcknowledgementTime_Slow) {
    const std::string file = Packed("fw.ckfm", Pattern(2000, 8), kYmodemSub);
    StartSim({"--silent-after", "0"});
    const CliRun run = Cli({"ymodem", file});
    StopSim();
    ExpectError(run);
    EXPECT_GE(run.ms, 3000);
    EXPECT_LT(run.ms, 20000);
}

}  // namespace
}  // namespace e2e
