#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/output_file_shared.h"

namespace platform {

namespace {

using output_detail::ClearPending;
using output_detail::ErrnoText;
using output_detail::NotePending;

// A name no other writer uses: ".<name>.<random>.part" next to the target.
int CreateTemporary(const std::filesystem::path& target, std::string& tempPath) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    const std::filesystem::path folder = target.parent_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[20];
        std::snprintf(suffix, sizeof suffix, "%012llx",
                      static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFull));
        // Appended piece by piece: GCC 12 at -O3 misreads `"." + std::string` as an
        // overlapping copy (-Wrestrict).
        std::string name = ".";
        name.append(target.filename().string()).append(".").append(suffix).append(".part");
        const std::filesystem::path candidate = folder / name;
        // 0666: the umask decides, as for any file the user creates.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            tempPath = candidate.string();
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

OutputFile::OutputFile(const std::string& target) : target_(target) {
    if (target.empty()) throw StreamError("no output file named");
    if (NamesStandardOutput(target)) {
        // Its own descriptor, so closing the file leaves the program's output open.
        const int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        file_ = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        if (!file_) {
            const int error = errno;
            if (fd >= 0) ::close(fd);
            throw StreamError(ErrnoText("cannot write", target, error));
        }
        inPlace_ = true;
        finalPath_ = target;
        return;
    }
    std::filesystem::path path = target;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw StreamError("cannot write " + target + ": it is a directory");
        if (!S_ISREG(st.st_mode)) {
            // A device or a pipe: written in place, never replaced or removed.
            const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0) throw StreamError(ErrnoText("cannot write", target, errno));
            file_ = ::fdopen(fd, "wb");
            if (!file_) {
                ::close(fd);
                throw StreamError(ErrnoText("cannot write", target, errno));
            }
            inPlace_ = true;
            finalPath_ = target;
            return;
        }
        std::error_code ec;
        path = std::filesystem::canonical(target, ec);  // a link: replace what it names
        if (ec) throw StreamError("cannot write " + target + ": " + ec.message());
    } else if (errno != ENOENT) {
        throw StreamError(ErrnoText("cannot write", target, errno));
    } else if (::lstat(target.c_str(), &st) == 0) {
        throw StreamError("cannot write " + target + ": it is a link to a missing file");
    }
    if (path.filename().empty()) throw StreamError("cannot write " + target + ": not a file name");
    if (path.parent_path().empty()) path = std::filesystem::path(".") / path;
    finalPath_ = path.string();
    const int fd = CreateTemporary(path, tempPath_);
    if (fd < 0) {
        const int error = errno;
        const std::string folder = path.parent_path().string();
        throw StreamError(
            ErrnoText("cannot write " + target + ": cannot create a file in", folder, error));
    }
    NotePending(tempPath_);
    struct stat old {};
    // A replaced file keeps its permissions.
    if (::stat(finalPath_.c_str(), &old) == 0) (void)::fchmod(fd, old.st_mode & 07777);
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        const int error = errno;
        ::close(fd);
        Discard();
        throw StreamError(ErrnoText("cannot write", target, error));
    }
}

OutputFile::~OutputFile() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    Discard();
}

void OutputFile::Discard() {
    ClearPending(tempPath_);
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    tempPath_.clear();
}

void OutputFile::Commit() {
    if (!file_) throw StreamError("cannot write " + target_ + ": already closed");
    std::FILE* f = file_;
    file_ = nullptr;
    bool ok = std::fflush(f) == 0;
    int error = errno;
    // Data on disk before the name points at it, so a crash never leaves a cut file behind.
    if (ok && !inPlace_ && ::fsync(::fileno(f)) != 0) {
        ok = false;
        error = errno;
    }
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        Discard();
        throw StreamError(ErrnoText("cannot write", target_, error));
    }
    if (inPlace_) return;
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        error = errno;
        Discard();
        throw StreamError(ErrnoText("cannot write", target_, error));
    }
    ClearPending(tempPath_);
    tempPath_.clear();
}

void RemovePendingOutput() noexcept {
    if (const char* p = output_detail::TakePending()) ::unlink(p);
}

bool NamesStandardOutput(const std::string& path) {
    if (path == "-") return true;
    struct stat named {};
    struct stat output {};
    return ::stat(path.c_str(), &named) == 0 && ::fstat(STDOUT_FILENO, &output) == 0 &&
           named.st_dev == output.st_dev && named.st_ino == output.st_ino;
}

bool SameExistingFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace platform
