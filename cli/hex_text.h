#pragma once
// Hex and number texts on the command line.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Pairs of hex digits; spaces, ':', '-' and '_' may separate them and "0x" may lead.
// Empty text gives no bytes. Nothing on malformed text.
std::optional<std::vector<uint8_t>> ParseHex(const std::string& text);
// Lower-case pairs with `separator` between them.
std::string ToHex(const std::vector<uint8_t>& bytes, const std::string& separator = " ");
// Decimal, or hex with "0x"; nothing when malformed or beyond 32 bits.
std::optional<uint32_t> ParseWord(const std::string& text);

// Validators for options, so that bad text is a usage error.
CLI::Validator HexBytes(size_t maxBytes);
CLI::Validator HexBytesExactly(size_t count);
CLI::Validator Word(uint32_t min = 0, uint32_t max = 0xFFFFFFFF);

}  // namespace cli
