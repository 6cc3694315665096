#pragma once
// A fresh folder in the system's temporary folder, removed with everything in it when the object
// goes (also after a test took its permissions away), and whole-file helpers.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

#ifdef _WIN32
#include "platform/utf8_paths.h"
#endif

namespace testsupport {

class ScratchDir {
public:
    explicit ScratchDir(const std::string& tag = "test") {
#ifdef _WIN32
        // No mkdtemp: a random name, made by the one call that fails when it exists.
        std::random_device random;
        for (int i = 0; i < 100 && path_.empty(); ++i) {
            const auto candidate = std::filesystem::temp_directory_path() /
                                   ("caddora-" + tag + "-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) path_ = candidate;
        }
        if (path_.empty()) throw std::runtime_error("cannot create a scratch folder");
#else
        std::string pattern =
            (std::filesystem::temp_directory_path() / ("caddora-" + tag + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create " + pattern);
        path_ = pattern;
#endif
    }
    ~ScratchDir() {
        std::error_code ec;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ec)) {
            if (entry.is_directory(ec)) {
                std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ec);
            }
        }
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const {
        return path_;
    }
    // Paths are UTF-8 text, as the program takes them.
    std::string operator/(const std::string& name) const {
#ifdef _WIN32
        return platform::PathToUtf8(path_ / platform::PathFromUtf8(name));
#else
        return (path_ / name).string();
#endif
    }
    // Writes `bytes` to NAME in the folder; returns its path.
    std::string Write(const std::string& name, std::string_view bytes) const;

private:
    std::filesystem::path path_;
};

// The whole file as bytes; empty when it cannot be read.
inline std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Replaces the file with `bytes`; throws when it cannot.
inline void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

inline std::string ScratchDir::Write(const std::string& name, std::string_view bytes) const {
    const std::string path = *this / name;
    WriteFile(path, bytes);
    return path;
}

}  // namespace testsupport
