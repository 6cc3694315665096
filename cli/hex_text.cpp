#include "cli/hex_text.h"

#include <cctype>

namespace cli {

namespace {
int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool HasHexPrefix(const std::string& text) {
    return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}
}  // namespace

std::optional<std::vector<uint8_t>> ParseHex(const std::string& text) {
    std::string digits;
    size_t start = HasHexPrefix(text) ? 2 : 0;
    for (size_t i = start; i < text.size(); ++i) {
        char c = text[i];
        if (c == ' ' || c == ':' || c == '-' || c == '_') continue;
        if (Nibble(c) < 0) return std::nullopt;
        digits += c;
    }
    if (digits.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes(digits.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(Nibble(digits[2 * i]) * 16 + Nibble(digits[2 * i + 1]));
    }
    return bytes;
}

std::string ToHex(const std::vector<uint8_t>& bytes, const std::string& separator) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) out += separator;
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

std::optional<uint32_t> ParseWord(const std::string& text) {
    const bool hex = HasHexPrefix(text);
    const size_t start = hex ? 2 : 0;
    if (text.size() == start || text.size() - start > (hex ? 8u : 10u)) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        int d = hex ? Nibble(text[i])
                    : (std::isdigit(static_cast<unsigned char>(text[i])) ? text[i] - '0' : -1);
        if (d < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(d);
    }
    if (value > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<uint32_t>(value);
}

CLI::Validator HexBytes(size_t maxBytes) {
    return CLI::Validator(
        [maxBytes](std::string& text) -> std::string {
            auto bytes = ParseHex(text);
            if (!bytes) return "'" + text + "' is not hex bytes (pairs of digits 0-9, a-f)";
            if (bytes->size() > maxBytes) {
                return "at most " + std::to_string(maxBytes) + " bytes, got " +
                       std::to_string(bytes->size());
            }
            return {};
        },
        "");
}

CLI::Validator HexBytesExactly(size_t count) {
    return CLI::Validator(
        [count](std::string& text) -> std::string {
            auto bytes = ParseHex(text);
            if (!bytes) return "'" + text + "' is not hex bytes (pairs of digits 0-9, a-f)";
            if (bytes->size() != count) {
                return "exactly " + std::to_string(count) + " bytes (" + std::to_string(2 * count) +
                       " hex digits) needed, got " + std::to_string(bytes->size());
            }
            return {};
        },
        "");
}

CLI::Validator Word(uint32_t min, uint32_t max) {
    return CLI::Validator(
        [min, max](std::string& text) -> std::string {
            auto value = ParseWord(text);
            if (!value) return "'" + text + "' is not a decimal or 0x-hex number of 32 bits";
            if (*value < min || *value > max) {
                return std::to_string(*value) + " is outside " + std::to_string(min) + ".." +
                       std::to_string(max);
            }
            return {};
        },
        "");
}

}  // namespace cli
