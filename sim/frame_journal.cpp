#include "sim/frame_journal.h"

#include <charconv>
#include <fstream>
#include <stdexcept>

namespace sim {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Next blank-separated token of `line` from `pos`.
std::string_view NextToken(std::string_view line, size_t& pos) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    size_t start = pos;
    while (pos < line.size() && line[pos] != ' ') ++pos;
    return line.substr(start, pos - start);
}

template <typename T>
bool ParseNumber(std::string_view text, T& value, int base = 10) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string ToHex(const uint8_t* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out(size * 2, '0');
    for (size_t i = 0; i < size; ++i) {
        out[2 * i] = kDigits[data[i] >> 4];
        out[2 * i + 1] = kDigits[data[i] & 15];
    }
    return out;
}

std::string FormatJournalLine(const JournalEntry& e) {
    static const char kUpper[] = "0123456789ABCDEF";
    std::string line = std::to_string(e.sequence);
    line += ' ';
    line += kUpper[e.msgClass >> 4];
    line += kUpper[e.msgClass & 15];
    line += ' ';
    line += kUpper[e.msgId >> 4];
    line += kUpper[e.msgId & 15];
    line += ' ';
    line += std::to_string(e.payloadLength);
    line += ' ';
    line += e.payload.empty() ? std::string("-") : ToHex(e.payload.data(), e.payload.size());
    return line;
}

std::optional<JournalEntry> ParseJournalLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    size_t pos = 0;
    JournalEntry e;
    uint32_t cls = 0;
    uint32_t id = 0;
    std::string_view seq = NextToken(line, pos);
    std::string_view clsText = NextToken(line, pos);
    std::string_view idText = NextToken(line, pos);
    std::string_view lenText = NextToken(line, pos);
    std::string_view hex = NextToken(line, pos);
    if (!NextToken(line, pos).empty()) return std::nullopt;
    if (!ParseNumber(seq, e.sequence) || clsText.size() != 2 || !ParseNumber(clsText, cls, 16) ||
        idText.size() != 2 || !ParseNumber(idText, id, 16) ||
        !ParseNumber(lenText, e.payloadLength) || hex.empty()) {
        return std::nullopt;
    }
    e.msgClass = static_cast<uint8_t>(cls);
    e.msgId = static_cast<uint8_t>(id);
    if (hex == "-") {
        e.payloadDropped = e.payloadLength != 0;
        return e;
    }
    if (hex.size() != 2 * size_t{e.payloadLength}) return std::nullopt;
    e.payload.resize(e.payloadLength);
    for (size_t i = 0; i < e.payload.size(); ++i) {
        int hi = HexValue(hex[2 * i]);
        int lo = HexValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        e.payload[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return e;
}

std::vector<JournalEntry> ReadJournalFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read journal " + path);
    std::vector<JournalEntry> out;
    std::string line;
    while (std::getline(in, line)) {
        if (auto e = ParseJournalLine(line)) out.push_back(std::move(*e));
    }
    return out;
}

}  // namespace sim
