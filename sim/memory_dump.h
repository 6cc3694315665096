#pragma once
// Files that show what reached the device, for tests and people:
//
//   <dir>/regions.txt             one line per written region: "<address, 8 hex digits>
//                                 <length, decimal> <file name>"
//   <dir>/region_<address>.bin    the region's bytes (address as 8 upper-case hex digits)
//   <dir>/bootmem.bin             the 64 bytes of boot memory at the time of the dump
//   <dir>/state.txt               "mode=<boot|patch|normal>", "frames=<n>", "bad_frames=<n>",
//                                 "resets=<n>", "ymodem_requested=<0|1>", one per line
//
// A journal file holds one FormatJournalLine line per frame.
#include <string>
#include <vector>

#include "sim/device_model.h"

namespace sim {

// Writes the dump of `model` into `dir` (created when missing), replacing an earlier dump
// there. Throws std::runtime_error when a file cannot be written.
void WriteMemoryDump(const std::string& dir, const DeviceModel& model);
// Reads the regions of a dump back. Throws std::runtime_error on a missing or broken dump.
SparseMemory ReadMemoryDump(const std::string& dir);

void WriteJournalFile(const std::string& path, const std::vector<JournalEntry>& journal);

}  // namespace sim
