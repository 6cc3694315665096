// caddora-cli write-course and write-firmware against caddora-sim: the frames the device
// received, in order, and the bytes it stored.
#include "e2e/job_run_support.h"

namespace e2e {
namespace {

struct Fwpg {
    uint32_t address;
    uint16_t index;
    Bytes data;
};

class WriteJobs : public JobRun {
protected:
    std::vector<Fwpg> Programs() const {
        std::vector<Fwpg> out;
        for (const auto& f : FramesOf(Journal(), kFwpg[0], kFwpg[1])) {
            out.push_back({Le32(f.payload, 0), Le16(f.payload, 4),
                           Bytes(f.payload.begin() + 6, f.payload.end())});
        }
        return out;
    }

    static void ExpectDone(const CliRun& run) {
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("データの書込みが完了しました。"), std::string::npos) << run.out;
    }
    static void ExpectError(const CliRun& run, const std::string& line) {
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("データの書込みが完了しました。"), std::string::npos) << run.out;
    }
};

// --- Course data ------------------------------------------------------------------------------

TEST_F(WriteJobs, KzipUnpacksIntoTwoChunksOfFrames) {
    const Bytes data = Pattern(1048577, 7);
    WriteBytes(Path("index4.raw"), data);
    ASSERT_EQ(Shell("gzip -n -c " + Quote(Path("index4.raw")) + " > " + Quote(Path("index4.kzip"))),
              0);
    StartSim(kQuickPatch);
    const CliRun run = Cli({"write-course", Path("index4.kzip")});
    StopSim();
    ExpectDone(run);
    const auto frames = Programs();
    ASSERT_EQ(frames.size(), 513u);
    for (size_t i = 0; i < 512; ++i) {
        ASSERT_EQ(frames[i].address, 0xC0000000u + 2048 * i) << i;
        ASSERT_EQ(frames[i].index, i);
        ASSERT_EQ(frames[i].data.size(), 2048u);
    }
    // The second chunk: one data byte and its pad at 0xC0100000, the index running on.
    EXPECT_EQ(frames[512].address, 0xC0100000u);
    EXPECT_EQ(frames[512].index, 512);
    EXPECT_EQ(frames[512].data, (Bytes{data.back(), 0x00}));
    const auto stored = DumpRegion(0xC0000000);
    ASSERT_TRUE(stored);
    ASSERT_GE(stored->size(), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), stored->begin()));
}

TEST_F(WriteJobs, RawJisBinGoesToItsAddressUnchanged) {
    const Bytes data = Pattern(4096, 3);
    WriteBytes(Path("jis.bin"), data);
    StartSim({"--mode", "patch"});
    const CliRun run = Cli({"write-course", Path("jis.bin")});
    StopSim();
    ExpectDone(run);
    const auto frames = Programs();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].address, 0xC0080000u);
    EXPECT_EQ(frames[0].index, 0);
    EXPECT_EQ(frames[1].address, 0xC0080800u);
    EXPECT_EQ(frames[1].index, 1);
    EXPECT_EQ(DumpRegion(0xC0080000), data);
    // The patch program was running (no upload) and the version text had no "BOOT": the job
    // takes the device for its normal firmware and resets it at the end.
    EXPECT_EQ(FramesOf(Journal(), kRun[0], kRun[1]).size(), 0u);
    EXPECT_EQ(FramesOf(Journal(), kReset[0], kReset[1]).size(), 1u);
}

TEST_F(WriteJobs, ExactlyOneChunkIsFollowedByAnEmptyOne) {
    const Bytes data = Pattern(1048576, 5);
    WriteBytes(Path("index4.dat"), data);
    StartSim(kQuickPatch);
    const CliRun run = Cli({"write-course", Path("index4.dat")});
    StopSim();
    ExpectDone(run);
    const auto frames = Programs();
    ASSERT_EQ(frames.size(), 512u);
    EXPECT_EQ(frames.back().address, 0xC0100000u + 511 * 2048);
    EXPECT_EQ(DumpRegion(0xC0100000), data);
}

TEST_F(WriteJobs, EmptyFileSendsNothingAndStillResetsInNormalMode) {
    WriteBytes(Path("kx20x20.bin"), {});
    StartSim({"--mode", "normal"});
    const CliRun run = Cli({"write-course", Path("kx20x20.bin")});
    StopSim();
    ExpectDone(run);
    EXPECT_TRUE(Programs().empty());
    EXPECT_EQ(DumpState()["resets"], "1");
}

