// Files written beside their target and put in place only when complete.
#include "platform/output_file.h"

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

struct Folder {
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "caddora-out-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~Folder() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    size_t Entries() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(path), {}));
    }
    fs::path path;
};

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

void Put(platform::OutputFile& out, const std::string& text) {
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), out.Stream()), text.size());
}

TEST(OutputFile, TheTargetChangesOnlyOnCommit) {
    Folder dir;
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
            const std::string during = fs::exists(target) ? Read(target) : "-";
            EXPECT_EQ(during, c.existed ? "old" : "-") << c.what << ": untouched while writing";
            if (c.commit) out.Commit();
        }
        EXPECT_EQ(fs::exists(target) ? Read(target) : std::string("-"), c.expected) << c.what;
        EXPECT_EQ(dir.Entries(), c.expected == "-" ? 0u : 1u) << c.what << ": no leftovers";
    }
}

TEST(OutputFile, ALinkKeepsPointingAtTheReplacedFile) {
    Folder dir;
    Write(dir / "real.bin", "old");
    fs::create_symlink(dir / "real.bin", dir / "link.bin");
    platform::OutputFile out(dir / "link.bin");
    Put(out, "new");
    out.Commit();
    EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
    EXPECT_EQ(Read(dir / "real.bin"), "new");
}

TEST(OutputFile, DirectoriesAndMissingFoldersAreRefused) {
    Folder dir;
    EXPECT_THROW(platform::OutputFile(dir.path.string()), platform::StreamError);
    EXPECT_THROW(platform::OutputFile(dir / "no/such.bin"), platform::StreamError);
    EXPECT_EQ(dir.Entries(), 0u);
}

TEST(OutputFile, ADeviceIsWrittenInPlace) {
    platform::OutputFile out("/dev/null");
    EXPECT_TRUE(out.InPlace());
    Put(out, "gone");
    out.Commit();
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST(OutputFile, TheStandardOutputRedirectedIntoAFileIsWrittenThroughItNotReplaced) {
    Folder folder;
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
    EXPECT_EQ(Read(redirected), "-;/dev/stdout;out.csv;");
    EXPECT_EQ(folder.Entries(), 2u) << "a temporary file was left";
}

}  // namespace
