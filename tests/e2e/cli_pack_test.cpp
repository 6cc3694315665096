// caddora-cli pack, pack-firmware, unpack and info as a user runs them, checked against the
// gzip and openssl commands.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/child_run.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using CliRun = testsupport::ChildRun;
using testsupport::Slurp;

Bytes ReadBytes(const std::string& path) {
    std::string s = Slurp(path);
    return Bytes(s.begin(), s.end());
}

void WriteBytes(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

Bytes Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

uint32_t Le32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

int Shell(const std::string& command) {
    int status = std::system(command.c_str());
    return (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
}

class CliPack : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("CADDORA_BIN_DIR");
        cli_ = std::string(bin ? bin : CADDORA_TEST_BIN_DIR) + "/caddora-cli";
        ASSERT_TRUE(fs::exists(cli_)) << cli_ << " not built";
        ::setenv("CADDORA_ALLOW_STAND_IN", "1", 1);  // pack-firmware's boot program
        std::string pattern = (fs::temp_directory_path() / "caddora-cli-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // Runs caddora-cli with the arguments; a run over 60 s is killed and fails the test.
    CliRun Cli(const std::vector<std::string>& args) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = testsupport::SpawnToFiles(cli_, args, Path(".stdout"), Path(".stderr"));
        return testsupport::WaitChild(pid, cli_, start, std::chrono::seconds(60), Path(".stdout"),
                                      Path(".stderr"));
    }

    // A failure: status 1, exactly one line on stderr.
    void ExpectFailure(const CliRun& run, const std::string& mention) {
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(mention), std::string::npos) << run.err;
    }

    Bytes OpensslMd5(const std::string& path) {
        const std::string digest = Path(".digest");
        EXPECT_EQ(Shell("openssl md5 -binary < " + Quote(path) + " > " + Quote(digest)), 0);
        return ReadBytes(digest);
    }

    // A packed file whose gzip content the gzip command made from `content`.
    std::string PackWithGzip(const Bytes& content, const std::string& gzipOptions,
                             const Bytes& sub) {
        const std::string c = Path("content.bin");
        WriteBytes(c, content);
        const std::string gz = Path("content.gz");
        EXPECT_EQ(Shell("gzip -c " + gzipOptions + " " + Quote(c) + " > " + Quote(gz)), 0);
        Bytes file = {0x0A, 0x11, static_cast<uint8_t>(sub.size() >> 8),
                      static_cast<uint8_t>(sub.size() & 0xFF)};
        file.insert(file.end(), sub.begin(), sub.end());
        Bytes g = ReadBytes(gz);
        file.insert(file.end(), g.begin(), g.end());
        const std::string packed = Path("tool.ckfm");
        WriteBytes(packed, file);
        return packed;
    }

    std::string cli_;
    fs::path dir_;
};

const Bytes kSub = {2, 0, 0, 0, 0, 0, 0, 0};

}  // namespace

TEST_F(CliPack, HelpNamesTheCommandsAndShowsExamples) {
    CliRun top = Cli({"--help"});
    EXPECT_EQ(top.status, 0);
    for (const char* cmd : {"pack", "pack-firmware", "unpack", "info"}) {
        EXPECT_NE(top.out.find(cmd), std::string::npos) << cmd;
        CliRun sub = Cli({cmd, "--help"});
        EXPECT_EQ(sub.status, 0) << cmd;
        EXPECT_NE(sub.out.find("Example"), std::string::npos) << cmd;
    }
}

