#pragma once
// A fresh temporary device directory for one test: CADDORA_DEVICE_DIR points at it while the
// object lives; the directory and its entries are removed afterwards.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

class ScopedDeviceDir {
public:
    ScopedDeviceDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "caddora-dev-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
        if (const char* old = ::getenv("CADDORA_DEVICE_DIR")) previous_ = old;
        ::setenv("CADDORA_DEVICE_DIR", path_.c_str(), 1);
    }
    ~ScopedDeviceDir() {
        if (previous_) {
            ::setenv("CADDORA_DEVICE_DIR", previous_->c_str(), 1);
        } else {
            ::unsetenv("CADDORA_DEVICE_DIR");
        }
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScopedDeviceDir(const ScopedDeviceDir&) = delete;
    ScopedDeviceDir& operator=(const ScopedDeviceDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string Entry(const std::string& name) const { return path_ + "/" + name; }
    // Adds `name` as a link to `target` (a pty slave, for example); returns the entry's path.
    std::string Link(const std::string& name, const std::string& target) const {
        std::filesystem::create_symlink(target, Entry(name));
        return Entry(name);
    }

private:
    std::string path_;
    std::optional<std::string> previous_;
};
