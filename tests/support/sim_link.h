#pragma once
// The whole device path for a test, in-process: the virtual navigator on a pty linked into a
// temporary device directory, a SyncStream opened on it, its receive buffer, and a reader
// thread that calls usbRead as the window's reader thread does. Torn down in reverse order.
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/tick.h"
#include "sim/pty_server.h"
#include "transport/fifo_stream.h"
#include "transport/reader_loop.h"
#include "transport/sync_stream.h"

namespace testsupport {

class SimLink {
public:
    explicit SimLink(sim::SimConfig config = {}) {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "caddora-cmds-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = tmpl;
        config.deviceDir = dir_;
        server_ = std::make_unique<sim::SimServer>(std::move(config));
        const std::string path = server_->Start();
        stream_ = std::make_unique<SyncStream>(path);
        if (!stream_->Open()) {
            Teardown();
            throw std::runtime_error("cannot open " + path);
        }
        buffer_ = stream_->GetReadBuffer();
        reader_ = std::thread([this] {
            transport::RunReaderLoop(*stream_, *buffer_, [this] { return running_.load(); });
        });
    }
    ~SimLink() { Teardown(); }
    SimLink(const SimLink&) = delete;
    SimLink& operator=(const SimLink&) = delete;

    FIFOStream* Buffer() { return buffer_.get(); }
    sim::SimServer& Server() { return *server_; }

private:
    void Teardown() {
        running_ = false;
        if (stream_) stream_->Close();
        if (reader_.joinable()) reader_.join();
        if (stream_) stream_->Dispose();
        if (server_) server_->Stop();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::string dir_;
    std::unique_ptr<sim::SimServer> server_;
    std::unique_ptr<SyncStream> stream_;
    std::shared_ptr<FIFOStream> buffer_;
    std::atomic<bool> running_{true};
    std::thread reader_;
};

}  // namespace testsupport