TEST_F(CliPack, UsageErrorsExitWithTwo) {
    WriteBytes(Path("fw.bin"), Random(100, 1));
    const std::string fw = Path("fw.bin");
    const std::string out = Path("o.ckfm");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"no-such-command"},
        {"pack", fw},
        {"pack", fw, out},  // --sub-header missing
        {"pack", fw, out, "--sub-header", "0g"},
        {"pack", fw, out, "--sub-header", "123"},
        {"pack", fw, out, "--sub-header", "020000000000000000", "--version-text", "x"},
        {"pack-firmware", fw, out, "--sub-header", "02", "--boot-code-offset", "63",
         "--reference-clock", "26000000"},
        {"pack-firmware", fw, out, "--sub-header", "02", "--boot-code-offset", "62741",
         "--reference-clock", "26000000"},
        {"pack-firmware", fw, out, "--sub-header", "02", "--boot-code-offset", "0x40x",
         "--reference-clock", "26000000"},
        {"pack-firmware", fw, out, "--sub-header", "02", "--boot-code-offset", "64",
         "--reference-clock", "4294967296"},
        {"pack-firmware", fw, out, "--sub-header", "02", "--boot-code-offset", "64",
         "--reference-clock", "1", "--header-tail", "00112233"},
        {"info"},
    };
    for (const auto& args : cases) {
        CliRun run = Cli(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(run.status, 2) << joined << "\n" << run.err;
        EXPECT_FALSE(run.err.empty()) << joined;
    }
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(CliPack, PackedFileUnpacksWithGzipAndOpensslAgrees) {
    const Bytes payload = Random(200'000, 2);
    WriteBytes(Path("in.bin"), payload);
    CliRun run = Cli({"pack", Path("in.bin"), Path("p.ckfm"), "--sub-header",
                      "02 00 00 00 00 00 00 00", "--version-text", "Ver 1.02"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty());
    const Bytes file = ReadBytes(Path("p.ckfm"));
    ASSERT_GT(file.size(), 20u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 4), (Bytes{0x0A, 0x11, 0x00, 0x10}));
    EXPECT_EQ(std::string(file.begin() + 12, file.begin() + 20), "Ver 1.02");
    ASSERT_EQ(
        Shell("tail -c +21 " + Quote(Path("p.ckfm")) + " | gzip -dc > " + Quote(Path("c.bin"))), 0);
    const Bytes content = ReadBytes(Path("c.bin"));
    ASSERT_EQ(content.size(), payload.size() + 16);
    EXPECT_EQ(Bytes(content.begin(), content.begin() + 16), OpensslMd5(Path("in.bin")));
    EXPECT_EQ(Bytes(content.begin() + 16, content.end()), payload);

    CliRun back = Cli({"unpack", Path("p.ckfm"), Path("back.bin")});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(ReadBytes(Path("back.bin")), payload);
}

TEST_F(CliPack, EmptyAndLongSubHeadersAndEmptyPayload) {
    WriteBytes(Path("empty.bin"), {});
    ASSERT_EQ(Cli({"pack", Path("empty.bin"), Path("e.ckfm"), "--sub-header", ""}).status, 0);
    Bytes file = ReadBytes(Path("e.ckfm"));
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 6), (Bytes{0x0A, 0x11, 0x00, 0x00, 0x1F, 0x8B}));
    ASSERT_EQ(Cli({"unpack", Path("e.ckfm"), Path("e.out")}).status, 0);
    EXPECT_TRUE(fs::exists(Path("e.out")));
    EXPECT_EQ(fs::file_size(Path("e.out")), 0u);

    std::string longSub = "03";
    for (int i = 1; i < 300; ++i) longSub += "a5";
    ASSERT_EQ(Cli({"pack", Path("empty.bin"), Path("l.ckfm"), "--sub-header", longSub}).status, 0);
    file = ReadBytes(Path("l.ckfm"));
    EXPECT_EQ(file[2], 0x01);
    EXPECT_EQ(file[3], 0x2C);
    CliRun info = Cli({"info", Path("l.ckfm")});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("3 (YMODEM)"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("payload size:  0 bytes"), std::string::npos) << info.out;
}

TEST_F(CliPack, FirmwareImageLayoutIsHeaderBootProgramThenFirmware) {
    const char* env = std::getenv("CADDORA_SOURCE_DIR");
    const char* source = env ? env : CADDORA_TEST_SOURCE_DIR;
    const Bytes fw = Random(100, 3);
    WriteBytes(Path("fw.bin"), fw);
    std::string tail;
    for (int i = 0; i < 32; ++i)
        tail += (i < 16 ? "0" : "1") + std::string(1, "0123456789abcdef"[i % 16]);
    for (const uint32_t clock : {26000000u, 26000001u, 16369000u}) {
        CliRun run = Cli({"pack-firmware", Path("fw.bin"), Path("fw.ckfm"), "--sub-header", "02",
                          "--boot-code-offset", "0x200", "--reference-clock", std::to_string(clock),
                          "--word-16", "0xCAFE0001", "--header-tail", tail});
        ASSERT_EQ(run.status, 0) << run.err;
        ASSERT_EQ(Cli({"unpack", Path("fw.ckfm"), Path("image.bin")}).status, 0);
        const Bytes image = ReadBytes(Path("image.bin"));
        ASSERT_EQ(image.size(), 65636u);
        EXPECT_EQ(Le32(image, 0), 0xBEEF5555u);
        EXPECT_EQ(Le32(image, 8), 2796u);
        EXPECT_EQ(Le32(image, 12), 0x200u);
        EXPECT_EQ(Le32(image, 16), 0xCAFE0001u);
        EXPECT_EQ(Le32(image, 20), 0x00024125u);
        EXPECT_EQ(Bytes(image.begin() + 24, image.begin() + 28),
                  Bytes(fw.begin() + 4, fw.begin() + 8));
        EXPECT_EQ(Le32(image, 28), clock);
        for (int i = 0; i < 32; ++i) EXPECT_EQ(image[32 + i], (i < 16 ? 0x00 : 0x10) + i % 16);
        const Bytes program =
            ReadBytes(std::string(source) + "/transfer/data/" +
                      (clock == 26000000u ? "boot_26mhz.bin" : "boot_16369khz.bin"));
        ASSERT_EQ(program.size(), 2796u);
        for (size_t i = 64; i < 65536; ++i) {
            const bool inProgram = i >= 0x200 && i < 0x200 + program.size();
            ASSERT_EQ(image[i], inProgram ? program[i - 0x200] : 0xFF) << "byte " << i;
        }
        EXPECT_EQ(Bytes(image.begin() + 65536, image.end()), fw);
        CliRun info = Cli({"info", Path("fw.ckfm")});
        EXPECT_NE(info.out.find("header checksum valid"), std::string::npos) << info.out;
    }
}

