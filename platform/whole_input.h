#pragma once
// Reading a whole input into memory: a regular file, a file whose size the system does not
// know (/proc), or a pipe (read to its end). Opening never blocks: a named pipe without a
// writer is given `pipeWaitMs` to get one and deliver its first bytes.
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

inline constexpr int kPipeWaitMs = 5000;

// True when the whole input was read. False when a regular file ended before or went on past
// the size it had when opened (it changed while being read). Throws StreamError when the input
// cannot be opened or read, or is neither a file nor a pipe.
bool ReadWholeInput(const std::string& path, std::vector<uint8_t>& data,
                    int pipeWaitMs = kPipeWaitMs);

}  // namespace platform
