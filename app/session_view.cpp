#include "app/session_view.h"

std::string ResultText(const JobResult& result) {
    std::string text =
        result.Done() ? "done" : std::string("failed ") + JobFailureName(result.failure);
    if (result.framesTotal > 0) {
        text += " frames " + std::to_string(result.framesAcknowledged) + " of " +
                std::to_string(result.framesTotal);
    }
    if (result.bytesTotal >= 0) {
        text += " bytes " + std::to_string(result.bytesSent) + " of " +
                std::to_string(result.bytesTotal);
    }
    if (result.job == JobKind::PointImport || result.rowsWritten > 0) {
        text += " records " + std::to_string(result.RecordsRead()) + " rows " +
                std::to_string(result.rowsWritten);
    }
    if (!result.detail.empty()) text += ": " + result.detail;
    return text;
}

// --- SessionView -----------------------------------------------------------------------------

void SessionView::Progress(const char* what) {
    if (auto log = diag::CurrentSessionLog())
        log->Phase(std::string(what) + " " + std::to_string(value_) + " of " +
                   std::to_string(maximum_));
}

void SessionView::SetProgressStage(ProgressStage stage) {
    if (auto log = diag::CurrentSessionLog()) {
        log->Phase(stage == ProgressStage::PatchProgram ? "patch program upload" : "job");
    }
    inner_.SetProgressStage(stage);
}

void SessionView::SetProgressMaximum(int32_t maximum) {
    maximum_ = maximum;
    inner_.SetProgressMaximum(maximum);
}

void SessionView::SetProgressValue(int32_t value) {
    value_ = value;
    Progress("progress");
    inner_.SetProgressValue(value);
}

void SessionView::StepProgress() {
    if (value_ < maximum_) ++value_;
    Progress("step");
    inner_.StepProgress();
}

void SessionView::SetProgressRange(int32_t maximum, int32_t value) {
    maximum_ = maximum;
    value_ = value;
    Progress("frames");
    inner_.SetProgressRange(maximum, value);
}

void SessionView::ShowMessage(const std::string& text, const std::string& caption,
                              MessageIcon icon) {
    if (auto log = diag::CurrentSessionLog())
        log->Message(caption.empty() ? text : caption + ": " + text);
    inner_.ShowMessage(text, caption, icon);
}

std::optional<std::string> SessionView::AskOpenFile(const OpenFileRequest& request) {
    std::optional<std::string> chosen = inner_.AskOpenFile(request);
    // A replay of the window's job needs the file the user chose.
    if (auto log = diag::CurrentSessionLog(); log && chosen) log->ChosenFile(*chosen);
    return chosen;
}

void SessionView::SetLabelPackets(const std::string& text) {
    if (auto log = diag::CurrentSessionLog()) log->Phase("packets " + text);
    inner_.SetLabelPackets(text);
}

void SessionView::JobEnded(const JobResult& result) {
    if (auto log = diag::CurrentSessionLog()) log->Result(ResultText(result));
    inner_.JobEnded(result);
}
