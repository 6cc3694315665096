#include "platform/whole_input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/byte_stream.h"
#include "platform/utf8_paths.h"

namespace platform {

// Windows inputs are files (its pipes are not in the file system), so there is nothing to wait
// for: the file is read to its end and compared with the size it had when opened.
bool ReadWholeInput(const std::string& path, std::vector<uint8_t>& data, int /*pipeWaitMs*/) {
    data.clear();
    std::error_code ec;
    if (std::filesystem::is_directory(PathFromUtf8(path), ec)) {
        throw StreamError("cannot read " + path + ": it is a directory");
    }
    std::FILE* in = OpenFile(path, "rb");
    if (!in) throw StreamError("cannot open " + path + ": " + std::strerror(errno));
    const auto size = std::filesystem::file_size(PathFromUtf8(path), ec);
    const size_t expected = ec ? 0 : static_cast<size_t>(size);
    data.reserve(expected);
    uint8_t chunk[65536];
    bool failed = false;
    for (;;) {
        const size_t n = std::fread(chunk, 1, sizeof chunk, in);
        data.insert(data.end(), chunk, chunk + n);
        if (n < sizeof chunk) {
            failed = std::ferror(in) != 0;
            break;
        }
    }
    std::fclose(in);
    if (failed) throw StreamError("cannot read " + path);
    return expected == 0 || data.size() == expected;
}

}  // namespace platform
