// Main's command-set members: each hands the connection's buffer to the command set.
#include "app/main.h"
#include "app/window_texts.h"
#include "protocol/patch_upload.h"

int32_t Main::WaitForAck(FIFOStream* buffer, int32_t deadline, uint32_t command) {
    return ::WaitForAck(buffer, deadline, command);
}

bool Main::CheckUsbVersion() {
    auto stream = CurrentStream();
    return commands_.CheckUsbVersion(stream.get());
}

bool Main::CheckPatchVersion() {
    auto stream = CurrentStream();
    return commands_.CheckPatchVersion(stream.get());
}

bool Main::CheckSpinorId() {
    return commands_.CheckSpinorId(SendPort.get());
}

bool Main::bootMemoryRead() {
    auto stream = CurrentStream();
    return commands_.bootMemoryRead(stream.get());
}

bool Main::bootMemoryWrite() {
    auto stream = CurrentStream();
    return commands_.bootMemoryWrite(stream.get());
}

bool Main::FwUpCmd() {
    auto stream = CurrentStream();
    return commands_.FwUpCmd(stream.get());
}

void Main::SendResetCmd() {
    auto stream = CurrentStream();
    commands_.SendResetCmd(stream.get());
}

namespace {
ConnectionHooks HooksOf(Main& main, std::shared_ptr<FIFOStream>& held) {
    return ConnectionHooks{
        [&main] { return main.ConnectRefDev(); },
        [&main, &held] {
            held = main.CurrentStream();
            return held.get();
        },
        [&main] { return main.DisconnectRevDev(); },
    };
}
}  // namespace

bool Main::usbIntoBootOne() {
    std::shared_ptr<FIFOStream> held;
    return commands_.usbIntoBootOne(HooksOf(*this, held));
}

void Main::usbIntoBootTwo() {
    std::shared_ptr<FIFOStream> held;
    commands_.usbIntoBootTwo(HooksOf(*this, held));
}

int32_t Main::ReadBytesFromStream(platform::ByteStream& source, std::span<uint8_t> target,
                                  bool skipHeader) {
    return commands_.ReadBytesFromStream(source, target, skipHeader);
}

int32_t Main::ReadAllBytesFromStream(platform::ByteStream& source, std::span<uint8_t> target) {
    return ::ReadAllBytesFromStream(source, target);
}

int32_t Main::sendPatchFile() {
    PatchUploadContext context{
        SendPort.get(),
        SettingText(type == 1 ? Setting::textBoxPathUp : Setting::textBoxPathKro),
        TotalPacketNum,
        progressMax,
        UpdateProgressDelegate,
        patchImage,
    };
    PostToUi([this] { view_.SetProgressStage(ProgressStage::PatchProgram); });
    const int32_t started = ::sendPatchFile(context);
    PostToUi([this] { view_.SetProgressStage(ProgressStage::Job); });
    return started;
}

void Main::SetPatchImage(const images::FoundImage& found) {
    patchImage = found.bytes;
    if (!found.ok()) patchImageRefusal = found.refusal;
}

bool Main::PatchImageAvailable() {
    if (!deviceExist || FwType || !patchImage.empty()) return true;
    view_.ShowMessage(patchImageRefusal, std::string(texts::kErrorCaption), MessageIcon::Error);
    return false;
}
