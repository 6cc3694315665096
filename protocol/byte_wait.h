#pragma once
// The one bounded wait for bytes that every query, acknowledgement and record wait uses.
#include <cstdint>

#include "transport/fifo_stream.h"

// Longest sleep of a wait between two looks at the buffer.
inline constexpr uint32_t kPollSliceMs = 20;

// Sleeps until bytes arrive in `buffer`, kPollSliceMs pass or the tick count reaches
// `deadline`, whichever is first. A buffer whose stream has ended answers at once; the rest of
// the slice is slept then, so a dead link never turns a wait into a busy loop. False, at once,
// when the buffer's source failed and nothing is left in it (FIFOStream::SourceLost): no byte
// can come, so the caller's wait ends now instead of at its deadline.
bool AwaitBytes(FIFOStream& buffer, uint32_t deadline);