TEST_F(WriteJobs, UnknownNamesPackedFilesAndOversizedFilesAreRefusedBeforeConnecting) {
    StartSim(kQuickPatch);
    const std::pair<const char*, size_t> cases[] = {
        {"JIS.BIN", 100},        {"jis.bin.bak", 100},
        {"index4.kzip.gz", 100}, {"index4.ckfm", 100},  // a packed file
        {"kx10x20.bin", 65537},                         // one byte over its 64 KiB flash area
    };
    for (const auto& [name, size] : cases) {
        fs::create_directories(Path(std::string("c_") + name));
        const std::string file = Path(std::string("c_") + name + "/" + name);
        WriteBytes(file, Pattern(size, 1));
        const CliRun run = Cli({"write-course", file});
        EXPECT_EQ(run.status, 1) << name;
        const std::string expected = size > 100 ? "flash area" : "accepted names";
        EXPECT_NE(run.err.find(expected), std::string::npos) << name << ": " << run.err;
        if (size == 100) {
            EXPECT_NE(run.err.find("index4.kzip"), std::string::npos) << run.err;
        }
    }
    StopSim();
    EXPECT_TRUE(Journal().empty()) << "not a frame was sent, not even a version request";
}

TEST_F(WriteJobs, RefusedFrameStopsTheRun) {
    // Frames 1 and 2 are the version queries; the third data frame is refused.
    WriteBytes(Path("jis.bin"), Pattern(5 * 2048, 9));
    StartSim(With(kQuickPatch, {"--nak-frame", "5"}));
    const CliRun run = Cli({"write-course", Path("jis.bin")});
    StopSim();
    ExpectError(run, "Error: Error!");
    EXPECT_EQ(Programs().size(), 3u);
    const auto stored = DumpRegion(0xC0080000);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 2u * 2048);
}

TEST_F(WriteJobs, CorruptKzipEndsWithAnErrorAfterTheGoodPart) {
    const Bytes data = Pattern(300000, 11);
    WriteBytes(Path("index4.raw"), data);
    ASSERT_EQ(Shell("gzip -n -c " + Quote(Path("index4.raw")) + " > " + Quote(Path("index4.kzip"))),
              0);
    Bytes gz = ReadBytes(Path("index4.kzip"));
    gz.resize(gz.size() / 2);  // cut in the middle of the deflate data
    WriteBytes(Path("index4.kzip"), gz);
    StartSim(kQuickPatch);
    const CliRun run = Cli({"write-course", Path("index4.kzip")});
    StopSim();
    ExpectError(run, "Error: Error!");
}

// --- Firmware ---------------------------------------------------------------------------------

class Firmware : public WriteJobs {
protected:
    // Runs write-firmware on an image against a boot-loader navigator; returns the run.
    CliRun Write(const Bytes& image, std::vector<std::string> simArgs = {}) {
        const std::string file = Packed("fw.ckfm", image);
        simArgs.insert(simArgs.begin(), {"--mode", "boot"});
        StartSim(simArgs);
        CliRun run = Cli({"write-firmware", file});
        StopSim();
        return run;
    }

    // Frame 0 opens without data, 1 .. P-1 carry their blocks, P carries block 0.
    void ExpectFrameOrder(const Bytes& image) {
        const size_t blocks = (image.size() + 1023) / 1024;
        const auto frames = Programs();
        ASSERT_EQ(frames.size(), blocks + 1);
        EXPECT_EQ(frames[0].address, 0x90000000u);
        EXPECT_EQ(frames[0].index, 0);
        EXPECT_TRUE(frames[0].data.empty());
        auto padded = [&](size_t k) {
            Bytes b(image.begin() + 1024 * k,
                    image.begin() + std::min(image.size(), 1024 * (k + 1)));
            if (b.size() % 2) b.push_back(0);
            return b;
        };
        for (size_t i = 1; i < blocks; ++i) {
            EXPECT_EQ(frames[i].address, 0x90000000u + 1024 * i);
            EXPECT_EQ(frames[i].index, i);
            EXPECT_EQ(frames[i].data, padded(i)) << i;
        }
        EXPECT_EQ(frames[blocks].address, 0x90000000u);
        EXPECT_EQ(frames[blocks].index, blocks);
        EXPECT_EQ(frames[blocks].data, padded(0));
        const auto stored = DumpRegion(0x90000000);
        ASSERT_TRUE(stored);
        ASSERT_GE(stored->size(), image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.end(), stored->begin()));
    }
};

