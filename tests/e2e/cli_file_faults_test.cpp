// caddora-cli tried the way a careless user or a hostile file would: outputs that must survive
// a failed write, inputs that must not hang, outputs checked before a device is touched.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "e2e/job_run_support.h"

namespace e2e {
namespace {

const Bytes kFramesSub = {2, 0, 0, 0, 0, 0, 0, 0};

class CliFileFaults : public JobRun {
protected:
    // Hidden files left in the test folder: temporary files of a failed write.
    std::vector<std::string> HiddenFiles() const {
        std::vector<std::string> hidden;
        for (const auto& entry : fs::directory_iterator(root_)) {
            const std::string name = entry.path().filename().string();
            if (name[0] == '.') hidden.push_back(name);
        }
        return hidden;
    }
    std::string GoodPacked() { return Packed("good.ckfm", Pattern(3000, 1), kFramesSub); }
};

TEST_F(CliFileFaults, FailedWritesLeaveTheOutputAsItWas) {
    const std::string bad = Packed("bad.ckfm", Pattern(3000, 2), kFramesSub, Bytes(16, 0x5A));
    WriteBytes(Path("fw3.bin"), {1, 2, 3});
    const std::string keep = Path("keep.out");
    const std::vector<std::vector<std::string>> runs = {
        {"unpack", bad, keep},
        {"pack-firmware", Path("fw3.bin"), keep, "--sub-header", "02", "--boot-code-offset",
         "0x400", "--reference-clock", "26000000"},
        {"pack", Path("missing.bin"), keep, "--sub-header", "02"},
    };
    for (const auto& args : runs) {
        WriteBytes(keep, {9, 8, 7});
        const CliRun run = Cli(args, false);
        EXPECT_EQ(run.status, 1) << args[0] << ": " << run.err;
        EXPECT_EQ(ReadBytes(keep), (Bytes{9, 8, 7})) << args[0];
    }
    EXPECT_EQ(HiddenFiles(), std::vector<std::string>{}) << "temporary files are cleaned up";
}

TEST_F(CliFileFaults, OutputThatIsTheInputIsRefusedAlsoThroughLinks) {
    const std::string good = GoodPacked();
    const Bytes original = ReadBytes(good);
    fs::create_symlink(good, Path("link.ckfm"));
    fs::create_hard_link(good, Path("hard.ckfm"));
    const std::vector<std::vector<std::string>> runs = {
        {"unpack", good, good},
        {"unpack", good, Path("link.ckfm")},
        {"unpack", Path("link.ckfm"), Path("hard.ckfm")},
        {"pack", good, Path("link.ckfm"), "--sub-header", "02"},
        {"pack-firmware", good, Path("hard.ckfm"), "--sub-header", "02", "--boot-code-offset",
         "0x400", "--reference-clock", "26000000"},
    };
    for (const auto& args : runs) {
        const CliRun run = Cli(args, false);
        EXPECT_EQ(run.status, 1) << args[0] << " " << args[2];
        EXPECT_NE(run.err.find("input"), std::string::npos) << run.err;
        EXPECT_EQ(ReadBytes(good), original);
    }
}

TEST_F(CliFileFaults, ALinkedOutputReplacesWhatTheLinkNamesAndStaysALink) {
    const std::string good = GoodPacked();
    WriteBytes(Path("target.bin"), {1});
    fs::create_symlink(Path("target.bin"), Path("out.bin"));
    const CliRun run = Cli({"unpack", good, Path("out.bin")}, false);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(Path("out.bin")));
    EXPECT_EQ(ReadBytes(Path("target.bin")), Pattern(3000, 1));
}

TEST_F(CliFileFaults, ADeviceOutputIsWrittenInPlaceAndNeverRemoved) {
    if (geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
    // A node of the always-full device: every write fails with "No space left on device".
    const std::string full = Path("full");
    ASSERT_EQ(::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    const CliRun run = Cli({"unpack", GoodPacked(), full}, false);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("No space left"), std::string::npos) << run.err;
    struct stat st {};
    ASSERT_EQ(::stat(full.c_str(), &st), 0) << "the device node is still there";
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(CliFileFaults, PipesAndProcFilesArePackedToTheirEnd) {
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    const Bytes data = Pattern(200'000, 3);
    WriteBytes(Path("data.bin"), data);
    // The writer starts after the packer opened the pipe; more than a pipe buffer's worth.
    ASSERT_EQ(
        Shell("(sleep 0.3; cat " + Quote(Path("data.bin")) + " > " + Quote(Path("fifo")) + ") &"),
        0);
    CliRun run = Cli({"pack", Path("fifo"), Path("p.ckfm"), "--sub-header", "02"}, false);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(Cli({"unpack", Path("p.ckfm"), Path("p.bin")}, false).status, 0);
    EXPECT_EQ(ReadBytes(Path("p.bin")), data);

    // Its size says 0.
    run = Cli({"pack", "/proc/self/cmdline", Path("proc.ckfm"), "--sub-header", "02"}, false);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(Cli({"unpack", Path("proc.ckfm"), Path("proc.bin")}, false).status, 0);
    EXPECT_GT(fs::file_size(Path("proc.bin")), 0u);
}

TEST_F(CliFileFaults, InputsThatAreNotFilesAreRefusedAtOnce) {
    ASSERT_EQ(::mkfifo(Path("fifo.ckfm").c_str(), 0600), 0);
    StartSim(kQuickPatch);
    const std::string fifo = Path("fifo.ckfm");
    const std::vector<std::vector<std::string>> runs = {
        {"info", fifo},
        {"unpack", fifo, Path("x.bin")},
        {"write-firmware", fifo},
        {"write-course", fifo},
        {"ymodem", fifo},
        {"info", root_.string()},
        {"pack", "/dev/null", Path("x.ckfm"), "--sub-header", "02"},
    };
    for (const auto& args : runs) {
        const bool job =
            args[0] == "write-firmware" || args[0] == "write-course" || args[0] == "ymodem";
        const CliRun run = Cli(args, job);
        EXPECT_EQ(run.status, 1) << args[0] << ": " << run.err;
        EXPECT_LT(run.ms, 5000) << args[0];
        EXPECT_NE(run.err.find("cannot read"), std::string::npos) << args[0] << ": " << run.err;
    }
    StopSim();
    EXPECT_TRUE(Journal().empty()) << "refused before the device was asked anything";
}

TEST_F(CliFileFaults, PackedFirmwareIsJudgedBeforeANavigatorIsLookedFor) {
    const Bytes ymodemSub = {3, 0, 0, 0, 0, 0, 0, 0};
    const Bytes wrongDigest(16, 0x5A);
    const struct {
        std::vector<std::string> args;
        std::string says;
    } rows[] = {
        {{"write-firmware", Packed("f1.ckfm", Pattern(3000, 1), kFramesSub, wrongDigest)},
         "Incorrect checksum"},
        {{"write-firmware", Packed("f2.ckfm", Pattern(3000, 2), ymodemSub)}, "wrong package type"},
        {{"ymodem", Packed("y1.ckfm", Pattern(3000, 3), ymodemSub, wrongDigest)},
         "Incorrect checksum"},
        {{"ymodem", Packed("y2.ckfm", Pattern(3000, 4), kFramesSub)}, "wrong package type"},
    };
    // No navigator attached: the file's fault is what the user hears of first.
    for (const auto& row : rows) {
        const CliRun run = Cli(row.args);
        EXPECT_EQ(run.status, 1) << row.args[1];
        EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("no navigator"), std::string::npos) << run.err;
    }
    // A navigator in its boot loader is not even asked what it runs.
    StartSim({"--mode", "boot"});
    for (const auto& row : rows) EXPECT_EQ(Cli(row.args).status, 1) << row.args[1];
    StopSim();
    EXPECT_TRUE(Journal().empty()) << "refused before the device was asked anything";
}

TEST_F(CliFileFaults, ImportOutputIsCheckedBeforeConnecting) {
    fs::create_directories(Path("adir"));
    StartSim(kQuickPatch);
    const std::pair<std::string, std::string> cases[] = {
        {Path("nodir/x.csv"), "does not exist"},
        {Path("adir"), "directory"},
    };
    for (const auto& [out, why] : cases) {
        const CliRun run = Cli({"import-points", "--out", out});
        EXPECT_EQ(run.status, 1) << out;
        EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("exception"), std::string::npos) << run.err;
    }
    StopSim();
    EXPECT_TRUE(Journal().empty());
}

TEST_F(CliFileFaults, InfoJsonStaysUtf8AndTrailingBytesAreWarnedAbout) {
    const std::string good = GoodPacked();
    const std::string odd = Path("caf\xE9\x01.ckfm");  // Latin-1 name with a control byte
    fs::copy_file(good, odd);
    CliRun run = Cli({"info", "--json", odd}, false);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("caf\\ufffd\\u0001.ckfm"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\xE9'), std::string::npos);

    Bytes trailing = ReadBytes(good);
    trailing.insert(trailing.end(), {'j', 'u', 'n', 'k'});
    WriteBytes(Path("trailing.ckfm"), trailing);
    for (const char* command : {"info", "unpack"}) {
        std::vector<std::string> args = {command, Path("trailing.ckfm")};
        if (std::string(command) == "unpack") args.push_back(Path("t.bin"));
        run = Cli(args, false);
        EXPECT_EQ(run.status, 0) << command << ": " << run.err;
        EXPECT_NE(run.err.find("bytes after its gzip stream"), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace e2e
