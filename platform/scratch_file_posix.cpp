#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/byte_stream.h"
#include "platform/scratch_file.h"

namespace platform {

std::FILE* OpenScratchFile() {
    std::error_code ec;
    const std::string folder = std::filesystem::temp_directory_path(ec).string();
    if (ec) throw StreamError("cannot find the temporary folder: " + ec.message());
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A file system without nameless files: a named one, unlinked at once.
        std::string name = folder + "/caddora-scratch-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) ::unlink(name.c_str());
    }
    std::FILE* file = fd >= 0 ? ::fdopen(fd, "w+b") : nullptr;
    if (!file) {
        const int error = errno;
        if (fd >= 0) ::close(fd);
        throw StreamError("cannot create a scratch file in " + folder + ": " +
                          std::strerror(error));
    }
    return file;
}

}  // namespace platform
