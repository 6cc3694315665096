#pragma once
// One JSON object per line for --json output: a tiny writer for flat objects of strings,
// numbers and booleans.
#include <cstdint>
#include <string>
#include <string_view>

namespace cli {

// The text as a JSON string literal (quotes included); control bytes, NUL among them, become
// \uXXXX escapes, each byte that is not part of well-formed UTF-8 becomes \ufffd, other
// UTF-8 passes unchanged.
std::string JsonString(std::string_view text);

class JsonLine {
public:
    JsonLine& Add(std::string_view key, std::string_view value);
    JsonLine& Add(std::string_view key, const char* value) {
        return Add(key, std::string_view(value));
    }
    JsonLine& Add(std::string_view key, int64_t value);
    JsonLine& Add(std::string_view key, double value);
    JsonLine& Add(std::string_view key, bool value);
    // `json` as it stands: an array, null, or any value built by the caller.
    JsonLine& AddRaw(std::string_view key, std::string_view json);
    // The object, without a line end.
    std::string Str() const { return "{" + body_ + "}"; }

private:
    void Key(std::string_view key);
    std::string body_;
};

}  // namespace cli
