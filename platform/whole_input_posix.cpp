#include "platform/whole_input.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/byte_stream.h"

namespace platform {

namespace {

std::string ErrnoText(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

bool ReadWholeInput(const std::string& path, std::vector<uint8_t>& data, int pipeWaitMs) {
    data.clear();
    // Non-blocking, so a named pipe without a writer cannot hold the open for ever.
    Fd in{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (in.fd < 0) throw StreamError(ErrnoText("cannot open", path, errno));
    struct stat st {};
    if (::fstat(in.fd, &st) != 0) throw StreamError(ErrnoText("cannot read", path, errno));
    if (S_ISDIR(st.st_mode)) throw StreamError("cannot read " + path + ": it is a directory");
    const bool pipe = S_ISFIFO(st.st_mode);
    if (!pipe && !S_ISREG(st.st_mode)) {
        throw StreamError("cannot read " + path + ": not a file or a pipe");
    }
    if (pipe) {
        pollfd p{in.fd, POLLIN, 0};
        int r;
        do {
            r = ::poll(&p, 1, pipeWaitMs);
        } while (r < 0 && errno == EINTR);
        if (r == 0) {
            throw StreamError("cannot read " + path + ": nothing arrived through the pipe within " +
                              std::to_string(pipeWaitMs / 1000) + " s");
        }
    }
    const int flags = ::fcntl(in.fd, F_GETFL);
    if (flags < 0 || ::fcntl(in.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        throw StreamError(ErrnoText("cannot read", path, errno));
    }
    // Read to the end whatever the size says: /proc files and pipes report 0.
    const auto expected = static_cast<size_t>(st.st_size);
    data.reserve(expected);
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = ::read(in.fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw StreamError(ErrnoText("cannot read", path, errno));
        if (n == 0) break;
        data.insert(data.end(), chunk, chunk + n);
    }
    return pipe || st.st_size == 0 || data.size() == expected;
}

}  // namespace platform
