#pragma once
// Main: the window's state and behaviour without any toolkit. It owns device detection, the one
// connection to the navigator (device stream, receive buffer, reader thread) and the job
// thread, and reaches the screen only through a MainView (app/main_view.h).
//
// Threads. The UI thread (the one that runs the view's posted calls) constructs Main and runs
// CheckDeviceStatus, the click handlers and the three window callbacks; it never waits on the
// device. The mode query of a device check and of the firmware click runs on a query thread,
// and its outcome is applied on the UI thread, in the order the check or click would have
// applied it; until then the query counts as running (QueryRunning): the window may not close,
// a device check is coalesced into one that runs afterwards, and a click waits for it too. A
// job thread runs one of FirmwareThread, KrodownThread, UpdataThread (each in its own file) and
// reports through the delegates, which post to the UI thread without waiting. ConnectRefDev and
// DisconnectRevDev may be called from any thread.
//
// While a job runs, a device check only enumerates (so it never reads replies the job waits
// for); if the device is gone it still disconnects, which ends the job's waits. A click while a
// job runs does nothing, and starting a job disables its button at once.
//
// The window's idea of the device follows the device: a device check runs when a job ends
// (the job may have reset the navigator into another mode) and when the held link fails (the
// reader thread posts it), and a connection whose link has failed is replaced by a new one.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "app/job_result.h"
#include "app/main_view.h"
#include "app/point_logbook.h"
#include "export/map_format.h"
#include "platform/byte_stream.h"
#include "platform/settings.h"
#include "protocol/device_commands.h"
#include "protocol/device_images.h"
#include "transfer/ymodem.h"
#include "transport/fifo_stream.h"
#include "transport/sync_stream.h"
#include "transport/usb_link.h"

// The failure a frame writer reports when WaitForAck gave `ack` (not kAckAccepted).
JobFailure AckFailure(int32_t ack, const FIFOStream& port);
// The failure of a step that got no answer: `whileOpen` while the connection is still open,
// else why it closed (the device went, or one of its USB endpoints stalled).
JobFailure WaitFailure(const FIFOStream& port, JobFailure whileOpen);

class Main {
public:
    // Delegate types: post a progress value, a button state, the generic error.
    using UpdateUI = std::function<void(int32_t)>;
    using UpdateB = std::function<void(bool)>;
    using UpdateE = std::function<void()>;

    // The reader thread's handle: "cleared to stop it". Shared with the thread through the
    // connection record, so it outlives whichever of the two ends last.
    class ReaderThread {
    public:
        explicit operator bool() const { return run_.load(); }
        bool IsAlive() const { return alive_.load(); }
        void Clear() { run_.store(false); }

    private:
        friend class Main;
        std::atomic<bool> run_{false};
        std::atomic<bool> alive_{false};
    };

    // Where a reader thread reports that its link failed. Shared with the reader threads, which
    // may outlive Main: Main's destructor clears `notify` first.
    struct LinkFailureSink {
        std::mutex mutex;
        std::function<void()> notify;
    };

    // One connection. Held through shared_ptr by Main and by its reader thread, so the stream
    // stays valid until both are done with it.
    class RefDevRunTimePara {
    public:
        std::string ConName;
        std::shared_ptr<SyncStream> readStream;
        // The job thread started on this connection; cleared (not stopped) on disconnect.
        std::thread::id DevThread;
        ReaderThread usbDevThread;
        std::shared_ptr<FIFOStream> stream;
        // Told when the reader loop ends without having been told to stop.
        std::shared_ptr<LinkFailureSink> linkFailure;
        // The link failed (or the stream closed) while the connection is held: the reader has
        // left although nobody cleared it.
        bool LinkDead() const {
            return (usbDevThread && !usbDevThread.IsAlive()) || !readStream->IsOpen();
        }
    };

    // Name of every USB reader thread (as the process's task list shows it).
    static constexpr const char* kReaderThreadName = "usb Dev Trd ";
    // Read time-outs the click handlers give the receive buffer.
    static constexpr int32_t kJobReadTimeoutMs = 25000;
    static constexpr int32_t kPointReadTimeoutMs = 21000;

