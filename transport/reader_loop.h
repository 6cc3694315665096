#pragma once
// The reader of a connection: moves what the link delivers into the receive buffer until told
// to stop, the stream closes or the link fails. The window's reader thread and the command
// line's probe both run it.
#include <functional>

#include "transport/fifo_stream.h"
#include "transport/sync_stream.h"

namespace transport {

// Pause after a read that delivered nothing, so a polled source is not asked in a busy loop.
inline constexpr uint32_t kReaderIdlePauseMs = 10;

// Runs on the calling thread while `keepRunning()` and `stream` is open. Each round blocks in
// the buffer's usbRead until bytes arrive or the stream closes; a failed link ends the loop (it
// never delivers again), and the device sets the pace: the loop pauses only when nothing came.
void RunReaderLoop(SyncStream& stream, FIFOStream& buffer,
                   const std::function<bool()>& keepRunning);

}  // namespace transport
