// Fault suite: each job and the YMODEM transfer against a virtual navigator that vanishes, refuses
// a frame, adds noise, splits its replies into single bytes or answers late. Every run must end
// within its bound with "Error!" or the completion text, leave no caddora-cli behind, and keep
// what the device took (or, for the point import, the rows read before the fault).
//
// The frame number K of a fault comes from a seed: CADDORA_FAULT_SEED="7" or "7,8,9" (default
// three fixed seeds). The seeds of one test run side by side, each with its own simulator, so
// the waits for the time-outs overlap; a failure names its seed.
#include <dirent.h>

#include <algorithm>
#include <functional>
#include <random>
#include <span>

#include "app/point_record.h"
#include "e2e/job_run_support.h"
#include "sim/point_records.h"

namespace e2e {
namespace {

const std::string kDone = "データの書込みが完了しました。";

std::vector<uint32_t> Seeds() {
    const char* env = std::getenv("CADDORA_FAULT_SEED");
    if (env == nullptr || *env == '\0') return {11, 22, 33};
    std::vector<uint32_t> seeds;
    std::stringstream in(env);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (!item.empty()) seeds.push_back(static_cast<uint32_t>(std::stoul(item)));
    }
    return seeds;
}

// A number in [low, high] drawn from the seed; `salt` keeps the faults of one seed apart.
uint32_t Pick(uint32_t seed, uint32_t salt, uint32_t low, uint32_t high) {
    std::mt19937 rng(seed * 7919u + salt);
    return std::uniform_int_distribution<uint32_t>(low, high)(rng);
}

// A process's arguments, NUL-separated; empty once it has gone (a read then fails with ESRCH,
// which a file stream would raise as an exception).
std::string CmdLine(const std::string& path) {
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    close(fd);
    return text;
}

// PIDs of caddora-cli processes whose arguments name `deviceDir`.
std::vector<int> CliProcessesOn(const std::string& deviceDir) {
    std::vector<int> found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return found;
    while (const dirent* e = readdir(proc)) {
        const std::string name = e->d_name;
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
        std::string cmd = CmdLine("/proc/" + name + "/cmdline");
        std::replace(cmd.begin(), cmd.end(), '\0', ' ');
        if (cmd.find("caddora-cli") != std::string::npos &&
            cmd.find(deviceDir) != std::string::npos) {
            found.push_back(std::stoi(name));
        }
    }
    closedir(proc);
    return found;
}

// One simulator and one caddora-cli in a folder of their own, so several seeds run at once.
class Rig : public JobRun {
public:
    Rig() { SetUp(); }
    ~Rig() override { TearDown(); }
    void TestBody() override {}

    using JobRun::Cli;
    using JobRun::DumpDir;
    using JobRun::DumpRegion;
    using JobRun::Journal;
    using JobRun::Packed;
    using JobRun::Path;
    using JobRun::Pattern;
    using JobRun::StartSim;
    using JobRun::StopSim;

    // Runs the command, then checks what every fault case requires: a bounded run and no
    // caddora-cli left on this device directory.
    CliRun Run(const std::vector<std::string>& args, int64_t boundMs) {
        const CliRun run = Cli(args);
        EXPECT_LE(run.ms, boundMs) << "the run took too long";
        EXPECT_TRUE(CliProcessesOn(DeviceDir()).empty()) << "caddora-cli still running";
        return run;
    }

    size_t ProgramFrames() const { return FramesOf(Journal(), kFwpg[0], kFwpg[1]).size(); }
};

void ExpectDone(const CliRun& run) {
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find(kDone), std::string::npos) << run.out << run.err;
}

// `says`: what the summary line must tell about the fault, when given.
void ExpectError(const CliRun& run, const std::string& says = {}) {
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find("Error!"), std::string::npos) << run.out << run.err;
    EXPECT_EQ(run.out.find(kDone), std::string::npos) << "success claimed after a failure";
    if (!says.empty()) {
        EXPECT_NE(run.err.find(": " + says), std::string::npos) << run.err;
    }
}

std::string Nth(uint32_t n, const char* unit) {
    return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
}

class FaultSuite : public JobRun {
protected:
    // Runs `body(seed)` for every seed, side by side, each thread tracing its seed.
    static void ForEachSeed(const std::function<void(uint32_t)>& body) {
        std::vector<std::thread> threads;
        for (const uint32_t seed : Seeds()) {
            threads.emplace_back([&body, seed] {
                SCOPED_TRACE("CADDORA_FAULT_SEED=" + std::to_string(seed));
                body(seed);
            });
        }
        for (auto& t : threads) t.join();
    }
};

