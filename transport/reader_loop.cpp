#include "transport/reader_loop.h"

#include "platform/tick.h"

namespace transport {

void RunReaderLoop(SyncStream& stream, FIFOStream& buffer,
                   const std::function<bool()>& keepRunning) {
    while (keepRunning() && stream.IsOpen()) {
        buffer.usbRead();
        const UsbFillStatus status = stream.LastUsbFill();
        if (status == UsbFillStatus::Failed) break;
        if (status != UsbFillStatus::Delivered) platform::SleepMs(kReaderIdlePauseMs);
    }
}

}  // namespace transport