TEST_F(CliPack, InfoReportsFieldsAsTextAndJson) {
    WriteBytes(Path("in.bin"), Random(1234, 4));
    ASSERT_EQ(Cli({"pack", Path("in.bin"), Path("p.ckfm"), "--sub-header", "0201", "--version-text",
                   "Ver 3.00 \xE6\x97\xA5"})
                  .status,
              0);
    CliRun text = Cli({"info", Path("p.ckfm")});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("package type:  2 (frames)"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("sub-header:    02 01 00 00 00 00 00 00 56"), std::string::npos);
    EXPECT_NE(text.out.find("version text:  Ver 3.00 \xE6\x97\xA5"), std::string::npos);
    EXPECT_NE(text.out.find("payload size:  1234 bytes"), std::string::npos);
    EXPECT_NE(text.out.find("matches"), std::string::npos);
    const std::string size = std::to_string(fs::file_size(Path("p.ckfm")));
    EXPECT_NE(text.out.find("packed size:   " + size + " bytes"), std::string::npos);

    CliRun json = Cli({"info", Path("p.ckfm"), "--json"});
    ASSERT_EQ(json.status, 0);
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 1);
    EXPECT_NE(json.out.find("\"packageType\":2"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"payloadSize\":1234"), std::string::npos);
    EXPECT_NE(json.out.find("\"digestMatches\":true"), std::string::npos);
    EXPECT_NE(json.out.find("\"packedSize\":" + size), std::string::npos);
}