// --- Course data: a raw "jis.bin" of 12 frames; frames 1 and 2 are the version queries ------

constexpr uint32_t kCourseFrames = 12;

struct CourseCase {
    Rig rig;
    Bytes data = Rig::Pattern(kCourseFrames * 2048 - 301, 5);

    CliRun Write(const std::vector<std::string>& simArgs, int64_t boundMs) {
        WriteBytes(rig.Path("jis.bin"), data);
        std::vector<std::string> args = {"--mode", "patch"};
        args.insert(args.end(), simArgs.begin(), simArgs.end());
        rig.StartSim(args);
        const CliRun run = rig.Run({"write-course", rig.Path("jis.bin")}, boundMs);
        rig.StopSim();
        return run;
    }

    // The device kept exactly the first `frames` frames of the file.
    void ExpectStoredFrames(size_t frames) const {
        const auto stored = rig.DumpRegion(0xC0080000);
        const size_t n = std::min(frames * 2048, data.size());
        if (n == 0) {
            EXPECT_FALSE(stored && !stored->empty());
            return;
        }
        ASSERT_TRUE(stored);
        ASSERT_GE(stored->size(), n);
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n),
                               stored->begin()));
        // Nothing beyond them (a short last frame is padded to even length).
        EXPECT_LE(stored->size(), frames * 2048);
    }
};

TEST_F(FaultSuite, CourseWriteDeviceVanishes) {
    ForEachSeed([](uint32_t seed) {
        const uint32_t k = Pick(seed, 1, 3, 2 + kCourseFrames);
        SCOPED_TRACE("vanish after frame " + std::to_string(k));
        CourseCase c;
        // The vanished link ends the run at once, not the frame's 10,000 ms time-out.
        const CliRun run = c.Write({"--vanish-after", std::to_string(k)}, 6000);
        if (k - 2 == kCourseFrames) {
            ExpectDone(run);
        } else {
            ExpectError(run, "the navigator vanished at frame " + std::to_string(k - 1) + " of " +
                                 std::to_string(kCourseFrames));
        }
        EXPECT_EQ(c.rig.ProgramFrames(), k - 2);
        c.ExpectStoredFrames(k - 2);
    });
}

TEST_F(FaultSuite, CourseWriteRefusedFrame) {
    ForEachSeed([](uint32_t seed) {
        const uint32_t k = Pick(seed, 2, 3, 2 + kCourseFrames);
        SCOPED_TRACE("NAK at frame " + std::to_string(k));
        CourseCase c;
        ExpectError(c.Write({"--nak-frame", std::to_string(k)}, 10000),
                    "the navigator refused frame " + std::to_string(k - 2) + " of " +
                        std::to_string(kCourseFrames) + " (NAK)");
        EXPECT_EQ(c.rig.ProgramFrames(), k - 2) << "nothing sent after the refusal";
        c.ExpectStoredFrames(k - 3);
    });
}

TEST_F(FaultSuite, CourseWriteThroughNoiseAndSingleBytes) {
    ForEachSeed([](uint32_t seed) {
        const uint32_t noise = Pick(seed, 3, 1, 200);
        SCOPED_TRACE("noise " + std::to_string(noise));
        CourseCase noisy;
        ExpectDone(
            noisy.Write({"--noise", std::to_string(noise), "--seed", std::to_string(seed)}, 15000));
        noisy.ExpectStoredFrames(kCourseFrames);
        CourseCase split;
        ExpectDone(split.Write({"--split", "1"}, 15000));
        split.ExpectStoredFrames(kCourseFrames);
    });
}

TEST_F(FaultSuite, CourseWriteAckJustInsideTheTimeout_Slow) {
    CourseCase c;
    c.data = Pattern(2048, 6);
    ExpectDone(c.Write({"--ack-delay-ms", "9500"}, 20000));
    c.ExpectStoredFrames(1);
}

// --- Firmware: 9 blocks, 10 frames; frames 1 and 2 are the version queries ------------------

constexpr uint32_t kFirmwareFrames = 10;

struct FirmwareCase {
    Rig rig;
    Bytes image = Rig::Pattern(8 * 1024 + 100, 7);

