#pragma once
// Writing and reading packed update files: GZipCompress packs any file, GZipPacketCompress packs
// a firmware file into a firmware image (boot block header, boot program, firmware), and
// GZipDecompress writes a packed file's payload out again.
//
// Failures after the output file was created are reported by the result and one line on
// stderr; a missing input of GZipDecompress and an output that cannot be created throw
// platform::StreamError to the caller. The output is written beside its path and put in place
// only when complete: every failure leaves the path as it was. Unpacking streams in bounded
// memory; packing reads its input whole (a file, or a pipe to its end).
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/byte_stream.h"
#include "transfer/boot_block.h"

namespace transfer {

struct zipHeader {
    int subHeaderSize = 8;
    // Preamble (magic and length) plus the standard sub-header.
    int getHeaderLength() const { return subHeaderSize + 4; }
};

class GZipOperations {
public:
    GZipOperations();
    // The flag is kept for callers that want failures shown; the operations themselves only
    // ever report on the console.
    explicit GZipOperations(bool ShowMessageBox);

    zipHeader header;

    bool ShowMessageBox() const { return showMessageBox_; }

    // Where failure lines go; by default one line on stderr. A front end can take them over.
    void SetErrorReporter(std::function<void(const std::string&)> reporter) {
        report_ = std::move(reporter);
    }

    // Packs the input file with the sub-header (at most 65,535 bytes). True when written.
    bool GZipCompress(const std::string& input, const std::string& output,
                      std::span<const uint8_t> subHeader) const;

    // The boot program GZipPacketCompress puts into the image: the owner-supplied one
    // (transfer/boot_images.h) for the reference clock in use. Unset, the embedded stand-in of
    // that clock is used, which is for tests only.
    void SetBootProgram(std::vector<uint8_t> program) { bootProgram_ = std::move(program); }

    // Packs the firmware file as a firmware image. The caller fills bootCodeOffset (64 to
    // 62,740), reserved16, referenceClock and bytes 32..63 of `bootHeader`; the rest is set here.
    bool GZipPacketCompress(const std::string& firmware, const std::string& output,
                            std::span<const uint8_t> subHeader, const boot_block& bootHeader) const;

    // Writes the payload of a packed file. A file without the preamble or whose digest does not
    // match writes nothing without a report; other failures print a line.
    void GZipDecompress(const std::string& input, const std::string& output) const;

    // Reads the stream to its end, 100 bytes per request, into `buffer`; returns the count.
    // Every request must fit, so n bytes of content need n + 100 bytes of buffer; a request
    // that does not fit throws std::length_error.
    static int64_t ReadAllBytesFromStream(platform::ByteStream& stream, std::span<uint8_t> buffer);

    static uint32_t crc32_acc(const uint8_t* bytes, size_t count, uint32_t reg) {
        return transfer::crc32_acc(bytes, count, reg);
    }
    static constexpr const std::array<uint32_t, 256>& crc32_tab = transfer::crc32_tab;

private:
    void Report(const std::string& text) const;

    bool showMessageBox_ = true;
    std::vector<uint8_t> bootProgram_;
    std::function<void(const std::string&)> report_;
};

// The header of the firmware image for this firmware, completed from the caller's record:
// magic, boot program size, entry address, the firmware's entry word (its bytes 4..7) and the
// checksum. Throws std::invalid_argument for a firmware shorter than 8 bytes or a boot program
// offset outside 64..62,740.
boot_block CompleteBootBlock(const boot_block& caller, std::span<const uint8_t> firmware);

// The first 65,536 bytes of the firmware image: the header at 0, the boot program chosen by
// the reference clock at bootCodeOffset, 0xFF elsewhere. The firmware follows it unchanged.
std::vector<uint8_t> BuildImagePrefix(const boot_block& complete);
// The same with this boot program (2,796 bytes) in place of the embedded one.
std::vector<uint8_t> BuildImagePrefix(const boot_block& complete,
                                      std::span<const uint8_t> bootProgram);

}  // namespace transfer