    // Builds the window state and starts one device check (its mode query ends later, see
    // QueryRunning); `view` must outlive Main. The device interfaces are looked for where
    // `settings` says.
    Main(MainView& view, platform::Settings settings);
    // Waits for a running job and a running mode query to end, closes the connection and waits
    // (bounded) for the reader thread to leave.
    ~Main();
    Main(const Main&) = delete;
    Main& operator=(const Main&) = delete;

    // --- Device detection and the connection ------------------------------------------------
    void CheckDeviceStatus();
    // Opens a connection unless a live one is held; a held one whose link has failed is closed
    // and replaced.
    bool ConnectRefDev();
    bool DisconnectRevDev();
    // Body of the reader thread of `record`.
    static void usbReadThread(std::shared_ptr<RefDevRunTimePara> record);

    // --- Window callbacks (UI thread) --------------------------------------------------------
    void UpdateProgress(int32_t value);
    void UpdateButton(bool enable);
    void ErrorShow();

    // --- Click handlers (UI thread) ----------------------------------------------------------
    void buttonFwDown_Click();
    void buttonKroDown_Click();
    void buttonUpdata_Click();
    void linkLabel1_LinkClicked();
    void linkLabel2_LinkClicked();
    // Opens the report of the rounds last imported (the point tab's link).
    void linkLabelReport_LinkClicked();

    // --- Device command set ------------------------------------------------------------------
    int32_t WaitForAck(FIFOStream* buffer, int32_t deadline, uint32_t command);
    bool CheckUsbVersion();
    bool CheckPatchVersion();
    bool CheckSpinorId();
    bool bootMemoryRead();
    bool bootMemoryWrite();
    bool FwUpCmd();
    void SendResetCmd();
    bool usbIntoBootOne();
    void usbIntoBootTwo();
    int32_t ReadBytesFromStream(platform::ByteStream& source, std::span<uint8_t> target,
                                bool skipHeader);
    int32_t ReadAllBytesFromStream(platform::ByteStream& source, std::span<uint8_t> target);
    // Loads and starts the RAM patch program; 1 on success, 2 otherwise.
    int32_t sendPatchFile();

    // --- Jobs (job thread; each defined in its own file) -------------------------------------
    // Each ends as the window shows it and returns what happened; the view receives that
    // value through MainView::JobEnded.
    JobResult FirmwareThread();
    JobResult KrodownThread();
    JobResult UpdataThread();

    // After a complete import: saves the maps chosen at the click from the records read;
    // returns why one could not be saved (empty: all saved, or none chosen).
    std::string SaveChosenPointMaps(const JobResult& result);
    // After an import that kept its CSV file: adds the records read to the logbook chosen at
    // the click and writes the report of their rounds, noting both in `result`; then shows or
    // hides the report's link.
    void AddPointsToLogbook(JobResult& result);

    // --- Firmware transfer by YMODEM (app/ymodem_transfer.cpp) --------------------------------
    // Like a click: connects, hands the job the buffer and starts YmodemThread on the packed
    // file at `path`. False when no connection could be opened or a job runs.
    bool StartYmodemTransfer(const std::string& path);
    // Job body: update mode by frames, then the packed file's payload by YMODEM; "Error!" on
    // any failure, nothing on success.
    JobResult YmodemThread();
    // Body of ModemTrd: posts the progress of the record in sendModem every 10 ms until it is
    // finished.
    void readSendModem();

    // --- For the jobs: progress-bar settings carried out on the UI thread, in order ---------
    void PostProgressRange(int32_t maximum, int32_t value);
    void PostProgressStep();
    // Message box shown from the job thread (blocks only the job thread); returns `message`.
    JobMessage ShowJobMessage(const JobMessage& message);
    // Posts a progress value (UpdateProgressDelegate).
    void PostProgress(int32_t value) { UpdateProgressDelegate(value); }
    // Posts the error message: the generic one (ErrorShowDelegate) without a detail, else with
    // the detail under its first line. Returns the message it shows.
    JobMessage PostError(const std::string& detail = {});
    // A hidden settings text (any thread).
    std::string SettingText(Setting setting);