TEST_F(Firmware, ImageShorterThanABlockIsOneOpeningAndOneClosingFrame) {
    const Bytes image = Pattern(1000, 21);
    ExpectDone(Write(image));
    ExpectFrameOrder(image);
}

TEST_F(Firmware, WholeBlocksGetOneFrameEachPlusTheOpeningFrame) {
    const Bytes image = Pattern(1024 * 3, 22);
    ExpectDone(Write(image));
    ExpectFrameOrder(image);
}

TEST_F(Firmware, OneByteOverABlockIsPaddedInTheMiddleFrame) {
    const Bytes image = Pattern(1025, 23);
    ExpectDone(Write(image));
    ExpectFrameOrder(image);
    const auto frames = Programs();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].address, 0x90000400u);
    EXPECT_EQ(frames[1].data, (Bytes{image[1024], 0x00}));
}

TEST_F(Firmware, WrongMagicEndsSilentlyWithoutFrames) {
    Bytes file = ReadBytes(Packed("fw.ckfm", Pattern(2000, 1)));
    file[0] = 0x0B;
    WriteBytes(Path("bad.ckfm"), file);
    StartSim({"--mode", "boot"});
    const CliRun run = Cli({"write-firmware", Path("bad.ckfm")});
    StopSim();
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty()) << run.out;
    // No message box; the command line says why nothing happened.
    EXPECT_NE(run.err.find("not a packed file"), std::string::npos) << run.err;
    EXPECT_TRUE(Programs().empty());
}

TEST_F(Firmware, AlteredImageIsAnIncorrectChecksumAndNothingIsSent) {
    const std::string file =
        Packed("fw.ckfm", Pattern(3000, 2), {2, 0, 0, 0, 0, 0, 0, 0}, Pattern(16, 99));
    StartSim({"--mode", "boot"});
    const CliRun run = Cli({"write-firmware", file});
    StopSim();
    ExpectError(run, "Incorrect checksum");
    EXPECT_TRUE(Programs().empty());
}

TEST_F(Firmware, DigestWithoutImageIsAnIncorrectChecksum) {
    const std::string file = Packed("empty.ckfm", {});
    StartSim({"--mode", "boot"});
    const CliRun run = Cli({"write-firmware", file});
    StopSim();
    ExpectError(run, "Incorrect checksum");
    EXPECT_TRUE(Programs().empty());
}

TEST_F(Firmware, TooLargeFilesAndContentAreRefused) {
    Bytes big = ReadBytes(Packed("fw.ckfm", Pattern(100, 3)));
    big.resize(10485761, 0);
    WriteBytes(Path("big.ckfm"), big);
    // 4 MiB of zeros packs to a few KiB: more content than 100 times the file holds.
    const std::string bomb = Packed("bomb.ckfm", Bytes(4 << 20, 0));
    StartSim({"--mode", "boot"});
    const CliRun tooLong = Cli({"write-firmware", Path("big.ckfm")});
    const CliRun tooMuch = Cli({"write-firmware", bomb});
    StopSim();
    for (const CliRun& run : {tooLong, tooMuch}) {
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find("Input file is too large"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(Programs().empty());
}

TEST_F(Firmware, NormalFirmwareOpensNoDialog) {
    const std::string file = Packed("fw.ckfm", Pattern(1000, 4));
    StartSim({"--mode", "normal"});
    const CliRun run = Cli({"write-firmware", file});
    StopSim();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("boot-loader mode"), std::string::npos) << run.err;
    EXPECT_TRUE(Programs().empty());
}

TEST_F(Firmware, SilenceAfterTenFramesIsAnError_Slow) {
    // Frames 1 and 2 are the version queries; ten firmware frames are answered.
    const CliRun run = Write(Pattern(20 * 1024, 5), {"--silent-after", "12"});
    ExpectError(run, "Error: Error!");
    EXPECT_GE(run.ms, 9500);
    EXPECT_EQ(Programs().size(), 11u);
}

}  // namespace
}  // namespace e2e
