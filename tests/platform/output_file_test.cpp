// Files written beside their target and put in place only when complete.
#include "platform/output_file.h"
#include "platform/console.h"
#include "platform/output_file_shared.h"
#include "support/scratch_dir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Entries in `dir`: a failed or finished write leaves nothing of its own behind.
size_t Entries(const testsupport::ScratchDir& dir) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir.path()), {}));
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

void Put(platform::OutputFile& out, const std::string& text) {
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), out.Stream()), text.size());
}

TEST(OutputFile, TheTargetChangesOnlyOnCommit) {
    testsupport::ScratchDir dir;
    const struct {
        const char* what;
        bool existed;
        bool commit;
        std::string expected;  // "-" for no file
    } cases[] = {
        {"new, committed", false, true, "new"},
        {"new, abandoned", false, false, "-"},
        {"old, committed", true, true, "new"},
        {"old, abandoned", true, false, "old"},
    };
    for (const auto& c : cases) {
        const std::string target = dir / "t.bin";
        fs::remove(target);
        if (c.existed) Write(target, "old");
        {
            platform::OutputFile out(target);
            Put(out, "new");
            const std::string during = fs::exists(target) ? testsupport::Slurp(target) : "-";
            EXPECT_EQ(during, c.existed ? "old" : "-") << c.what << ": untouched while writing";
            if (c.commit) out.Commit();
        }
        EXPECT_EQ(fs::exists(target) ? testsupport::Slurp(target) : std::string("-"), c.expected)
            << c.what;
        EXPECT_EQ(Entries(dir), c.expected == "-" ? 0u : 1u) << c.what << ": no leftovers";
    }
}

TEST(OutputFile, ALinkKeepsPointingAtTheReplacedFile) {
    testsupport::ScratchDir dir;
    Write(dir / "real.bin", "old");
    fs::create_symlink(dir / "real.bin", dir / "link.bin");
    platform::OutputFile out(dir / "link.bin");
    Put(out, "new");
    out.Commit();
    EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
    EXPECT_EQ(testsupport::Slurp(dir / "real.bin"), "new");
}

TEST(OutputFile, DirectoriesAndMissingFoldersAreRefused) {
    testsupport::ScratchDir dir;
    EXPECT_THROW(platform::OutputFile(dir.path().string()), platform::StreamError);
    EXPECT_THROW(platform::OutputFile(dir / "no/such.bin"), platform::StreamError);
    EXPECT_EQ(Entries(dir), 0u);
}

