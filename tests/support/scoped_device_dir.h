#pragma once
// A fresh temporary device directory for one test, handed to the code under test through
// Settings(); the directory and its entries are removed afterwards.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/settings.h"

class ScopedDeviceDir {
public:
    ScopedDeviceDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "caddora-dev-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~ScopedDeviceDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScopedDeviceDir(const ScopedDeviceDir&) = delete;
    ScopedDeviceDir& operator=(const ScopedDeviceDir&) = delete;

    const std::string& Path() const { return path_; }
    // Settings that point the code under test at this directory.
    platform::Settings Settings() const {
        platform::Settings settings;
        settings.deviceDir = path_;
        return settings;
    }
    std::string Entry(const std::string& name) const { return path_ + "/" + name; }
    // Adds `name` as a link to `target` (a pty slave, for example); returns the entry's path.
    std::string Link(const std::string& name, const std::string& target) const {
        std::filesystem::create_symlink(target, Entry(name));
        return Entry(name);
    }

private:
    std::string path_;
};
