#include "platform/output_file.h"

#include <fcntl.h>
#include <io.h>

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/output_file_shared.h"

namespace platform {

namespace {

using output_detail::ErrnoText;

// A name of 255 UTF-16 units at most, as NTFS and FAT allow.
constexpr size_t kNameLimit = 255;

// A name no other writer uses: "<name>.<pid>.<random>.part" next to the target, created
// exclusively.
std::FILE* CreateTemporary(const std::filesystem::path& target, std::string& tempPath) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    const std::filesystem::path folder = target.parent_path();
    output_detail::RemoveOrphanedTemporaries(folder, false);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            folder / output_detail::TemporaryName(target.filename().string(),
                                                  output_detail::CurrentProcessId(), rng(), false,
                                                  kNameLimit, output_detail::NameUnits::Utf16Units);
        // "x": fails when the name exists, so an existing file is never taken over.
        std::FILE* file = std::fopen(candidate.string().c_str(), "wbx");
        if (file) {
            tempPath = candidate.string();
            return file;
        }
        if (errno != EEXIST) return nullptr;
    }
    errno = EEXIST;
    return nullptr;
}

}  // namespace

OutputFile::OutputFile(const std::string& target) : target_(target) {
    if (target.empty()) throw StreamError("no output file named");
    if (NamesStandardOutput(target)) {
        // Its own descriptor in binary mode, so the rows keep their CR LF as they are.
        const int fd = _dup(_fileno(stdout));
        file_ = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
        if (!file_) {
            const int error = errno;
            if (fd >= 0) _close(fd);
            throw StreamError(ErrnoText("cannot write", target, error));
        }
        _setmode(fd, _O_BINARY);
        inPlace_ = true;
        finalPath_ = target;
        return;
    }
    std::error_code ec;
    const auto status = std::filesystem::status(target, ec);
    if (std::filesystem::is_directory(status)) {
        throw StreamError("cannot write " + target + ": it is a directory");
    }
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        // A device such as CON or NUL: written in place, never replaced or removed.
        file_ = std::fopen(target.c_str(), "wb");
        if (!file_) throw StreamError(ErrnoText("cannot write", target, errno));
        inPlace_ = true;
        finalPath_ = target;
        return;
    }
    std::filesystem::path path = target;
    if (path.filename().empty()) throw StreamError("cannot write " + target + ": not a file name");
    if (path.parent_path().empty()) path = std::filesystem::path(".") / path;
    finalPath_ = path.string();
    file_ = CreateTemporary(path, tempPath_);
    if (!file_) {
        throw StreamError(ErrnoText("cannot write " + target + ": cannot create a file in",
                                    path.parent_path().string(), errno));
    }
    pending_ = output_detail::Note(tempPath_, false);
}

OutputFile::~OutputFile() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    Discard();
}

void OutputFile::Discard() {
    // Removed before it is forgotten, so an interrupt in between still removes it.
    if (!tempPath_.empty()) std::remove(tempPath_.c_str());
    output_detail::Forget(pending_);
    pending_ = -1;
    tempPath_.clear();
}

void OutputFile::Commit() {
    if (!file_) throw StreamError("cannot write " + target_ + ": already closed");
    std::FILE* f = file_;
    file_ = nullptr;
    bool ok = std::fflush(f) == 0;
    int error = errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        Discard();
        throw StreamError(ErrnoText("cannot write", target_, error));
    }
    if (inPlace_) return;
    // Replaces an existing target in one step (MoveFileEx with replace).
    std::error_code ec;
    std::filesystem::rename(tempPath_, finalPath_, ec);
    if (ec) {
        Discard();
        throw StreamError("cannot write " + target_ + ": " + ec.message());
    }
    output_detail::Forget(pending_);
    pending_ = -1;
    tempPath_.clear();
}

namespace {

// The noted paths are UTF-8; the console handler runs on a thread of its own, where
// converting them is allowed.
std::wstring Wide(const char* utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), n);
    return wide;
}

}  // namespace

void RemovePendingOutput() noexcept {
    output_detail::RemoveNotedPaths([](const char* p) { DeleteFileW(Wide(p).c_str()); },
                                    [](const char* p) { RemoveDirectoryW(Wide(p).c_str()); });
}

namespace output_detail {

uint64_t CurrentProcessId() {
    return GetCurrentProcessId();
}

bool ProcessAlive(uint64_t pid) {
    if (pid > 0xFFFFFFFFull) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!process) {
        // Refused: it runs under another user. Otherwise there is no such process.
        return GetLastError() == ERROR_ACCESS_DENIED;
    }
    // A handle may still open an ended process that others hold open.
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

}  // namespace output_detail

bool NamesStandardOutput(const std::string& path) {
    return path == "-";
}

bool SameExistingFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace platform
