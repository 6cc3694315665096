#include "platform/output_file.h"

#include <fcntl.h>
#include <io.h>

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/codepage.h"
#include "platform/output_file_shared.h"
#include "platform/utf8_paths.h"

namespace platform {

namespace {

using output_detail::ErrnoText;

// A name of 255 UTF-16 units at most, as NTFS and FAT allow.
constexpr size_t kNameLimit = 255;

// The system's own words for a Win32 error, as UTF-8 on one line.
std::string SystemErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n ? Utf16ToUtf8(std::u16string_view(reinterpret_cast<char16_t*>(text), n))
                        : "error " + std::to_string(error);
    if (text) LocalFree(text);
    while (!out.empty() &&
           (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) {
        out.pop_back();
    }
    return out;
}

std::wstring Wide(const std::filesystem::path& path) {
    return path.wstring();
}

// A name no other writer uses: "<name>.<pid>.<random>.part" next to the target, created
// exclusively, so an existing file is never taken over. Sets `error` when none could be created.
std::FILE* CreateTemporary(const std::filesystem::path& target, std::filesystem::path& temp,
                           DWORD& error) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    const std::filesystem::path folder = target.parent_path();
    output_detail::RemoveOrphanedTemporaries(folder, false);
    error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            folder / PathFromUtf8(output_detail::TemporaryName(
                         PathToUtf8(target.filename()), output_detail::CurrentProcessId(), rng(),
                         false, kNameLimit, output_detail::NameUnits::Utf16Units));
        const HANDLE handle = CreateFileW(Wide(candidate).c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
        std::FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
        if (!file) {
            if (fd >= 0) {
                _close(fd);
            } else {
                CloseHandle(handle);
            }
            DeleteFileW(Wide(candidate).c_str());
            error = ERROR_NOT_ENOUGH_MEMORY;
            return nullptr;
        }
        temp = candidate;
        return file;
    }
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
    std::filesystem::path path = PathFromUtf8(target);
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (std::filesystem::is_directory(status)) {
        throw StreamError("cannot write " + target + ": it is a directory");
    }
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        // A device such as CON or NUL: written in place, never replaced or removed.
        file_ = OpenFile(target, "wb");
        if (!file_) throw StreamError(ErrnoText("cannot write", target, errno));
        inPlace_ = true;
        finalPath_ = target;
        return;
    }
    if (path.filename().empty()) throw StreamError("cannot write " + target + ": not a file name");
    if (path.parent_path().empty()) path = std::filesystem::path(".") / path;
    finalPath_ = PathToUtf8(path);
    std::filesystem::path temp;
    DWORD error = 0;
    file_ = CreateTemporary(path, temp, error);
    if (!file_) {
        throw StreamError("cannot write " + target + ": cannot create a file in " +
                          PathToUtf8(path.parent_path()) + ": " + SystemErrorText(error));
    }
    tempPath_ = PathToUtf8(temp);
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
    if (!tempPath_.empty()) DeleteFileW(Wide(PathFromUtf8(tempPath_)).c_str());
    output_detail::Forget(pending_);
    pending_ = -1;
    tempPath_.clear();
}

void OutputFile::Commit() {
    if (!file_) throw StreamError("cannot write " + target_ + ": already closed");
    std::FILE* f = file_;
    file_ = nullptr;
    bool ok = std::fflush(f) == 0;
    std::string why = ok ? std::string() : std::strerror(errno);
    // The data reaches the disk before the name does, as fsync does on POSIX: a power cut
    // after the rename must not leave an empty or partial file under the target's name.
    if (ok && !inPlace_) {
        const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
        if (!FlushFileBuffers(handle)) {
            ok = false;
            why = SystemErrorText(GetLastError());
        }
    }
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        why = std::strerror(errno);
    }
    if (!ok) {
        Discard();
        throw StreamError("cannot write " + target_ + ": " + why);
    }
    if (inPlace_) return;
    // Replaces an existing target in one step; write-through returns once the new name is on
    // the disk.
    if (!MoveFileExW(Wide(PathFromUtf8(tempPath_)).c_str(), Wide(PathFromUtf8(finalPath_)).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = SystemErrorText(GetLastError());
        Discard();
        throw StreamError("cannot write " + target_ + ": " + why);
    }
    output_detail::Forget(pending_);
    pending_ = -1;
    tempPath_.clear();
}

namespace {

// The noted paths are UTF-8; the console handler runs on a thread of its own, where
// converting them is allowed.
std::wstring WideFromUtf8(const char* utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), n);
    return wide;
}

}  // namespace

void RemovePendingOutput() noexcept {
    output_detail::RemoveNotedPaths([](const char* p) { DeleteFileW(WideFromUtf8(p).c_str()); },
                                    [](const char* p) { RemoveDirectoryW(WideFromUtf8(p).c_str()); });
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
    return std::filesystem::equivalent(PathFromUtf8(a), PathFromUtf8(b), ec) && !ec;
}

}  // namespace platform
