// Device code the owner supplies: without it the jobs that would load it refuse before any of
// it is sent, naming the file and where it goes; the stand-ins pass only when allowed.
#include "e2e/job_run_support.h"

namespace e2e {
namespace {

class DeviceImages : public JobRun {
protected:
    // Runs caddora-cli without the permission the other end-to-end tests give.
    CliRun CliWithoutStandIns(const std::vector<std::string>& args, bool withDeviceDir = true) {
        ::unsetenv("CADDORA_ALLOW_STAND_IN");
        ::setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);  // no user images
        const CliRun run = Cli(args, withDeviceDir);
        ::setenv("CADDORA_ALLOW_STAND_IN", "1", 1);
        ::unsetenv("XDG_CONFIG_HOME");
        return run;
    }
};

TEST_F(DeviceImages, BootLoaderJobsRefuseWithoutThePatchProgramBeforeSendingAny) {
    StartSim({"--mode", "boot"});
    WriteBytes(Path("jis.bin"), Pattern(100, 1));
    WriteBytes(Path("short.bin"), Pattern(100, 2));
    const std::vector<std::vector<std::string>> runs = {
        {"import-points", "--out", Path("p.csv")},
        {"write-course", Path("jis.bin")},
        {"write-course", Path("jis.bin"), "--patch-image", Path("short.bin")},
    };
    for (const auto& args : runs) {
        const CliRun run = CliWithoutStandIns(args);
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_NE(run.err.find("patch_image.bin"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("--patch-image"), std::string::npos) << run.err;
    }
    StopSim();
    EXPECT_TRUE(FramesOf(Journal(), kFwpg[0], kFwpg[1]).empty()) << "no patch packet was sent";
    EXPECT_TRUE(FramesOf(Journal(), kRun[0], kRun[1]).empty());
}

TEST_F(DeviceImages, PackFirmwareTakesTheSuppliedBootProgramAndRefusesTheStandIn) {
    WriteBytes(Path("fw.bin"), Pattern(5000, 3));  // enough to stay under 100 times its size
    const std::vector<std::string> pack = {
        "pack-firmware",      Path("fw.bin"), Path("fw.ckfm"),     "--sub-header", "02",
        "--boot-code-offset", "64",           "--reference-clock", "26000000"};
    CliRun run = CliWithoutStandIns(pack, false);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("boot_26mhz.bin"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(Path("fw.ckfm")));

    // A supplied program: the stand-in's fixed words, other code.
    Bytes program(2796);
    for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<uint8_t>(i * 13 + 5);
    const auto put = [&](size_t at, uint32_t v) {
        for (int b = 0; b < 4; ++b) program[at + b] = static_cast<uint8_t>(v >> (8 * b));
    };
    put(0, 0x00040000);
    put(4, 0x00024125);
    put(1076, 26000000);
    WriteBytes(Path("boot.bin"), program);
    std::vector<std::string> withProgram = pack;
    withProgram.insert(withProgram.end(), {"--boot-program", Path("boot.bin")});
    run = CliWithoutStandIns(withProgram, false);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(Cli({"unpack", Path("fw.ckfm"), Path("image.bin")}, false).status, 0);
    const Bytes image = ReadBytes(Path("image.bin"));
    ASSERT_GE(image.size(), 64u + program.size());
    EXPECT_EQ(Bytes(image.begin() + 64, image.begin() + 64 + 2796), program);
}

}  // namespace
}  // namespace e2e
