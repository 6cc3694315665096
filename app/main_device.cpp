// Main's side of the device: the device check, the one connection and its reader thread, and
// the mode queries that run off the UI thread.
#include "app/main.h"

#include <cstring>
#include <utility>

#include "app/window_texts.h"
#include "platform/clock.h"
#include "platform/thread_name.h"
#include "platform/tick.h"
#include "transport/reader_loop.h"

// --- Device detection and the connection ---------------------------------------------------

void Main::CheckDeviceStatus() {
    CheckDevice(false);
}

void Main::CheckDevice(bool closeAfter) {
    usb_info info{};
    UsbInterface->Get_USBInfo(info);
    const bool attached = info.count > 0;
    if (QueryRunning()) {
        // The query owns the connection; a vanished device still loses it at once. The check
        // runs again, whole, once the query's outcome is applied.
        if (!attached && deviceCon) DisconnectRevDev();
        deferredCheckCloses_ = deferredCheckCloses_ || closeAfter;
        DeferWhileQuerying([this] { CheckDevice(std::exchange(deferredCheckCloses_, false)); },
                           true);
        return;
    }
    deviceExistOld = deviceExist;
    if (attached) {
        deviceExist = true;
        // The job owns the connection: a mode query now would eat the replies it waits for.
        if (JobRunning()) return;
        view_.SetButtonEnabled(JobButton::KroDown, true);
        view_.SetButtonEnabled(JobButton::Updata, true);
        const bool wasConnected = deviceCon;
        const bool connected = ConnectRefDev();
        if (!connected) {
            TellMissingPermission(
                std::string(info.path[0], strnlen(info.path[0], kUsbInfoPathSize)));
        }
        const bool close = (closeAfter && !wasConnected) || !deviceExistOld;
        QueryModeThen(connected, [this, close](std::optional<bool> boot) {
            ApplyMode(boot);
            if (close && deviceCon) DisconnectRevDev();
        });
    } else {
        deviceExist = false;
        view_.SetButtonEnabled(JobButton::FwDown, false);
        view_.SetButtonEnabled(JobButton::KroDown, false);
        view_.SetButtonEnabled(JobButton::Updata, false);
        // Also under a running job: its waits then run out and it reports the failure.
        if (deviceCon) DisconnectRevDev();
    }
}

void Main::TellMissingPermission(const std::string& path) {
    // A USB navigator this user may not open would otherwise just stay silent; told once.
    const UsbOpenFailure failure = LastUsbOpenFailure();
    if (!failure.noPermission || failure.path != path || permissionToldFor_ == path) return;
    permissionToldFor_ = path;
    view_.ShowMessage(failure.text, std::string(texts::kErrorCaption), MessageIcon::Warning);
}

bool Main::ConnectRefDev() {
    std::lock_guard<std::mutex> lock(connMutex_);
    return ConnectLocked();
}

bool Main::ConnectLocked() {
    if (deviceCon) {
        if (refDevData && !refDevData->LinkDead()) return true;
        // The held link has failed: it never delivers again, so open a new one.
        DisconnectLocked();
    }
    auto record = std::make_shared<RefDevRunTimePara>();
    usb_info info{};
    UsbInterface->Get_USBInfo(info);
    if (info.count <= 0) return false;
    record->ConName.assign(info.path[0], strnlen(info.path[0], kUsbInfoPathSize));
    record->readStream = std::make_shared<SyncStream>(record->ConName);
    if (!record->readStream->Open()) {
        record->readStream->Dispose();
        return false;
    }
    record->stream = record->readStream->GetReadBuffer();
    record->linkFailure = linkFailure_;
    record->usbDevThread.run_ = true;
    record->usbDevThread.alive_ = true;
    try {
        // Detached: a background thread that never keeps the program alive; it holds the
        // record, so the stream outlives its last read.
        std::thread reader(&Main::usbReadThread, record);
        // Named here, so the name is in place as soon as the connection exists.
        platform::SetThreadName(reader, kReaderThreadName);
        reader.detach();
    } catch (const std::system_error&) {
        record->usbDevThread.run_ = false;
        record->usbDevThread.alive_ = false;
        record->readStream->Close();
        return false;
    }
    refDevData = std::move(record);
    deviceCon = true;
    return true;
}

bool Main::DisconnectRevDev() {
    std::lock_guard<std::mutex> lock(connMutex_);
    DisconnectLocked();
    return true;
}

void Main::DisconnectLocked() {
    if (const auto& record = refDevData) {
        // Tell the reader to stop without waiting: it may sit in a read only Close ends.
        if (record->usbDevThread.IsAlive()) record->usbDevThread.Clear();
        record->DevThread = std::thread::id{};
        record->readStream->Close();
        record->readStream->BridgeStream(nullptr);
        record->usbDevThread.Clear();
    }
    deviceCon = false;
}

void Main::usbReadThread(std::shared_ptr<RefDevRunTimePara> record) {
    struct LeaveMark {
        ReaderThread& thread;
        ~LeaveMark() { thread.alive_ = false; }
    } leave{record->usbDevThread};
    // A failed link ends the loop; the device check it asks for closes the connection or
    // replaces it.
    transport::RunReaderLoop(*record->readStream, *record->stream,
                             [&record] { return static_cast<bool>(record->usbDevThread); });
    if (!record->usbDevThread || !record->linkFailure) return;  // told to stop
    std::lock_guard<std::mutex> lock(record->linkFailure->mutex);
    if (record->linkFailure->notify) record->linkFailure->notify();
}

std::shared_ptr<FIFOStream> Main::CurrentStream() {
    std::lock_guard<std::mutex> lock(connMutex_);
    return deviceCon && refDevData ? refDevData->stream : nullptr;
}

// --- Mode queries off the UI thread --------------------------------------------------------

void Main::ApplyMode(std::optional<bool> boot) {
    // No connection: FwType keeps its value.
    if (boot) FwType = !*boot;
    view_.SetButtonEnabled(JobButton::FwDown, !FwType);
}

void Main::QueryModeThen(bool connected, std::function<void(std::optional<bool>)> apply) {
    queryRunning_ = true;
    if (!connected) {
        apply(std::nullopt);
        EndQuery();
        return;
    }
    // The previous query ended when its outcome was applied, so this join does not wait.
    if (queryThread_.joinable()) queryThread_.join();
    auto then = std::make_shared<std::function<void(std::optional<bool>)>>(std::move(apply));
    try {
        queryThread_ = std::thread([this, then] {
            platform::SetCurrentThreadName("caddora query");
            const bool boot = CheckUsbVersion();
            PostToUi([this, boot, then] {
                (*then)(boot);
                EndQuery();
            });
        });
    } catch (const std::system_error&) {
        // No thread to be had: ask here rather than not at all.
        (*then)(CheckUsbVersion());
        EndQuery();
    }
}

void Main::EndQuery() {
    queryRunning_ = false;
    while (!QueryRunning() && !deferred_.empty()) {
        auto call = std::move(deferred_.front());
        deferred_.pop_front();
        call();
    }
}

bool Main::DeferWhileQuerying(std::function<void()> call, bool isDeviceCheck) {
    if (!QueryRunning()) return false;
    if (isDeviceCheck) {
        if (checkDeferred_) return true;
        checkDeferred_ = true;
        deferred_.push_back([this, call = std::move(call)] {
            checkDeferred_ = false;
            call();
        });
        return true;
    }
    deferred_.push_back(std::move(call));
    return true;
}
