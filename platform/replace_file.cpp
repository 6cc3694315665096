#include "platform/replace_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

namespace platform {

namespace {

namespace fs = std::filesystem;
using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Opens a temporary file beside `target` that did not exist before ("x": exclusive create), so
// that nothing of someone else's is ever overwritten or removed.
File CreateTemporary(const fs::path& target, fs::path& temporary) {
    std::random_device seed;
    std::mt19937 rng(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = target;
        temporary += ".tmp" + std::to_string(rng() % 1000000);
        File file(std::fopen(temporary.string().c_str(), "wbx"), &std::fclose);
        if (file || errno != EEXIST) return file;
    }
    return File(nullptr, &std::fclose);
}

}  // namespace

bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& error) {
    fs::path temporary;
    File file = CreateTemporary(fs::path(path), temporary);
    if (!file) {
        error = "cannot create a file beside " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(file.release()) == 0;
    std::error_code ec;
    if (!written || !closed) {
        error = "cannot write " + temporary.string() + ": " +
                std::strerror(written ? errno : writeErrno);
        fs::remove(temporary, ec);
        return false;
    }
    fs::rename(temporary, path, ec);
    if (ec) {
        error = "cannot rename " + temporary.string() + " to " + path + ": " + ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

}  // namespace platform
