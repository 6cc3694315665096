#pragma once
// Shared fixture of the window-logic tests: a fresh device directory, the recording view, and
// the virtual navigator served on a pty in that directory on request.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>

#include "app/main.h"
#include "protocol/patch_image.h"
#include "sim/pty_server.h"
#include "support/fake_clock.h"
#include "support/main_test_peer.h"
#include "support/recording_view.h"
#include "support/scoped_device_dir.h"

// Gives `main` the repository's stand-in patch program, which the virtual navigator takes (the
// entry points do this only with CADDORA_ALLOW_STAND_IN=1).
inline void GiveStandInPatch(Main& main) {
    const auto image = PatchImageBytes();
    Peer(main).patchImage().assign(image.begin(), image.end());
}

// Threads of this process whose name is the USB reader's.
inline int CountReaderThreads() {
    int count = 0;
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return -1;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name == Main::kReaderThreadName) ++count;
    }
    closedir(dir);
    return count;
}

// Waits until at most `count` reader threads are left; returns the last count.
inline int WaitForReaderThreads(int count, int timeoutMs = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int now = CountReaderThreads();
    while (now > count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now = CountReaderThreads();
    }
    return now;
}

// Waits until exactly `count` reader threads exist (a leaving thread may linger a moment).
inline bool ReaderThreadsBecome(int count, int timeoutMs = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (CountReaderThreads() != count) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class AppTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (sim_) sim_->Stop();
    }

    // Serves a navigator in `mode` in the device directory; returns its path.
    std::string StartSim(sim::DeviceMode mode, sim::FaultConfig faults = {}) {
        if (sim_) sim_->Stop();
        sim::SimConfig config;
        config.deviceDir = dir_.Path();
        config.device.mode = mode;
        config.device.faults = faults;
        sim_ = std::make_unique<sim::SimServer>(config);
        return sim_->Start();
    }

    // The navigator unplugged: its link leaves the directory and the pty closes.
    void Unplug() {
        if (sim_) sim_->Stop();
    }

    // Frames of class/id the navigator has received so far.
    int FramesOf(uint8_t cls, uint8_t id) const {
        if (!sim_) return 0;
        int n = 0;
        for (const auto& e : sim_->Journal()) n += e.msgClass == cls && e.msgId == id;
        return n;
    }
    int VersionPolls() const { return FramesOf(0x0A, 0x04); }

    bool Enabled(JobButton button) const { return view_.Button(button).value_or(false); }

    // Plays the UI thread until the mode query that a device check or click started has had its
    // outcome applied.
    void Settle(Main& main) {
        EXPECT_TRUE(view_.Pump([&main] { return !main.QueryRunning(); }, 10000));
    }
    // A device check with its outcome applied.
    void Check(Main& main) {
        main.CheckDeviceStatus();
        Settle(main);
    }

    // Jobs end as a failed run ends, whatever their real bodies do; each start is recorded.
    void FakeJobs(Main& main) {
        main.JobBodyOverride = [this, &main](JobButton button) {
            {
                std::lock_guard<std::mutex> lock(jobsMutex_);
                startedJobs_.push_back(button);
            }
            Peer(main).UpdateButtonDelegate()(false);
            main.DisconnectRevDev();
            JobResult result;
            result.message = main.PostError();
            Peer(main).UpdateButtonDelegate()(true);
            return result;
        };
    }
    std::vector<JobButton> StartedJobs() {
        std::lock_guard<std::mutex> lock(jobsMutex_);
        return startedJobs_;
    }

    ScopedDeviceDir dir_;
    RecordingView view_;
    std::unique_ptr<sim::SimServer> sim_;
    std::mutex jobsMutex_;
    std::vector<JobButton> startedJobs_;
};
