#pragma once
// A file the tool writes, never destroyed by a failed write. A regular file (or a new one) is
// written as a temporary file in the target's folder and renamed over the target by Commit();
// without a Commit the temporary file is removed and the target stays as it was. The
// temporary's name carries the writer's process id, so that the next output into the folder
// removes the temporaries of writers that were killed outright. A link is
// followed, so the file it names is replaced and the link stays. A device or a pipe (for
// example /dev/stdout) is written in place, since it cannot be replaced; nothing is removed
// then either. A directory is refused. "-" and any name of the standard output itself (for
// example /dev/stdout) write to the standard output in place.
#include <cstdio>
#include <string>

#include "platform/byte_stream.h"

namespace platform {

class OutputFile {
public:
    // Throws StreamError with a text naming `target` when it cannot be written.
    explicit OutputFile(const std::string& target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Where to write until Commit().
    std::FILE* Stream() const { return file_; }
    // Flushes, syncs and closes the data and puts it in place. Throws StreamError.
    void Commit();
    // Whether the target is written in place (device, pipe) rather than replaced.
    bool InPlace() const { return inPlace_; }
    const std::string& Target() const { return target_; }

private:
    void Discard();

    std::string target_;
    std::string finalPath_;  // the target with links resolved
    std::string tempPath_;   // empty when writing in place
    std::FILE* file_ = nullptr;
    bool inPlace_ = false;
    int pending_ = -1;  // the temporary's place among the paths RemovePendingOutput removes
};

// While it lives, a path that RemovePendingOutput removes: a file, or a folder (after the
// files, and only when empty by then). For scratch files and folders of the program's own.
class RemovedOnAbruptEnd {
public:
    RemovedOnAbruptEnd(const std::string& path, bool folder);
    ~RemovedOnAbruptEnd();
    RemovedOnAbruptEnd(const RemovedOnAbruptEnd&) = delete;
    RemovedOnAbruptEnd& operator=(const RemovedOnAbruptEnd&) = delete;

private:
    int handle_;
};

// Removes the temporary files of the outputs being written and the paths noted by
// RemovedOnAbruptEnd, so a program that ends at once on a second interrupt leaves nothing
// behind. Async-signal-safe.
void RemovePendingOutput() noexcept;

// "-", or a path that opens the very file the standard output is (POSIX: /dev/stdout,
// /dev/fd/1, or the file the output was redirected into).
bool NamesStandardOutput(const std::string& path);

// True when both paths name the same existing file, also through links or hard links.
bool SameExistingFile(const std::string& a, const std::string& b);

}  // namespace platform
