#pragma once
// Serves a DeviceModel on a pseudo-terminal: the pty's slave end is linked into the device
// directory (SimConfig::deviceDir) so the tool finds it like a plugged-in
// navigator. One thread polls the master end, feeds the model and writes its replies with the
// delays, splits and noise of the fault settings. Stop(), destruction and the "vanish" fault
// remove the link and close the pty.
//
// Usable in-process by tests:
//   sim::SimServer server(config);
//   std::string path = server.Start();       // e.g. <deviceDir>/navigator0
//   ... open `path`, talk ...
//   server.WaitForFrames(3, 2000);
//   auto journal = server.Journal();
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/settings.h"
#include "sim/device_model.h"

namespace sim {

struct SimConfig {
    DeviceConfig device;
    // Device directory (the entry point decides it, see platform/settings.h). Created when
    // missing.
    std::string deviceDir = platform::kDefaultDeviceDir;
    std::string name = "navigator0";
    // When set, every received frame is appended to this file as a journal line at once.
    std::string journalPath;
    // When set, the memory dump is written here when the server stops or vanishes.
    std::string dumpDir;
    // Called on the server's thread after the device vanished (link gone, pty closed).
    std::function<void()> onVanish;
    // Installed into the model: the receiver that takes the line after CFG_FWUP.
    DeviceModel::ReceiverFactory receiverFactory;
};

class SimServer {
public:
    explicit SimServer(SimConfig config);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Opens the pty, links it and starts serving. Returns the device path (directory + '/' +
    // name). Throws std::system_error (or std::runtime_error when the name is taken by a live
    // entry). A stale link left by a killed simulator is replaced.
    std::string Start();
    // Stops serving, removes the link, closes the pty and writes the dump if configured.
    // Safe to call more than once.
    void Stop();

    bool Running() const;
    bool Vanished() const;
    const std::string& DevicePath() const { return devicePath_; }
    const std::string& SlavePath() const { return slavePath_; }

    // Waits until the model has received at least `count` good frames; false at the time-out.
    bool WaitForFrames(uint32_t count, uint32_t timeoutMs) const;
    // Waits until the device vanished; false at the time-out.
    bool WaitForVanish(uint32_t timeoutMs) const;

    // Snapshots, safe while serving.
    std::vector<JournalEntry> Journal() const;
    SparseMemory WrittenMemory() const;
    DeviceMode Mode() const;
    uint32_t FramesReceived() const;
    uint32_t ResetCount() const;
    bool YmodemRequested() const;
    // Runs `f` on the model under the server's lock (to read it or change settings mid-run).
    template <class F>
    auto WithModel(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(model_);
    }

    void WriteJournal(const std::string& path) const;
    void WriteDump(const std::string& dir) const;

private:
    struct Piece {
        std::vector<uint8_t> bytes;
        size_t written = 0;
        uint32_t due = 0;  // tick
    };
    void Run();
    void HandleInput(uint32_t now);
    void RunTimer(uint32_t now);
    void Schedule(const FeedResult& result, uint32_t now);
    void WriteDuePieces(uint32_t now);
    int PollTimeout(uint32_t now) const;
    void AppendJournal();
    void LingerBeforeVanish();
    void Vanish();
    void CloseEndpoints();
    void WriteDumpIfWanted();

    SimConfig config_;
    mutable std::mutex mutex_;  // guards model_, running_, vanished_
    mutable std::condition_variable changed_;
    DeviceModel model_;
    std::string devicePath_;
    std::string slavePath_;
    int master_ = -1;
    int slaveHold_ = -1;
    int wakeFd_ = -1;
    bool running_ = false;
    bool vanished_ = false;
    bool linkOwned_ = false;
    std::atomic<bool> stopRequested_{false};
    // Touched only by the serving thread while it runs.
    std::deque<Piece> outgoing_;
    size_t outgoingBytes_ = 0;
    bool vanishPending_ = false;
    std::optional<uint32_t> nextTimer_;
    std::optional<uint32_t> hangupUntil_;
    size_t journalWritten_ = 0;
    std::ofstream journalFile_;
    std::thread thread_;
};

}  // namespace sim
