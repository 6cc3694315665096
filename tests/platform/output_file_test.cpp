// Files written beside their target and put in place only when complete.
#include "platform/output_file.h"
#include "support/scratch_dir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

}  // namespace
