#include "transfer/packing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <stdexcept>

#include "platform/output_file.h"
#include "platform/whole_input.h"
#include "transfer/boot_program.h"
#include "transfer/gzip_writer.h"
#include "transfer/md5.h"
#include "transfer/packed_file.h"

namespace transfer {

namespace {

constexpr size_t kMaxSubHeader = 0xFFFF;
constexpr int32_t kReadPiece = 100;

// The output is written beside the target and put in place only when complete, so a failure
// leaves whatever the path named untouched. Naming the input as output is refused.
std::unique_ptr<platform::OutputFile> CreateOutput(const std::string& output,
                                                   const std::string& input) {
    if (platform::SameExistingFile(input, output)) {
        throw platform::StreamError("the output " + output + " is the input file");
    }
    return std::make_unique<platform::OutputFile>(output);
}

void WriteAll(std::FILE* out, const uint8_t* bytes, size_t count) {
    if (count > 0 && std::fwrite(bytes, 1, count, out) != count) {
        throw platform::StreamError(std::string("cannot write the packed file: ") +
                                    std::strerror(errno));
    }
}

// Preamble, sub-header, and the gzip stream of digest and payload. The payload may come in
// pieces (image prefix and firmware), so it is never joined into one copy.
void WritePacked(std::FILE* out, std::span<const uint8_t> subHeader,
                 std::initializer_list<std::span<const uint8_t>> payload) {
    if (subHeader.size() > kMaxSubHeader) {
        throw std::invalid_argument("the sub-header is longer than 65,535 bytes");
    }
    const uint8_t preamble[4] = {kPackedMagic0, kPackedMagic1,
                                 static_cast<uint8_t>(subHeader.size() >> 8),
                                 static_cast<uint8_t>(subHeader.size() & 0xFF)};
    WriteAll(out, preamble, sizeof preamble);
    WriteAll(out, subHeader.data(), subHeader.size());

    Md5Hasher hasher;
    for (auto piece : payload) hasher.Update(piece);
    const Md5Digest digest = hasher.Final();

    GZipWriter gzip(out);
    gzip.Write(digest);
    for (auto piece : payload) gzip.Write(piece);
    gzip.Finish();
}

void CheckBootCodeOffset(uint32_t offset) {
    if (offset < kMinBootCodeOffset || offset > kMaxBootCodeOffset) {
        throw std::invalid_argument("bootCodeOffset " + std::to_string(offset) +
                                    " is outside 64..62740");
    }
}

}  // namespace

boot_block CompleteBootBlock(const boot_block& caller, std::span<const uint8_t> firmware) {
    boot_block block = caller;
    block.magic = kBootBlockMagic;
    block.bootCodeSize = kBootCodeSize;
    block.entryAddress = kBootEntryAddress;
    CheckBootCodeOffset(block.bootCodeOffset);
    if (firmware.size() < 8) {
        throw std::invalid_argument("the firmware file is shorter than 8 bytes");
    }
    block.firmwareEntry = firmware[4] | (firmware[5] << 8) | (firmware[6] << 16) |
                          (static_cast<uint32_t>(firmware[7]) << 24);
    block.headerCrc = BootBlockHeaderCrc(block);
    return block;
}

std::vector<uint8_t> BuildImagePrefix(const boot_block& complete) {
    return BuildImagePrefix(complete, BootProgramFor(complete.referenceClock));
}

std::vector<uint8_t> BuildImagePrefix(const boot_block& complete,
                                      std::span<const uint8_t> bootProgram) {
    CheckBootCodeOffset(complete.bootCodeOffset);
    if (bootProgram.size() != kBootCodeSize) {
        throw std::invalid_argument("the boot program is not " + std::to_string(kBootCodeSize) +
                                    " bytes long");
    }
    std::vector<uint8_t> prefix(kFirmwareImageOffset, 0xFF);
    const auto header = BootBlockBytes(complete);
    std::memcpy(prefix.data(), header.data(), header.size());
    std::memcpy(prefix.data() + complete.bootCodeOffset, bootProgram.data(), bootProgram.size());
    return prefix;
}

GZipOperations::GZipOperations() = default;

// The one console line of a failed operation.
void GZipOperations::Report(const std::string& text) const {
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    if (report_) {
        report_(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

GZipOperations::GZipOperations(bool ShowMessageBox) : showMessageBox_(ShowMessageBox) {}

bool GZipOperations::GZipCompress(const std::string& input, const std::string& output,
                                  std::span<const uint8_t> subHeader) const {
    auto out = CreateOutput(output, input);
    try {
        std::vector<uint8_t> data;
        if (!platform::ReadWholeInput(input, data)) return false;
        WritePacked(out->Stream(), subHeader, {data});
        out->Commit();
        return true;
    } catch (const std::exception& e) {
        Report(e.what());
        return false;
    }
}

bool GZipOperations::GZipPacketCompress(const std::string& firmware, const std::string& output,
                                        std::span<const uint8_t> subHeader,
                                        const boot_block& bootHeader) const {
    auto out = CreateOutput(output, firmware);
    try {
        std::vector<uint8_t> data;
        if (!platform::ReadWholeInput(firmware, data)) return false;
        const boot_block complete = CompleteBootBlock(bootHeader, data);
        const std::vector<uint8_t> prefix = bootProgram_.empty()
                                                ? BuildImagePrefix(complete)
                                                : BuildImagePrefix(complete, bootProgram_);
        WritePacked(out->Stream(), subHeader, {prefix, data});
        out->Commit();
        return true;
    } catch (const std::exception& e) {
        Report(e.what());
        return false;
    }
}

void GZipOperations::GZipDecompress(const std::string& input, const std::string& output) const {
    { platform::FileStream missing(input); }  // a missing input goes to the caller
    auto out = CreateOutput(output, input);
    try {
        const PackedFile packed = UnpackPackedFileInto(input, PackedFileRules::Unpacking(), *out);
        const PackedHeader& header = packed.header;
        if (header.status == PackedHeaderStatus::BadPreamble) return;
        if (!header.ok()) {
            Report(header.error.empty() ? Describe(header.status) : header.error);
            return;
        }
        const UnpackResult& content = packed.content;
        if (content.status == UnpackStatus::DigestMismatch) return;
        if (!content.ok()) {
            Report(content.error.empty() ? Describe(content.status) : content.error);
            return;
        }
        out->Commit();
    } catch (const std::exception& e) {
        Report(e.what());
    }
}

int64_t GZipOperations::ReadAllBytesFromStream(platform::ByteStream& stream,
                                               std::span<uint8_t> buffer) {
    size_t offset = 0;
    while (true) {
        if (buffer.size() < kReadPiece || offset > buffer.size() - kReadPiece) {
            throw std::length_error("the stream's content does not fit the buffer");
        }
        int32_t n = stream.Read(buffer.data() + offset, 0, kReadPiece);
        if (n <= 0) return static_cast<int64_t>(offset);
        offset += static_cast<size_t>(n);
    }
}

}  // namespace transfer