    // --- Stopping a job (any thread) ---------------------------------------------------------
    // Asks the running job to stop. It looks between records, frames and YMODEM blocks (the one
    // in flight is still awaited) and then ends the way a failure ends it, with the failure
    // Interrupted: the device reset and the link closed as that job does on any failure, the
    // point import's rows read so far kept. Cleared when the next job starts.
    void RequestStop() { stopRequested_.store(true); }
    bool StopRequested() const { return stopRequested_.load(); }

    // --- State for the view and the tests ---------------------------------------------------
    bool JobRunning() const { return jobRunning_.load(); }
    // A mode query is out, or its outcome not yet applied (UI thread).
    bool QueryRunning() const { return queryRunning_.load(); }
    // The window may close: no job thread is alive and no mode query is out.
    bool CanClose() const { return !JobRunning() && !QueryRunning(); }
    // What the last mode query found (UI thread): normal firmware rather than the boot loader.
    bool RunsNormalFirmware() const { return FwType; }
    // Whether an owner-supplied patch program is at hand for the boot-stage jobs.
    bool HasPatchImage() const { return !patchImage.empty(); }
    // The last click handed a job its receive buffer, so its job thread started (UI thread).
    bool JobHandedOver() const { return SendPort != nullptr; }
    // Waits until no job runs; false when `timeoutMs` passed first. Does not pump the view.
    bool WaitForJobEnd(uint32_t timeoutMs);
    // The current receive buffer, or null (any thread).
    std::shared_ptr<FIFOStream> CurrentStream();
    MainView& View() { return view_; }

    // Where the point import writes its CSV file; empty means the program's folder (the
    // documents folder when that is not writable) with the file named by the click's date and
    // time, and a done message that names the file. Front ends without a program folder of their
    // own (the command line) set it before the click.
    std::string pointCsvPath;
    // Maps the point import also saves beside its CSV file (same name, their own extension)
    // once it has read every point; empty: the CSV file alone. Set on the UI thread.
    std::vector<mapexport::MapFormat> pointMapFormats;
    // The window's "also save GPX and KML" choice.
    void SetAlsoSavePointMaps(bool on);
    // The logbook the point import adds its points to once its CSV file is in place; none:
    // the import adds nothing (the command line adds them itself). Set on the UI thread.
    std::optional<LogbookLocation> pointLogbook;
    // The window's "add to the logbook" choice.
    bool addPointsToLogbook = true;
    // The report of the rounds last imported; empty when there is none (UI thread).
    const std::string& PointReportPath() const { return pointReportPath_; }

    // Whether a job's end is followed by a device check (the job may have reset the navigator
    // into another mode). Front ends that end with the job (the command line) turn it off.
    bool recheckAfterJob = true;

    // When set, runs on the job thread in place of the job body that `button` starts; lets
    // tests hold a job at any point or end it as they need.
    std::function<JobResult(JobButton button)> JobBodyOverride;

    // The owner-supplied patch program the boot-stage jobs load, or why there is none; the
    // front end passes its entry point's lookup.
    void SetPatchImage(const images::FoundImage& found);
    // In the boot loader, a job that loads the patch program cannot run without it: shows the
    // refusal and returns false.
    bool PatchImageAvailable();

private:
    // Tests reach the fields below through tests/support/main_test_peer.h.
    friend class MainTestPeer;

    // --- Fields, in the order the window declares them --------------------------------------
    // The click handler writes the job fields before the job thread starts, the job thread
    // afterwards; the delegates carry values to the UI thread, which never reads a field the
    // running job writes. A device check writes FwType only while no job runs.
    int32_t TotalPacketNum = 0;
    std::shared_ptr<RefDevRunTimePara> refDevData;
    std::string filePath;
    int32_t kroType = 0;
    int32_t progressMax = 0;
    bool deviceExistOld = false;
    bool deviceExist = false;
    std::atomic<bool> deviceCon{false};
    int32_t type = 0;
    bool FwType = false;
    std::unique_ptr<Usb_Port> UsbInterface;
    std::shared_ptr<FIFOStream> SendPort;
    UpdateUI UpdateProgressDelegate;
    UpdateB UpdateButtonDelegate;
    UpdateE ErrorShowDelegate;
    bool patchStatus = false;
    std::array<uint8_t, kBootMemoryLength> bootMemory{};
    // The YMODEM transfer's record (replaced for each transfer) and its progress thread, which
    // posts through UpdateProgressDelegate; joined by the job, or at the latest with Main.
    std::shared_ptr<transfer::Ymodem> sendModem;
    std::jthread ModemTrd;

