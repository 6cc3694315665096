// The window's job logs: where they go, what they hold, and that only the newest ten stay.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/window_job_logs.h"
#include "platform/user_folders.h"
#include "support/recording_view.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(WindowJobLogs, TheStateFolderFollowsXdgStateHomeWhenAbsolute) {
    const char* oldState = std::getenv("XDG_STATE_HOME");
    const std::string saved = oldState ? oldState : "";
    const struct {
        const char* state;
        std::string folder;
    } cases[] = {
        {"/var/tmp/st", "/var/tmp/st/caddora/logs"},
        {"relative/st", std::string(std::getenv("HOME")) + "/.local/state/caddora/logs"},
        {"", std::string(std::getenv("HOME")) + "/.local/state/caddora/logs"},
    };
    for (const auto& c : cases) {
        ::setenv("XDG_STATE_HOME", c.state, 1);
        EXPECT_EQ(WindowJobLogs::FolderIn(platform::UserStateFolder()), c.folder) << c.state;
    }
    if (oldState) {
        ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_STATE_HOME");
    }
}

TEST(WindowJobLogs, KeepsTheNewestTenWholeLogsAndNothingElseIsTouched) {
    testsupport::ScratchDir scratch;
    const fs::path folder = scratch.path() / "ログ";
    fs::create_directories(folder);
    std::ofstream(folder / "notes.txt") << "mine";
    std::ofstream(folder / "20200101-000000-import-points.log") << "an old one";
    RecordingView view;
    WindowJobLogs logs(view, folder.string(), "caddora test");

    // A click that started no job leaves no log.
    logs.BeginJob("write-course");
    for (int i = 0; i < 12; ++i) {
        logs.BeginJob(i % 2 ? "import-points" : "write-firmware");
        logs.SetProgressRange(4, i);
        JobResult result;
        result.outcome = i == 11 ? JobOutcome::Failed : JobOutcome::Done;
        result.failure = JobFailure::DeviceGone;
        logs.JobEnded(result);
    }
    const std::vector<std::string> kept = logs.KeptLogs();
    ASSERT_EQ(kept.size(), WindowJobLogs::kKeptLogs);
    EXPECT_TRUE(fs::exists(folder / "notes.txt"));
    EXPECT_FALSE(fs::exists(folder / "20200101-000000-import-points.log"));
    for (const std::string& name : kept) EXPECT_EQ(name.find("write-course"), std::string::npos);
    // The last job's log is the newest kept, whole, with its steps and result.
    const std::string last = Read(folder / kept.back());
    EXPECT_EQ(last.rfind("caddora session log 1\nprogram caddora test\n", 0), 0u) << last;
    EXPECT_NE(last.find("\narg import-points\n"), std::string::npos) << last;
    EXPECT_NE(last.find(" frames 11 of 4\n"), std::string::npos) << last;
    EXPECT_NE(last.find("\nresult "), std::string::npos) << last;
    EXPECT_NE(last.find(" failed "), std::string::npos) << last;
    EXPECT_NE(last.find("\nexit "), std::string::npos) << last;
    EXPECT_EQ(last.substr(last.size() - 3), " 1\n") << last;
    // The jobs end in the order they ran: the oldest two were pruned.
    EXPECT_NE(Read(folder / kept.front()).find(" frames 2 of 4\n"), std::string::npos);
}

}  // namespace