    CliRun Write(const std::vector<std::string>& simArgs, int64_t boundMs) {
        const std::string file = rig.Packed("fw.ckfm", image);
        std::vector<std::string> args = {"--mode", "boot"};
        args.insert(args.end(), simArgs.begin(), simArgs.end());
        rig.StartSim(args);
        const CliRun run = rig.Run({"write-firmware", file}, boundMs);
        rig.StopSim();
        return run;
    }

    void ExpectWholeImage() const {
        const auto stored = rig.DumpRegion(0x90000000);
        ASSERT_TRUE(stored);
        ASSERT_GE(stored->size(), image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.end(), stored->begin()));
    }

    // A failed run never sent block 0, which only the closing frame carries.
    void ExpectNoFirstBlock() const {
        const auto stored = rig.DumpRegion(0x90000000);
        EXPECT_FALSE(stored && !stored->empty()) << "block 0 written by a failed run";
    }
};

TEST_F(FaultSuite, FirmwareWriteDeviceVanishes) {
    ForEachSeed([](uint32_t seed) {
        const uint32_t k = Pick(seed, 4, 3, 1 + kFirmwareFrames);
        SCOPED_TRACE("vanish after frame " + std::to_string(k));
        FirmwareCase c;
        ExpectError(c.Write({"--vanish-after", std::to_string(k)}, 6000),
                    "the navigator vanished at frame " + std::to_string(k - 1) + " of " +
                        std::to_string(kFirmwareFrames));
        EXPECT_EQ(c.rig.ProgramFrames(), k - 2);
        c.ExpectNoFirstBlock();
    });
}

TEST_F(FaultSuite, FirmwareWriteRefusedFrame) {
    ForEachSeed([](uint32_t seed) {
        const uint32_t k = Pick(seed, 5, 3, 2 + kFirmwareFrames);
        SCOPED_TRACE("NAK at frame " + std::to_string(k));
        FirmwareCase c;
        ExpectError(c.Write({"--nak-frame", std::to_string(k)}, 10000),
                    "the navigator refused frame " + std::to_string(k - 2) + " of " +
                        std::to_string(kFirmwareFrames) + " (NAK)");
        EXPECT_EQ(c.rig.ProgramFrames(), k - 2) << "nothing sent after the refusal";
        // The refused closing frame is not carried out either.
        c.ExpectNoFirstBlock();
    });
}

TEST_F(FaultSuite, FirmwareWriteThroughNoiseAndSingleBytes) {
    ForEachSeed([](uint32_t seed) {
        const uint32_t noise = Pick(seed, 6, 1, 200);
        SCOPED_TRACE("noise " + std::to_string(noise));
        FirmwareCase noisy;
        ExpectDone(
            noisy.Write({"--noise", std::to_string(noise), "--seed", std::to_string(seed)}, 15000));
        noisy.ExpectWholeImage();
        FirmwareCase split;
        ExpectDone(split.Write({"--split", "1"}, 15000));
        split.ExpectWholeImage();
    });
}

TEST_F(FaultSuite, FirmwareWriteAckJustOutsideTheTimeout_Slow) {
    FirmwareCase c;
    const CliRun run = c.Write({"--ack-delay-ms", "10500"}, 20000);
    ExpectError(run);
    EXPECT_GE(run.ms, 9900) << "failed before the acknowledgement time-out";
    EXPECT_EQ(c.rig.ProgramFrames(), 1u);
    c.ExpectNoFirstBlock();
}

// --- Point import: frames 1 and 2 are the version queries, 3 the flash id, then one request
// per record ----------------------------------------------------------------------------------

// The CSV rows the points would give, from the simulator's own records.
std::vector<std::string> ExpectedRows(const std::vector<sim::SavedPoint>& points) {
    std::vector<std::string> rows;
    for (const auto& bytes : sim::EncodePointRecords(points)) {
        rows.push_back(FormatPointRowUtf8(
            ParsePointRecord(std::span<const uint8_t, kPointRecordLength>(bytes))));
    }
    return rows;
}

struct ImportCase {
    Rig rig;
    std::vector<std::string> reference = ExpectedRows(sim::SamplePoints());

    CliRun Import(const std::vector<std::string>& simArgs, int64_t boundMs) {
        std::vector<std::string> args = {"--mode", "patch"};
        args.insert(args.end(), simArgs.begin(), simArgs.end());
        rig.StartSim(args);
        const CliRun run = rig.Run({"import-points", "--out", rig.Path("points.csv")}, boundMs);
        rig.StopSim();
        return run;
    }