TEST_F(CliPack, GzipToolOutputIsUnpackedAtAnyLevel) {
    const Bytes payload = Random(50'000, 5);
    WriteBytes(Path("payload.bin"), payload);
    Bytes content = OpensslMd5(Path("payload.bin"));
    content.insert(content.end(), payload.begin(), payload.end());
    for (const std::string options : {"-1", "-9", "-1 -n", "-9 -n"}) {
        const std::string packed = PackWithGzip(content, options, kSub);
        CliRun run = Cli({"unpack", packed, Path("out.bin")});
        ASSERT_EQ(run.status, 0) << options << ": " << run.err;
        EXPECT_EQ(ReadBytes(Path("out.bin")), payload) << options;
    }
}

TEST_F(CliPack, BrokenPackedFilesFailWithOneLineAndNoOutput) {
    const Bytes payload = Random(20'000, 6);
    WriteBytes(Path("payload.bin"), payload);
    Bytes goodContent = OpensslMd5(Path("payload.bin"));
    goodContent.insert(goodContent.end(), payload.begin(), payload.end());

    Bytes badDigest = goodContent;
    badDigest[0] ^= 1;
    std::string packed = PackWithGzip(badDigest, "-6", kSub);
    CliRun mismatch = Cli({"unpack", packed, Path("o1")});
    ExpectFailure(mismatch, "digest");
    EXPECT_FALSE(fs::exists(Path("o1")));
    CliRun info = Cli({"info", packed});
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.out.find("FAILED"), std::string::npos);
    // A pipe or the standard output gets nothing before the whole digest was checked.
    mismatch = Cli({"unpack", packed, "-"});
    ExpectFailure(mismatch, "digest");
    EXPECT_EQ(mismatch.out.size(), 0u);
    EXPECT_EQ(Shell(Quote(cli_) + " unpack " + Quote(packed) + " - 2>/dev/null | wc -c > " +
                    Quote(Path("count"))),
              0);
    EXPECT_EQ(std::stoi(Slurp(Path("count"))), 0);
    const CliRun whole = Cli({"unpack", PackWithGzip(goodContent, "-6", kSub), "-"});
    EXPECT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(whole.out, std::string(payload.begin(), payload.end()));
    EXPECT_NE(whole.err.find("unpacked 20000 bytes of payload into -"), std::string::npos);

    packed = PackWithGzip(Bytes(15, 7), "-6", kSub);
    ExpectFailure(Cli({"unpack", packed, Path("o2")}), "shorter than its 16-byte digest");

    // Zeros far beyond 100 times the packed size.
    const std::string zeros = Path("zeros.bin");
    ASSERT_EQ(Shell("head -c 30000000 /dev/zero > " + Quote(zeros)), 0);
    const std::string bomb = Path("bomb.ckfm");
    ASSERT_EQ(Shell("printf '\\012\\021\\000\\001\\002' > " + Quote(bomb) + " && gzip -9 -c " +
                    Quote(zeros) + " >> " + Quote(bomb)),
              0);
    ASSERT_LT(fs::file_size(bomb) * 100, 30'000'000u);
    ExpectFailure(Cli({"unpack", bomb, Path("o3")}), "100 times");
    EXPECT_FALSE(fs::exists(Path("o3")));

    Bytes good = ReadBytes(PackWithGzip(goodContent, "-6", kSub));
    WriteBytes(Path("trunc.ckfm"), Bytes(good.begin(), good.end() - 10));
    ExpectFailure(Cli({"unpack", Path("trunc.ckfm"), Path("o4")}), "corrupt");
    Bytes flipped = good;
    flipped[good.size() / 2] ^= 0xFF;
    WriteBytes(Path("flip.ckfm"), flipped);
    ExpectFailure(Cli({"unpack", Path("flip.ckfm"), Path("o5")}), "corrupt");

    WriteBytes(Path("plain.gz"), Bytes(good.begin() + 12, good.end()));
    ExpectFailure(Cli({"unpack", Path("plain.gz"), Path("o6")}), "0A 11");
    ExpectFailure(Cli({"info", Path("plain.gz")}), "0A 11");
    WriteBytes(Path("short.ckfm"), {0x0A, 0x11, 0x00, 0x08, 0x02});
    ExpectFailure(Cli({"unpack", Path("short.ckfm"), Path("o7")}), "header");
    for (const char* o : {"o2", "o4", "o5", "o6", "o7"}) EXPECT_FALSE(fs::exists(Path(o))) << o;
}

TEST_F(CliPack, FileSystemProblemsFailWithOneLine) {
    WriteBytes(Path("in.bin"), Random(100, 7));
    WriteBytes(Path("keep.ckfm"), {1, 2, 3});
    ExpectFailure(Cli({"pack", Path("missing.bin"), Path("keep.ckfm"), "--sub-header", "02"}),
                  "missing.bin");
    EXPECT_EQ(ReadBytes(Path("keep.ckfm")), (Bytes{1, 2, 3}));
    ExpectFailure(Cli({"pack", Path("in.bin"), Path("no/dir/x.ckfm"), "--sub-header", "02"}),
                  "no/dir");
    ExpectFailure(Cli({"pack", dir_.string(), Path("x.ckfm"), "--sub-header", "02"}), "directory");
    ExpectFailure(Cli({"unpack", Path("missing.ckfm"), Path("x")}), "missing.ckfm");
    ExpectFailure(Cli({"info", Path("missing.ckfm")}), "missing.ckfm");
    ASSERT_EQ(Cli({"pack", Path("in.bin"), Path("ok.ckfm"), "--sub-header", "02"}).status, 0);
    ExpectFailure(Cli({"unpack", Path("ok.ckfm"), Path("no/dir/out.bin")}), "no/dir");

    WriteBytes(Path("tiny.bin"), Random(7, 8));
    ExpectFailure(Cli({"pack-firmware", Path("tiny.bin"), Path("t.ckfm"), "--sub-header", "02",
                       "--boot-code-offset", "64", "--reference-clock", "26000000"}),
                  "8 bytes");
    EXPECT_FALSE(fs::exists(Path("t.ckfm")));

    if (geteuid() != 0) {
        WriteBytes(Path("locked.bin"), {1});
        fs::permissions(Path("locked.bin"), fs::perms::none);
        ExpectFailure(Cli({"pack", Path("locked.bin"), Path("l.ckfm"), "--sub-header", "02"}),
                      "locked.bin");
    }
}
