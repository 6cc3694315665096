// What caddora-cli says when a navigator cannot be used: true causes, names shown safely.
#include <sys/file.h>
#include <sys/stat.h>

#include "e2e/job_run_support.h"

namespace e2e {
namespace {

class DeviceMessages : public JobRun {
protected:
    // The simulator's own entry in the device directory.
    fs::path SimEntry() const { return fs::directory_iterator(DeviceDir())->path(); }
};

TEST_F(DeviceMessages, ControlCharactersInDeviceNamesAreShownEscaped) {
    StartSim(kQuickPatch);
    const fs::path target = fs::read_symlink(SimEntry());
    fs::remove(SimEntry());
    fs::create_symlink(target, DeviceDir() + "/nav\x1b[2J");
    const CliRun run = Cli({"devices"});
    StopSim();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("nav\\x1B[2J"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << "no raw escape byte";
}

TEST_F(DeviceMessages, ADevicePathTooLongToListIsNamedAsTheCause) {
    StartSim(kQuickPatch);
    const fs::path target = fs::read_symlink(SimEntry());
    fs::remove(SimEntry());
    const std::string longName(140, 'n');
    fs::create_symlink(target, DeviceDir() + "/" + longName);
    const CliRun run = Cli({"import-points", "--out", Path("p.csv")});
    StopSim();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("longer than 127 bytes"), std::string::npos) << run.err;
    EXPECT_TRUE(Journal().empty());
}

TEST_F(DeviceMessages, ADeviceHeldByAnotherProgramOrWithoutPermissionSaysSo) {
    StartSim(kQuickPatch);
    const std::string device = SimEntry().string();
    // Another program holding the device the way this one does.
    const int held = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    CliRun run = Cli({"import-points", "--out", Path("p.csv")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("in use by another program"), std::string::npos) << run.err;
    ::close(held);
    if (geteuid() != 0) {
        ::chmod(fs::canonical(device).c_str(), 0);
        run = Cli({"import-points", "--out", Path("p.csv")});
        EXPECT_NE(run.err.find("permission denied"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("udev rule"), std::string::npos) << run.err;
    }
    StopSim();
}

}  // namespace
}  // namespace e2e
