#pragma once
// The record of every good frame the device received, and its one-line text form:
//
//   <sequence> <class> <id> <payload length> <payload hex>
//
// e.g. "3 F4 05 1030 00600200 0000 ..." without the blanks inside the hex: sequence decimal
// from 1, class and id as two upper-case hex digits, the length decimal, the payload as
// lower-case hex digits without separators, or "-" for an empty payload. When the journal's
// payload budget is used up, later payloads are not kept and the line ends in "-" with
// `payloadDropped` set (the length still tells the real size).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct JournalEntry {
    uint32_t sequence = 0;
    uint8_t msgClass = 0;
    uint8_t msgId = 0;
    uint32_t payloadLength = 0;
    std::vector<uint8_t> payload;  // empty when dropped
    bool payloadDropped = false;

    uint16_t Code() const { return static_cast<uint16_t>(msgClass << 8 | msgId); }
};

std::string FormatJournalLine(const JournalEntry& entry);
// Inverse of FormatJournalLine; nothing on a malformed line.
std::optional<JournalEntry> ParseJournalLine(std::string_view line);
// Reads a whole journal file, skipping malformed lines. Throws std::runtime_error when the file
// cannot be read.
std::vector<JournalEntry> ReadJournalFile(const std::string& path);

std::string ToHex(const uint8_t* data, size_t size);

}  // namespace sim