    // The owner-supplied patch program the boot-stage jobs load (empty: none was found), and
    // what to tell the user then. Set by the front end from its entry point's lookup.
    std::vector<uint8_t> patchImage;
    std::string patchImageRefusal = "the patch program (patch_image.bin) was not supplied";

    using JobBody = JobResult (Main::*)();
    // Starts `body` on the job thread unless a job runs; disables `button` first.
    // With `checkPatchFirst`, the job thread asks CheckPatchVersion before the body, so the
    // click that starts it never waits on the device.
    bool StartJob(JobBody body, JobButton button, bool checkPatchFirst = false);
    void RunJob(JobBody body, JobButton button, bool checkPatchFirst);
    void ApplyProgress(int32_t maximum, int32_t value);
    // The device check; with `closeAfter` a connection it opened for the mode query is closed
    // again, as for a device that has just appeared (one it found open stays open).
    void CheckDevice(bool closeAfter);
    // Asks the device's mode on the query thread and hands the answer (true: boot loader) to
    // `apply` on the UI thread; without a connection `apply` gets nothing, at once. The query
    // counts as running until `apply` has returned; then the calls deferred meanwhile run.
    void QueryModeThen(bool connected, std::function<void(std::optional<bool>)> apply);
    void EndQuery();
    // A mode query's answer (true: boot loader; none: no connection) into FwType and the
    // firmware button.
    void ApplyMode(std::optional<bool> boot);
    // While a query runs: keeps `call` for after it (a device check only once) and returns
    // true; otherwise false.
    bool DeferWhileQuerying(std::function<void()> call, bool isDeviceCheck = false);
    // The firmware click once the device's mode is known.
    void ContinueFirmwareClick();
    // Posts `call` to the UI thread; dropped if Main is gone by then.
    void PostToUi(std::function<void()> call);
    bool ConnectLocked();
    void DisconnectLocked();
    void TellMissingPermission(const std::string& path);

    MainView& view_;
    const platform::Settings settings_;
    // pointMapFormats as it was at the import's click.
    std::vector<mapexport::MapFormat> jobMapFormats_;
    // The logbook as it was at the import's click (none: chosen off).
    std::optional<LogbookLocation> jobLogbook_;
    std::string pointReportPath_;
    // The command set, bound to patchStatus, bootMemory and kroType above.
    DeviceCommands commands_{patchStatus, bootMemory, kroType};
    // Guards refDevData and the connection's life (connect and disconnect).
    std::mutex connMutex_;
    // The USB navigator whose missing permission the user was told about.
    std::string permissionToldFor_;
    std::thread jobThread_;
    std::atomic<bool> jobRunning_{false};
    std::atomic<bool> stopRequested_{false};
    std::mutex jobEndMutex_;
    std::condition_variable jobEndCv_;
    // The mode query of a device check or of the firmware click (UI thread starts and joins).
    std::thread queryThread_;
    std::atomic<bool> queryRunning_{false};
    // Calls that arrived while a query ran, in order; a device check appears once.
    std::deque<std::function<void()>> deferred_;
    bool checkDeferred_ = false;
    bool deferredCheckCloses_ = false;
    std::shared_ptr<LinkFailureSink> linkFailure_ = std::make_shared<LinkFailureSink>();
    // When a failed link last asked for a device check (under linkFailure_->mutex).
    std::optional<uint32_t> lastLinkFailureCheck_;
    // Expires with Main; posted calls check it before touching Main.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