    // The file holds the header and exactly the first `rows` reference rows; a run that read
    // nothing leaves no file.
    void ExpectRows(size_t rows) const {
        if (rows == 0) {
            EXPECT_FALSE(fs::exists(rig.Path("points.csv")));
            return;
        }
        std::string expected(PointCsvHeader());
        for (size_t i = 0; i < rows; ++i) expected += reference.at(i);
        EXPECT_EQ(Slurp(rig.Path("points.csv")), expected);
    }
};

TEST_F(FaultSuite, PointImportDeviceVanishes) {
    ForEachSeed([](uint32_t seed) {
        ImportCase c;
        const auto records = static_cast<uint32_t>(c.reference.size());
        const uint32_t k = Pick(seed, 7, 4, 3 + records);
        SCOPED_TRACE("vanish after frame " + std::to_string(k));
        // The next request ends with the link, not after its 2,000 ms.
        ExpectError(c.Import({"--vanish-after", std::to_string(k)}, 6000),
                    "the navigator vanished after " + Nth(k - 3, "record"));
        c.ExpectRows(k - 3);
    });
}

TEST_F(FaultSuite, PointImportRefusedRequest) {
    ForEachSeed([](uint32_t seed) {
        ImportCase c;
        const auto records = static_cast<uint32_t>(c.reference.size());
        const uint32_t k = Pick(seed, 8, 4, 4 + records);
        SCOPED_TRACE("NAK at frame " + std::to_string(k));
        ExpectError(c.Import({"--nak-frame", std::to_string(k)}, 12000),
                    "the navigator stopped answering at record " + std::to_string(k - 3));
        c.ExpectRows(k - 4);
    });
}

TEST_F(FaultSuite, PointImportThroughNoiseAndSingleBytes) {
    ForEachSeed([](uint32_t seed) {
        const uint32_t noise = Pick(seed, 9, 1, 200);
        SCOPED_TRACE("noise " + std::to_string(noise));
        ImportCase noisy;
        ExpectDone(noisy.Import({"--noise", std::to_string(noise), "--seed", std::to_string(seed)},
                                15000));
        noisy.ExpectRows(noisy.reference.size());
        ImportCase split;
        ExpectDone(split.Import({"--split", "1", "--split-gap-ms", "1"}, 20000));
        split.ExpectRows(split.reference.size());
    });
}

TEST_F(FaultSuite, PointImportRepliesJustInsideAndOutsideTheTimeout_Slow) {
    // One point, so each late answer costs once per frame: 2 queries, the id, 2 requests.
    ForEachSeed([](uint32_t seed) {
        if (seed != Seeds().front()) return;  // the delays do not depend on the seed
        ImportCase inside;
        inside.reference = ExpectedRows(sim::SyntheticPoints(1));
        ExpectDone(inside.Import({"--synthetic-points", "1", "--delay-ms", "1800"}, 25000));
        inside.ExpectRows(1);
    });
    ImportCase outside;
    outside.reference = ExpectedRows(sim::SyntheticPoints(1));
    const CliRun run = outside.Import({"--synthetic-points", "1", "--delay-ms", "2300"}, 25000);
    // Every query misses its 2,000 ms: the flash never identifies itself, so no row is read;
    // the run ends with either the completion message or "Error!".
    EXPECT_TRUE(run.status == 0 || run.status == 1) << run.out << run.err;
    EXPECT_TRUE(run.out.find(kDone) != std::string::npos ||
                (run.out + run.err).find("Error!") != std::string::npos)
        << run.out << run.err;
    const std::string csv = Slurp(outside.rig.Path("points.csv"));
    EXPECT_TRUE(csv.empty() || csv == PointCsvHeader()) << "a late reply taken for a record";
}

// --- YMODEM: frame 1 is the device check's version query, 2 CFG_CFG, 3 CFG_FWUP -------------

struct YmodemCase {
    Rig rig;
    Bytes payload = Rig::Pattern(20 * 1024 + 77, 9);

    CliRun Send(const std::vector<std::string>& simArgs, int64_t boundMs) {
        const std::string file = rig.Packed("fw.ckfm", payload, {3, 0, 0, 0, 0, 0, 0, 0});
        rig.StartSim(simArgs);
        const CliRun run = rig.Run({"ymodem", file}, boundMs);
        rig.StopSim();
        return run;
    }