TEST(OutputFile, ADeviceIsWrittenInPlace) {
    platform::OutputFile out("/dev/null");
    EXPECT_TRUE(out.InPlace());
    Put(out, "gone");
    out.Commit();
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST(OutputFile, TheStandardOutputRedirectedIntoAFileIsWrittenThroughItNotReplaced) {
    testsupport::ScratchDir folder;
    const std::string redirected = folder / "out.csv";
    const std::string other = folder / "other.csv";
    Write(other, "x");
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int fd = ::open(redirected.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
    for (const std::string name : {"-", "/dev/stdout", "out.csv"}) {
        const std::string target = name == "out.csv" ? redirected : name;
        SCOPED_TRACE(target);
        EXPECT_TRUE(platform::NamesStandardOutput(target));
        platform::OutputFile out(target);
        EXPECT_TRUE(out.InPlace());
        Put(out, name + ";");
        out.Commit();
    }
    EXPECT_FALSE(platform::NamesStandardOutput(other));
    struct stat written {};
    ::fstat(STDOUT_FILENO, &written);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    struct stat named {};
    ASSERT_EQ(::stat(redirected.c_str(), &named), 0);
    // The file the shell opened is still the one the name points at, and holds every write.
    EXPECT_EQ(named.st_ino, written.st_ino);
    EXPECT_EQ(testsupport::Slurp(redirected), "-;/dev/stdout;out.csv;");
    EXPECT_EQ(Entries(folder), 2u) << "a temporary file was left";
}

// Names up to the system's limit of 255 bytes, Japanese ones counted in UTF-8 bytes: the
// temporary's name is cut to fit, and stays one the next writer recognises.
TEST(OutputFile, NamesUpToTheLimitAreWritten) {
    testsupport::ScratchDir dir;
    std::string japanese;
    for (int i = 0; i < 83; ++i) japanese += "地";  // 249 bytes
    const std::string names[] = {std::string(228, 'a') + ".csv", std::string(233, 'b') + ".csv",
                                 std::string(251, 'c') + ".csv", japanese + "図フ",
                                 japanese + "a.csv"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name.size());
        ASSERT_LE(name.size(), 255u);
        platform::OutputFile out(dir / name);
        Put(out, "rows");
        for (const auto& e : fs::directory_iterator(dir.path())) {
            const std::string temporary = e.path().filename().string();
            EXPECT_LE(temporary.size(), 255u);
            EXPECT_EQ(platform::output_detail::TemporaryOwner(temporary, true),
                      std::optional<uint64_t>(::getpid()));
        }
        out.Commit();
        EXPECT_EQ(testsupport::Slurp(dir / name), "rows");
        fs::remove(dir / name);
    }
}

TEST(OutputFile, TemporaryNamesCutAtACharacterAndCarryTheirOwner) {
    using platform::output_detail::NameUnits;
    using platform::output_detail::TemporaryName;
    using platform::output_detail::TemporaryOwner;
    std::string japanese;
    for (int i = 0; i < 85; ++i) japanese += "テ";  // 255 bytes, 85 UTF-16 units
    const struct {
        std::string name;
        bool hidden;
        NameUnits units;
        std::string expected;
    } cases[] = {
        {"a.csv", true, NameUnits::Utf8Bytes, ".a.csv.4242.00000000beef.part"},
        {"a.csv", false, NameUnits::Utf16Units, "a.csv.4242.00000000beef.part"},
        // 255 - 24 bytes of dot and fixed part leave 231 bytes: 77 whole characters.
        {japanese, true, NameUnits::Utf8Bytes,
         "." + japanese.substr(0, 77 * 3) + ".4242.00000000beef.part"},
        {japanese, false, NameUnits::Utf16Units, japanese + ".4242.00000000beef.part"},
        {std::string(255, 'x'), false, NameUnits::Utf16Units,
         std::string(232, 'x') + ".4242.00000000beef.part"},
    };
    for (const auto& c : cases) {
        const std::string name = TemporaryName(c.name, 4242, 0xbeef, c.hidden, 255, c.units);
        EXPECT_EQ(name, c.expected);
        EXPECT_EQ(TemporaryOwner(name, c.hidden), std::optional<uint64_t>(4242)) << name;
    }
    // Only the exact pattern names an owner.
    for (const char* other :
         {".a.csv.part", ".a.csv.0042.00000000beef.part", ".a.csv.42.00000000BEEF.part",
          ".a.csv.42.beef.part", "a.csv.42.00000000beef.part", "..42.00000000beef.pärt",
          ".a.csv.x42.00000000beef.part", ".42.00000000beef.part"}) {
        EXPECT_EQ(TemporaryOwner(other, true), std::nullopt) << other;
    }
}

// A writer killed outright leaves its temporary; the next output into the folder removes it,
// and nothing else: not the temporaries of running writers, nor links, folders or files that
// only look alike.
TEST(OutputFile, TheNextWriterRemovesTemporariesOfEndedWriters) {
    testsupport::ScratchDir dir;
    const pid_t killed = fork();
    if (killed == 0) {
        platform::OutputFile out(dir / "points.csv");
        std::fputs("half a row", out.Stream());
        std::fflush(out.Stream());
        ::raise(SIGKILL);
    }
    ASSERT_GT(killed, 0);
    int status = 0;
    ASSERT_EQ(waitpid(killed, &status, 0), killed);
    ASSERT_TRUE(WIFSIGNALED(status));
    const std::string dead = std::to_string(killed);
    ASSERT_EQ(Entries(dir), 1u) << "the killed writer left no temporary";
    const std::vector<std::string> kept = {
        ".x.csv." + std::to_string(::getppid()) + ".0123456789ab.part",  // a running writer
        ".x.csv.0123456789ab.part",                                      // no owner named
        "x.csv." + dead + ".0123456789ab.part",                          // not hidden
        ".y.csv." + dead + ".0123456789ab.part",                         // a folder
        ".z.csv." + dead + ".0123456789ab.part",                         // a link
    };
    Write(dir / kept[0], "");
    Write(dir / kept[1], "");
    Write(dir / kept[2], "");
    fs::create_directory(dir / kept[3]);
    fs::create_symlink(dir / "points.csv", dir / kept[4]);

    platform::OutputFile out(dir / "other.csv");
    out.Commit();
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.path())) left.insert(e.path().filename());
    std::set<std::string> expected(kept.begin(), kept.end());
    expected.insert("other.csv");
    EXPECT_EQ(left, expected);
}

// A program interrupted outside a job, or a second time during one, ends at once; the
// temporaries being written and the scratch folder noted go with it.
TEST(OutputFile, AnInterruptThatEndsTheProgramRemovesItsTemporaries) {
    const struct {
        const char* what;
        bool job;     // the first interrupt only asks the job to stop
        int endedBy;  // 0: exited with `status`
        int status;
    } cases[] = {
        {"second interrupt of a job", true, 0, 128 + SIGTERM},
        {"interrupt outside a job", false, SIGTERM, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::ScratchDir dir;
        const std::string scratch = dir / "scratch";
        const pid_t child = fork();
        if (child == 0) {
            if (c.job) {
                platform::InstallInterruptHandler();
            } else {
                platform::RemoveOutputsOnInterrupt();
            }
            fs::create_directory(scratch);
            const platform::RemovedOnAbruptEnd folder(scratch, true);
            const platform::RemovedOnAbruptEnd file(scratch + "/points.csv", false);
            Write(scratch + "/points.csv", "rows");
            platform::OutputFile map(scratch + "/points.gpx");
            platform::OutputFile out(dir / "points.csv");
            std::fputs("rows", out.Stream());
            if (c.job) {
                ::raise(SIGINT);
                if (platform::InterruptSignal() != 130) _exit(1);  // only noted
            }
            ::raise(SIGTERM);
            _exit(2);
        }
        ASSERT_GT(child, 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (c.endedBy != 0) {
            ASSERT_TRUE(WIFSIGNALED(status)) << status;
            EXPECT_EQ(WTERMSIG(status), c.endedBy);
        } else {
            ASSERT_TRUE(WIFEXITED(status)) << status;
            EXPECT_EQ(WEXITSTATUS(status), c.status);
        }
        EXPECT_EQ(Entries(dir), 0u) << "left: " << fs::directory_iterator(dir.path())->path();
    }
}

}  // namespace
