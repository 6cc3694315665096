#include "cli/preflight.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "app/course_file_table.h"
#include "platform/file_access.h"
#include "platform/output_file.h"
#include "platform/utf8_paths.h"
#include "transfer/packed_file.h"
#include "transfer/ymodem.h"
#include "transfer/ymodem_blocks.h"

namespace cli {

namespace fs = std::filesystem;

namespace {

const char* KindName(fs::file_type type) {
    switch (type) {
        case fs::file_type::directory:
            return "a directory";
        case fs::file_type::fifo:
            return "a named pipe";
        case fs::file_type::character:
        case fs::file_type::block:
            return "a device";
        case fs::file_type::socket:
            return "a socket";
        default:
            return "not a regular file";
    }
}

// The input exists and can be read; `pipeAllowed` for inputs that are read once to their end.
std::string CheckInput(const std::string& path, bool pipeAllowed) {
    std::error_code ec;
    const fs::file_status st = fs::status(platform::PathFromUtf8(path), ec);
    if (ec || !fs::exists(st)) {
        return "cannot open " + path + ": " +
               (ec ? ec.message() : std::string("No such file or directory"));
    }
    const bool accepted = fs::is_regular_file(st) || (pipeAllowed && fs::is_fifo(st));
    if (!accepted) {
        return "cannot read " + path + ": it is " + KindName(st.type()) +
               (pipeAllowed ? "; give a file or a pipe" : "; give a regular file");
    }
    if (const std::string why = platform::OpenForReadingProblem(path); !why.empty()) {
        return "cannot open " + path + ": " + why;
    }
    return {};
}

// The output can be written: not a directory, not the input, in a folder that exists.
std::string CheckOutput(const std::string& path, const std::string& input) {
    if (path.empty()) return "no output file named";
    const fs::path file = platform::PathFromUtf8(path);
    std::error_code ec;
    const fs::file_status st = fs::status(file, ec);
    if (fs::exists(st)) {
        if (fs::is_directory(st)) return "cannot write " + path + ": it is a directory";
        if (!input.empty() && platform::SameExistingFile(input, path)) {
            return "cannot write " + path + ": it is the input file";
        }
        return {};
    }
    if (ec && ec != std::errc::no_such_file_or_directory) {
        return "cannot write " + path + ": " + ec.message();
    }
    if (fs::is_symlink(fs::symlink_status(file, ec))) {
        return "cannot write " + path + ": it is a link to a missing file";
    }
    fs::path folder = file.parent_path();
    if (folder.empty()) folder = ".";
    const std::string folderText = platform::PathToUtf8(folder);
    const fs::file_status fst = fs::status(folder, ec);
    if (!fs::exists(fst))
        return "cannot write " + path + ": the folder " + folderText + " does not exist";
    if (!fs::is_directory(fst)) {
        return "cannot write " + path + ": " + folderText + " is not a folder";
    }
    if (const std::string why = platform::CreateInFolderProblem(folderText); !why.empty()) {
        return "cannot write " + path + ": cannot create files in " + folderText + ": " + why;
    }
    return {};
}

std::string AcceptedCourseNames() {
    std::string names;
    for (const CourseFileEntry& entry : kCourseFileTable) {
        if (!names.empty()) names += ", ";
        names += entry.fileName;
    }
    return names;
}

// The packed file judged as the firmware jobs judge it (digest, package type, limits), read in
// bounded memory before any navigator is looked for: a bad file is the user's first problem,
// and checking it costs the navigator nothing. `byFrames`: the boot loader's firmware write,
// which needs an image after the digest; otherwise YMODEM, bounded by its block count.
std::string CheckPackedFirmware(const std::string& file, bool byFrames) {
    using transfer::PackedHeaderStatus;
    using transfer::UnpackStatus;
    const std::string refused = "cannot send " + file + " as firmware: ";
    const transfer::PackedFile packed =
        transfer::ScanPackedFile(file, byFrames ? transfer::PackedFileRules::FirmwareByFrames()
                                                : transfer::PackedFileRules::FirmwareByYmodem());
    if (packed.header.status == PackedHeaderStatus::CannotOpen) {
        return "cannot open " + file + ": " + packed.header.error;
    }
    if (packed.header.status == PackedHeaderStatus::TooLarge) {
        return refused + "Input file is too large (over " +
               std::to_string(transfer::kMaxFirmwarePackedLength) + " bytes)";
    }
    if (!packed.header.ok()) return refused + transfer::Describe(packed.header.status);
    constexpr int64_t kMaxYmodemPayload =
        int64_t{transfer::kYmodemMaxDataBlocks} * transfer::kYmodemDataPayload;
    const int64_t payload = packed.content.contentLength - int64_t{transfer::kPackedDigestSize};
    switch (packed.content.status) {
        case UnpackStatus::Ok:
            if (byFrames && payload <= 0) {
                return refused + "Incorrect checksum (a digest without an image)";
            }
            if (!byFrames && payload > kMaxYmodemPayload) {
                return refused + "the payload of " + std::to_string(payload) +
                       " bytes is larger than 65,535 YMODEM blocks";
            }
            return {};
        case UnpackStatus::OverLimit:
            return refused + "Input file is too large (" +
                   transfer::Describe(UnpackStatus::OverLimit) + ")";
        case UnpackStatus::ReadError:
            return "cannot read " + file + ": " + packed.content.error;
        default:
            return refused + "Incorrect checksum (" + transfer::Describe(packed.content.status) +
                   ")";
    }
}

}  // namespace

std::string PreflightInfo(const std::string& file) {
    return CheckInput(file, false);
}

std::string PreflightUnpack(const std::string& input, const std::string& output) {
    std::string refusal = CheckInput(input, false);
    if (refusal.empty()) refusal = CheckOutput(output, input);
    return refusal;
}

std::string PreflightPack(const std::string& input, const std::string& output) {
    std::string refusal = CheckInput(input, true);
    if (refusal.empty()) refusal = CheckOutput(output, input);
    return refusal;
}

std::string PreflightWriteFirmware(const std::string& file) {
    if (std::string refusal = CheckInput(file, false); !refusal.empty()) return refusal;
    return CheckPackedFirmware(file, true);
}

std::string PreflightYmodem(const std::string& file) {
    if (std::string refusal = CheckInput(file, false); !refusal.empty()) return refusal;
    return CheckPackedFirmware(file, false);
}

std::string PreflightWriteCourse(const std::string& file) {
    if (std::string refusal = CheckInput(file, false); !refusal.empty()) return refusal;
    const std::string_view name = CourseFileName(file);
    const std::optional<uint32_t> address = CourseFileAddress(name);
    if (!address) {
        const std::string why = CourseFileKind(file) == kKroTypePacked
                                    ? "a packed file (.ckfm) holds no course data of its own"
                                    : "the name decides where it goes and is not one of them";
        return "cannot write " + file + " as course data: " + why +
               "; accepted names (exact case): " + AcceptedCourseNames();
    }
    if (CourseFileKind(file) == kKroTypeRaw) {
        std::error_code ec;
        const uintmax_t size = fs::file_size(platform::PathFromUtf8(file), ec);
        const uint64_t slot = CourseFileSlotSize(name);
        if (!ec && size > slot) {
            return "cannot write " + file + " as course data: " + std::to_string(size) +
                   " bytes do not fit its flash area of " + std::to_string(slot) + " bytes";
        }
    }
    return {};
}

CLI::Validator ExistingFile() {
    return CLI::Validator(
        [](std::string& path) {
            std::error_code ec;
            const fs::file_status st = fs::status(platform::PathFromUtf8(path), ec);
            if (ec || !fs::exists(st)) return "File does not exist: " + path;
            if (fs::is_directory(st)) return "File is actually a directory: " + path;
            return std::string();
        },
        "FILE");
}

std::string PreflightImportPoints(const std::string& out) {
    return out.empty() ? std::string() : CheckOutput(out, "");
}

}  // namespace cli
