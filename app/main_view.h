#pragma once
// What the window logic (`Main`) needs from a screen. The Qt window, the terminal view of
// caddora-cli and the recording fake of the tests implement it.
//
// Threads: `Post`, `ShowMessage` and `SettingText` may be called from any thread; everything
// else only on the UI thread (the thread that runs the posted calls). Job threads change the
// screen only by posting.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

enum class MessageIcon { None, Error, Information, Warning };

struct JobResult;  // app/job_result.h

// The three job buttons.
enum class JobButton { FwDown, KroDown, Updata };

// What the progress counts: a boot-stage job first loads the patch program, then does its own
// work.
enum class ProgressStage { Job, PatchProgram };

// The hidden settings texts the jobs read.
enum class Setting { textUpAddr, textUpLen, textBoxPathUp, textBoxPathKro };

// An open-file dialog. `filter` uses the "description|pattern" form, e.g.
// "Packed Firmware Files|*.ckfm"; `defaultExt` (without the dot) is appended to a typed name
// that has no extension; `fileName` is filled in at the start. Empty fields mean "none".
struct OpenFileRequest {
    std::string defaultExt;
    std::string filter;
    std::string fileName;
};

class MainView {
public:
    virtual ~MainView() = default;

    // Runs `call` later on the UI thread. Never waits; calls posted by one thread run in the
    // order posted. Calls still queued when the view goes away are dropped.
    virtual void Post(std::function<void()> call) = 0;

    virtual void SetTitle(const std::string& title) = 0;
    virtual void SetButtonEnabled(JobButton button, bool enabled) = 0;
    virtual void SetTabControlEnabled(bool enabled) = 0;
    // Shows or hides the title-bar buttons (close, minimise); hidden, the user cannot close.
    virtual void SetCloseAllowed(bool allowed) = 0;

    virtual void SetProgressMaximum(int32_t maximum) = 0;
    virtual void SetProgressValue(int32_t value) = 0;
    // Advances the value by one; a value that would pass the maximum stays at the maximum.
    virtual void StepProgress() = 0;
    virtual void SetProgressVisible(bool visible) = 0;
    // A frame writer starts a new run of frames (the course data: one per chunk of its file).
    virtual void SetProgressRange(int32_t maximum, int32_t value) {
        SetProgressMaximum(maximum);
        SetProgressValue(value);
    }

    // The progress counts something else from now on; a single bar has no need to know.
    virtual void SetProgressStage(ProgressStage stage) { (void)stage; }

    // A message box with an OK button. On the UI thread it returns when dismissed; from a job
    // thread it blocks only that thread until dismissed (or until the view shuts down).
    virtual void ShowMessage(const std::string& text, const std::string& caption,
                             MessageIcon icon) = 0;

    // Asks for an existing file; the chosen path, or nothing when the user cancels.
    virtual std::optional<std::string> AskOpenFile(const OpenFileRequest& request) = 0;

    // The text of a hidden settings box ("0", "786432", "2622d", "2622d" by default).
    virtual std::string SettingText(Setting setting) = 0;
    virtual void SetLabelPackets(const std::string& text) = 0;

    // Hands a web address to the desktop's browser; false when that failed.
    virtual bool OpenUrl(const std::string& url) = 0;

    // Shows or hides the point tab's link to the report of the rounds last imported. Default:
    // nothing (a view without that tab).
    virtual void ShowReportLink(bool visible) { (void)visible; }

    // A job thread has ended with `result`; posted after every call the job posted, so the
    // view has shown everything the job reported. Default: nothing.
    virtual void JobEnded(const JobResult& result) { (void)result; }
};
