#pragma once
// The window's job logs: every job the window starts writes a session log into the user's
// state folder ("caddora/logs"), named by the date, time and job, e.g.
// 20261208-031502-import-points.log; the newest kKeptLogs stay, older ones are removed.
// Wraps the window's view like SessionView, so the job's steps and result are in the log.
#include <memory>
#include <string>
#include <vector>

#include "app/session_view.h"

class WindowJobLogs : public SessionView {
public:
    static constexpr std::size_t kKeptLogs = 10;

    // `folder`: where the logs go (created when missing); empty: no logs. `program`: name and
    // version for the header.
    WindowJobLogs(MainView& inner, std::string folder, std::string program);
    ~WindowJobLogs() override;

    // The logs' folder under `stateFolder` (platform::UserStateFolder()).
    static std::string FolderIn(const std::string& stateFolder);

    // A click is about to start `job` ("import-points", "write-course", "write-firmware") while
    // no job runs: its log begins. A log whose click started no job is dropped at the next
    // click.
    void BeginJob(const std::string& job);
    void JobEnded(const JobResult& result) override;

    // The names of the kept logs, oldest first.
    std::vector<std::string> KeptLogs() const;

private:
    void DropUnfinished();
    void Prune();

    std::string folder_;
    std::string program_;
    std::shared_ptr<diag::SessionLog> log_;  // UI thread
    std::string path_;
};
