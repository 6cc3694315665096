#pragma once
// The flash area the point import reads, from the two hidden settings texts: the start address
// (hexadecimal, blanks around it allowed; text that does not parse means 0) and the length in
// bytes (decimal, unsigned 32-bit). The area is read one record of 192 bytes per request, the
// last request taking what is left.
#include <cstdint>
#include <optional>
#include <string_view>

struct PointArea {
    uint32_t start = 0;
    uint32_t length = 0;

    // Requests needed: length / 192 rounded up.
    uint32_t RecordCount() const;
    // Flash address and byte count of request i (i < RecordCount()).
    uint32_t RequestAddress(uint32_t i) const;
    uint16_t RequestLength(uint32_t i) const;
};

// Decimal text of an unsigned 32-bit number, blanks around it allowed; nothing otherwise.
std::optional<uint32_t> ParseAreaLength(std::string_view text);
// Hexadecimal text (optionally "0x"), blanks around it allowed; 0 for anything else.
uint32_t ParseAreaStart(std::string_view text);
