#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/user_folders.h"
#include "support/unprivileged_thread.h"

namespace fs = std::filesystem;
using platform::ParseUserDir;

namespace {

struct UserDirCase {
    const char* name;
    const char* text;
    std::optional<std::string> expected;
};

void PrintTo(const UserDirCase& c, std::ostream* os) {
    *os << c.name;
}

class ParseUserDirTest : public ::testing::TestWithParam<UserDirCase> {};

TEST_P(ParseUserDirTest, GivesWhatXdgUserDirPrints) {
    EXPECT_EQ(ParseUserDir(GetParam().text, "XDG_DOCUMENTS_DIR", "/home/u"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ParseUserDirTest,
    ::testing::Values(
        UserDirCase{"HomeRelativeAmongOthers",
                    "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                    "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n",
                    "/home/u/Dokumente"},
        UserDirCase{"Absolute", "XDG_DOCUMENTS_DIR=\"/srv/docs\"", "/srv/docs"},
        UserDirCase{"HomeWithSlash", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n", "/home/u/"},
        UserDirCase{"EscapedQuotesAndBackslash",
                    "  XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\" \\\\ x\"\n",
                    "/home/u/My \"Docs\" \\ x"},
        UserDirCase{"LastLineWins", "XDG_DOCUMENTS_DIR=\"/a\"\nXDG_DOCUMENTS_DIR=\"/b\"\n", "/b"},
        UserDirCase{"Utf8Name", "XDG_DOCUMENTS_DIR=\"$HOME/\xe6\x96\x87\xe6\x9b\xb8\"",
                    "/home/u/\xe6\x96\x87\xe6\x9b\xb8"},
        // Not a path xdg-user-dir could give, or not the key asked for: the home folder decides.
        UserDirCase{"RelativePath", "XDG_DOCUMENTS_DIR=\"Documents\"\n", std::nullopt},
        UserDirCase{"OtherVariable", "XDG_DOCUMENTS_DIR=\"$HOMEDIR/x\"\n", std::nullopt},
        UserDirCase{"Unterminated", "XDG_DOCUMENTS_DIR=\"/unterminated\n", std::nullopt},
        UserDirCase{"OtherKeyOrComment", "XDG_DOCUMENTS_DIRS=\"/x\"\n# XDG_DOCUMENTS_DIR=\"/y\"\n",
                    std::nullopt},
        UserDirCase{"Empty", "", std::nullopt}),
    [](const ::testing::TestParamInfo<UserDirCase>& info) { return info.param.name; });

// A temporary home with its own configuration folder; HOME and XDG_CONFIG_HOME point into it.
class UserFoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "caddora-home-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        home_ = pattern;
        fs::create_directory(home_ / "config");
        Save("HOME", home_.string());
        Save("XDG_CONFIG_HOME", (home_ / "config").string());
    }
    void TearDown() override {
        // Last saved first, so a variable saved twice ends as it was.
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            const auto& [name, value] = *it;
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        std::error_code ec;
        fs::remove_all(home_, ec);
    }
    void Save(const std::string& name, const std::string& value) {
        const char* old = getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name.c_str(), value.c_str(), 1);
    }
    void WriteUserDirs(const std::string& text) {
        std::ofstream(home_ / "config" / "user-dirs.dirs") << text;
    }

    fs::path home_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(UserFoldersTest, DocumentsFolderIsTheConfiguredOneWhenItExists) {
    fs::create_directory(home_ / "Docs");
    WriteUserDirs("XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n");
    EXPECT_EQ(platform::DocumentsFolder(), (home_ / "Docs").string());
}

TEST_F(UserFoldersTest, DocumentsFolderFallsBackToHome) {
    EXPECT_EQ(platform::DocumentsFolder(), home_.string());  // no user-dirs file
    WriteUserDirs("XDG_DOCUMENTS_DIR=\"$HOME/Gone\"\n");     // names a missing folder
    EXPECT_EQ(platform::DocumentsFolder(), home_.string());
}

TEST_F(UserFoldersTest, OutputFolderIsThePreferredOneOnlyWhenWritable) {
    fs::create_directory(home_ / "Docs");
    WriteUserDirs("XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n");
    fs::create_directory(home_ / "bin");
    EXPECT_EQ(platform::OutputFolder((home_ / "bin").string()), (home_ / "bin").string());
    EXPECT_EQ(platform::OutputFolder((home_ / "missing").string()), (home_ / "Docs").string());
    std::ofstream(home_ / "file") << "x";
    EXPECT_EQ(platform::OutputFolder((home_ / "file").string()), (home_ / "Docs").string());
    // An installed program's folder: readable, not writable. Root (as in CI) loses the right to
    // ignore that on the thread that asks.
    fs::permissions(home_ / "bin", fs::perms::owner_read | fs::perms::owner_exec);
    std::string chosen;
    testsupport::RunWithoutFileCapabilities(
        [&] { chosen = platform::OutputFolder((home_ / "bin").string()); });
    EXPECT_EQ(chosen, (home_ / "Docs").string());
    fs::permissions(home_ / "bin", fs::perms::owner_all);
}

}  // namespace

TEST_F(UserFoldersTest, UserDataFolderIsAnAbsoluteXdgDataHomeElseLocalShare) {
    Save("XDG_DATA_HOME", (home_ / "データ").string());
    EXPECT_EQ(platform::UserDataFolder(), (home_ / "データ").string());
    Save("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(platform::UserDataFolder(), (home_ / ".local/share").string());
    Save("XDG_DATA_HOME", "");
    EXPECT_EQ(platform::UserDataFolder(), (home_ / ".local/share").string());
}
