// --help and --version of the three programs, as help2man runs them: no display, no device, and
// for the window also while another copy holds the single-instance lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include "caddora_version.h"
#include "e2e/job_run_support.h"

namespace e2e {
namespace {

struct InfoRun {
    int status = -1;
    std::string out;
};

class ProgramInfo : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        const char* bin = std::getenv("CADDORA_BIN_DIR");
        program_ = std::string(bin ? bin : CADDORA_TEST_BIN_DIR) + "/" + GetParam();
        // Only the window is optional (builds without Qt).
        if (!fs::exists(program_) && program_.ends_with("/caddora"))
            GTEST_SKIP() << "caddora is not built";
        ASSERT_TRUE(fs::exists(program_)) << program_ << " is not built";
        std::string pattern = (fs::temp_directory_path() / "caddora-info-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        if (!root_.empty()) fs::remove_all(root_, ec);
    }

    // Without any display: a window program that started its toolkit first would fail here.
    InfoRun Run(const std::string& option) const {
        const std::string out = (root_ / "out.txt").string();
        InfoRun run;
        run.status = Shell(
            "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR=" +
            Quote(root_.string()) + " CADDORA_DEVICE_DIR=" + Quote((root_ / "none").string()) +
            " " + Quote(program_) + " " + option + " >" + Quote(out) + " 2>/dev/null </dev/null");
        run.out = Slurp(out);
        return run;
    }

    std::string program_;
    fs::path root_;
};

TEST_P(ProgramInfo, VersionIsTheProjectVersionOnOneLine) {
    const InfoRun run = Run("--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string(GetParam()) + " " + kCaddoraVersion + "\n");
}

TEST_P(ProgramInfo, HelpShowsTheUsageAndBothOptions) {
    const InfoRun run = Run("--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Usage: " + std::string(GetParam())), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("--version"), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramInfo,
                         ::testing::Values("caddora", "caddora-cli", "caddora-sim"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::erase(name, '-');
                             return name;
                         });

// A running window holds the lock; a second copy asked for its version still answers.
TEST(ProgramInfoWindow, VersionIsAnsweredWhileAnotherCopyRuns) {
    const char* bin = std::getenv("CADDORA_BIN_DIR");
    const std::string program = std::string(bin ? bin : CADDORA_TEST_BIN_DIR) + "/caddora";
    if (!fs::exists(program)) GTEST_SKIP() << "caddora is not built";
    std::string pattern = (fs::temp_directory_path() / "caddora-info-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path root = pattern;
    const int lock = open((root / "caddora.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    const std::string out = (root / "out.txt").string();
    const int status = Shell("XDG_RUNTIME_DIR=" + Quote(root.string()) + " " + Quote(program) +
                             " --version >" + Quote(out) + " 2>/dev/null");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Slurp(out), std::string("caddora ") + kCaddoraVersion + "\n");
    close(lock);
    std::error_code ec;
    fs::remove_all(root, ec);
}

}  // namespace
}  // namespace e2e
