// The point-data import: reads the saved points out of the navigator's SPI-NOR flash, one
// 192-byte record per request, into a CSV file beside the program.
#include <cstdio>
#include <memory>

#include "app/main.h"
#include "app/point_area.h"
#include "app/point_record.h"
#include "app/spinor_read.h"
#include "app/window_texts.h"
#include "platform/tick.h"
#include "protocol/patch_upload.h"

namespace {

using CsvFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

bool WriteAll(std::FILE* file, std::string_view bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

enum class ReadEnd {
    AreaDone,  // every request of the area was answered
    Erased,    // an erased record marks the end of the saved points
    Failed,    // no valid answer in time, a short answer, or the file could not be written
};

// The record loop: one request in flight at a time, one row per record.
ReadEnd ReadRecords(Main& main, FIFOStream& port, std::FILE* file, const PointArea& area) {
    const uint32_t records = area.RecordCount();
    for (uint32_t i = 0; i < records; ++i) {
        const uint16_t length = area.RequestLength(i);
        const auto request = MakeSpinorReadFrame(area.RequestAddress(i), length);
        port.SendCmd(request.data(), 0, static_cast<int32_t>(request.size()));
        const uint32_t deadline = platform::TickCount() + kSpinorReplyTimeoutMs;
        const auto payload = WaitForSpinorData(port, deadline);
        // Fewer bytes than asked for is no answer to this request.
        if (!payload || payload->size() < length) return ReadEnd::Failed;
        if (IsErasedPointRecord(*payload)) return ReadEnd::Erased;
        // The short tail of an area that is not a whole number of records holds no record.
        if (payload->size() < kPointRecordLength) return ReadEnd::AreaDone;
        const auto record = ParsePointRecord(
            std::span<const uint8_t, kPointRecordLength>(payload->data(), kPointRecordLength));
        if (!WriteAll(file, FormatPointRowUtf8(record))) return ReadEnd::Failed;
        main.UpdateProgressDelegate(static_cast<int32_t>(i));
    }
    return ReadEnd::AreaDone;
}

}  // namespace

void Main::UpdataThread() {
    CsvFile file(std::fopen(filePath.c_str(), "wb"), &std::fclose);
    const auto length = ParseAreaLength(SettingText(Setting::textUpLen));
    const PointArea area{0, length.value_or(0)};
    const uint32_t records = area.RecordCount();
    progressMax = static_cast<int32_t>(records);
    UpdateButtonDelegate(false);

    // The import has worked only when it read up to an erased record or the area's end; a
    // file that could not be created or a length text that is no number fail it at once.
    bool complete = false;
    if (file && length && SendPort) {
        const bool patchReady = patchStatus || FwType || sendPatchFile() == kPatchStarted;
        progressMax = static_cast<int32_t>(records);
        if (patchReady && CheckSpinorId()) {
            if (records == 0) {
                complete = true;
            } else if (WriteAll(file.get(), PointCsvHeader())) {
                const PointArea from{ParseAreaStart(SettingText(Setting::textUpAddr)), area.length};
                const ReadEnd end = ReadRecords(*this, *SendPort, file.get(), from);
                complete = end != ReadEnd::Failed;
                if (end == ReadEnd::AreaDone) {
                    UpdateProgressDelegate(static_cast<int32_t>(records));
                    if (FwType) SendResetCmd();
                }
            }
        }
    }

    UpdateButtonDelegate(true);
    // Closing reports a failed final write, which loses rows: that fails the import too.
    if (file && std::fclose(file.release()) != 0) complete = false;
    SendResetCmd();
    UpdateButtonDelegate(true);
    DisconnectRevDev();
    if (complete) {
        ShowJobMessage(std::string(texts::kWriteDone), {}, MessageIcon::None);
    } else {
        ErrorShowDelegate();
    }
}