    std::optional<Bytes> Received() const {
        if (Slurp(rig.DumpDir() + "/ymodem.txt").find("\t1\t") == std::string::npos) {
            return std::nullopt;
        }
        return ReadBytes(rig.DumpDir() + "/ymodem_0.bin");
    }

    // Success only with the whole payload on the device.
    void ExpectOutcomeMatchesDevice(const CliRun& run) const {
        if (run.status == 0) {
            ASSERT_TRUE(Received()) << "success reported without a complete file";
            EXPECT_EQ(*Received(), payload);
        } else {
            ExpectError(run);
        }
    }
};

TEST_F(FaultSuite, YmodemDeviceVanishesOrRefuses) {
    ForEachSeed([](uint32_t seed) {
        const uint32_t vanish = Pick(seed, 10, 2, 3);
        const uint32_t nak = Pick(seed, 11, 2, 3);
        SCOPED_TRACE("vanish after " + std::to_string(vanish) + ", NAK at " + std::to_string(nak));
        YmodemCase gone;
        const CliRun vanished = gone.Send({"--vanish-after", std::to_string(vanish)}, 20000);
        ExpectError(vanished);
        // Before the first block the link may not have noticed the loss yet: either is true.
        EXPECT_TRUE(vanished.err.find(": the navigator vanished") != std::string::npos ||
                    vanished.err.find(": the navigator stopped answering before the transfer") !=
                        std::string::npos)
            << vanished.err;
        EXPECT_FALSE(gone.Received());
        YmodemCase refused;
        // The acknowledgement wait takes only a refused program frame for a refusal; a refused
        // mode switch is an acknowledgement that never came.
        ExpectError(refused.Send({"--nak-frame", std::to_string(nak)}, 20000),
                    "the navigator stopped answering before the transfer began");
        EXPECT_FALSE(refused.Received());
    });
}

TEST_F(FaultSuite, YmodemThroughNoiseAndSingleBytes) {
    ForEachSeed([](uint32_t seed) {
        const uint32_t noise = Pick(seed, 12, 1, 200);
        SCOPED_TRACE("noise " + std::to_string(noise));
        YmodemCase noisy;
        // Noise before the receiver's control bytes may well break the transfer; it must
        // then say so.
        noisy.ExpectOutcomeMatchesDevice(
            noisy.Send({"--noise", std::to_string(noise), "--seed", std::to_string(seed)}, 60000));
        YmodemCase split;
        const CliRun run = split.Send({"--split", "1"}, 20000);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        split.ExpectOutcomeMatchesDevice(run);
    });
}

// --- The navigator's process dies mid-job: its end of the pty hangs up ----------------------

TEST_F(FaultSuite, KilledNavigatorEndsTheJobAtOnceWhateverItWaitsFor) {
    WriteBytes(Path("jis.bin"), Pattern(200 * 2048, 3));
    const std::string packed = Packed("fw.ckfm", Pattern(16 << 20, 4), {3, 0, 0, 0, 0, 0, 0, 0});
    const struct {
        const char* name;
        std::vector<std::string> sim;
        std::vector<std::string> cli;
        std::function<bool()> ready;
    } cases[] = {
        // Mostly inside a 10,000 ms acknowledgement wait.
        {"write-course",
         {"--mode", "patch", "--ack-delay-ms", "50"},
         {"write-course", Path("jis.bin")},
         [&] { return FramesOf(Journal(), kFwpg[0], kFwpg[1]).size() >= 5; }},
        // Frozen inside the transfer, whose reads wait up to 25,000 ms, then killed.
        {"ymodem",
         {},
         {"ymodem", packed},
         [&] {
             if (FramesOf(Journal(), 0x06, 0x50).empty()) return false;
             std::this_thread::sleep_for(std::chrono::milliseconds(200));
             PauseSim();
             std::this_thread::sleep_for(std::chrono::milliseconds(300));
             return true;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StartSim(c.sim);
        const CliRun run = CliActing(c.cli, c.ready, [&] { KillSim(); });
        ExpectError(run, "the navigator vanished");
        EXPECT_LT(run.ms, 3000) << "the job waited out a time-out after the device had gone";
    }
}

}  // namespace
}  // namespace e2e
