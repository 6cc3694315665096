#include "app/window_job_logs.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/local_time.h"
#include "platform/utf8_paths.h"

namespace fs = std::filesystem;

namespace {

// "20261208-031502-import-points.log": the names this class writes, and no others.
bool IsJobLogName(const std::string& name) {
    if (name.size() < 21 || name.compare(name.size() - 4, 4, ".log") != 0) return false;
    for (std::size_t i = 0; i < 15; ++i) {
        if (i == 8 ? name[i] != '-' : (name[i] < '0' || name[i] > '9')) return false;
    }
    return name[15] == '-';
}

// The number of a log among those of its second: 1 for the first, N for "...-N.log".
int Counter(const std::string& name) {
    const std::string stem = name.substr(0, name.size() - 4);
    const std::size_t dash = stem.find_last_of('-');
    if (dash == std::string::npos || dash <= 15 || dash + 1 == stem.size() ||
        stem.size() - dash > 4 ||
        !std::all_of(stem.begin() + static_cast<std::ptrdiff_t>(dash) + 1, stem.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
        return 1;
    }
    return std::stoi(stem.substr(dash + 1));
}

// Order of the logs: by time, then by their number within the second.
std::string SortKey(const std::string& name) {
    char counter[8];
    std::snprintf(counter, sizeof counter, "%03d", Counter(name));
    return name.substr(0, 15) + counter + name;
}

std::string Stamp() {
    // "yyyyMMdd_HHmmss" -> "yyyyMMdd-HHmmss"
    std::string stamp = platform::LocalTimestamp();
    std::replace(stamp.begin(), stamp.end(), '_', '-');
    return stamp;
}

}  // namespace

WindowJobLogs::WindowJobLogs(MainView& inner, std::string folder, std::string program)
    : SessionView(inner), folder_(std::move(folder)), program_(std::move(program)) {}

WindowJobLogs::~WindowJobLogs() {
    DropUnfinished();
}

std::string WindowJobLogs::FolderIn(const std::string& stateFolder) {
    if (stateFolder.empty()) return {};
    return platform::PathToUtf8(platform::PathFromUtf8(stateFolder) / "caddora" / "logs");
}

void WindowJobLogs::DropUnfinished() {
    if (!log_) return;
    if (diag::CurrentSessionLog() == log_) diag::SetCurrentSessionLog(nullptr);
    log_->Exit(-1);
    log_.reset();
    std::error_code ignored;
    fs::remove(platform::PathFromUtf8(path_), ignored);
}

void WindowJobLogs::BeginJob(const std::string& job) {
    DropUnfinished();
    if (folder_.empty()) return;
    std::error_code ec;
    fs::create_directories(platform::PathFromUtf8(folder_), ec);
    const std::string stamp = Stamp();
    // Jobs within one second are numbered in the order they ran: -2, -3 ...
    int last = 0;
    for (const std::string& kept : KeptLogs()) {
        if (kept.compare(0, 15, stamp) == 0) last = std::max(last, Counter(kept));
    }
    for (int n = last + 1;; ++n) {
        // Appended piece by piece: GCC 12 at -O3 misreads `"-" + std::string` as an
        // overlapping copy (-Wrestrict).
        std::string name = stamp;
        name.append("-").append(job);
        if (n != 1) name.append("-").append(std::to_string(n));
        name.append(".log");
        path_ =
            platform::PathToUtf8(platform::PathFromUtf8(folder_) / platform::PathFromUtf8(name));
        if (!fs::exists(platform::PathFromUtf8(path_), ec) || n > 999) break;
    }
    // A log that cannot be written costs the job nothing.
    log_ = std::make_shared<diag::SessionLog>(path_, nullptr, nullptr);
    if (!log_->Writing()) {
        log_.reset();
        return;
    }
    log_->Header({program_, diag::OsName(), {"caddora", job}});
    diag::SetCurrentSessionLog(log_);
}

void WindowJobLogs::JobEnded(const JobResult& result) {
    SessionView::JobEnded(result);
    if (log_) {
        if (diag::CurrentSessionLog() == log_) diag::SetCurrentSessionLog(nullptr);
        log_->Exit(result.Done() ? 0 : 1);
        log_.reset();
        Prune();
    }
}

std::vector<std::string> WindowJobLogs::KeptLogs() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(platform::PathFromUtf8(folder_), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = platform::PathToUtf8(it->path().filename());
        if (IsJobLogName(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return SortKey(a) < SortKey(b); });
    return names;
}

void WindowJobLogs::Prune() {
    const std::vector<std::string> names = KeptLogs();
    if (names.size() <= kKeptLogs) return;
    for (std::size_t i = 0; i + kKeptLogs < names.size(); ++i) {
        std::error_code ignored;
        fs::remove(platform::PathFromUtf8(folder_) / platform::PathFromUtf8(names[i]), ignored);
    }
}
