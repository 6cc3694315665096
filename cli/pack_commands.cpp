// pack, pack-firmware, unpack and info: making and inspecting packed update files.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/hex_text.h"
#include "cli/packed_info.h"
#include "cli/preflight.h"
#include "platform/output_file.h"
#include "platform/utf8_paths.h"
#include "transfer/boot_block.h"
#include "transfer/packed_file.h"
#include "transfer/packing.h"

namespace cli {

namespace {

constexpr size_t kMaxSubHeader = 0xFFFF;
constexpr size_t kStandardSubHeader = 8;

struct PackOptions {
    std::string input;
    std::string output;
    std::string subHeaderHex;
    std::string versionText;
};

struct FirmwareOptions {
    std::string bootCodeOffset;
    std::string referenceClock;
    std::string word16 = "0";
    std::string headerTail;
    std::string bootProgram;
};

// The sub-header from --sub-header and --version-text (padded to the standard 8 bytes first).
std::vector<uint8_t> BuildSubHeader(const PackOptions& o, const CLI::App* cmd) {
    std::vector<uint8_t> sub = *ParseHex(o.subHeaderHex);
    if (cmd->count("--version-text")) {
        if (sub.size() > kStandardSubHeader) {
            throw CLI::ValidationError(
                "--version-text",
                "needs a --sub-header of at most 8 bytes; the text starts at byte 8");
        }
        sub.resize(kStandardSubHeader, 0);
        sub.insert(sub.end(), o.versionText.begin(), o.versionText.end());
    }
    if (sub.size() > kMaxSubHeader) {
        throw CLI::ValidationError("--sub-header", "the sub-header may hold at most 65,535 bytes");
    }
    return sub;
}

std::string SizeText(const std::string& path) {
    std::error_code ec;
    auto size = std::filesystem::file_size(platform::PathFromUtf8(path), ec);
    return ec ? std::string("?") : std::to_string(size);
}

// Runs one packer; its failure line becomes the command's one line. The packer leaves the
// output path as it was on every failure.
template <typename Pack>
void RunPacker(CommandContext& ctx, const std::string& command, const PackOptions& o, Pack pack) {
    if (const std::string refusal = PreflightPack(o.input, o.output); !refusal.empty()) {
        return ctx.Fail(command, refusal);
    }
    transfer::GZipOperations ops;
    std::string failure;
    ops.SetErrorReporter([&failure](const std::string& line) { failure = line; });
    bool ok = false;
    try {
        ok = pack(ops);
    } catch (const std::exception& e) {
        ctx.Fail(command, e.what());
        return;
    }
    if (!ok) {
        ctx.Fail(command, failure.empty() ? "could not read all of " + o.input +
                                                " (did it change while being read?)"
                                          : failure);
        return;
    }
    *ctx.out << "packed " << o.input << " (" << SizeText(o.input) << " bytes) into " << o.output
             << " (" << SizeText(o.output) << " bytes)\n";
}

std::string ContentProblem(const transfer::UnpackResult& content) {
    std::string text = transfer::Describe(content.status);
    if (!content.error.empty()) text += ": " + content.error;
    return text;
}

std::string HeaderProblem(const transfer::PackedHeader& header) {
    return header.error.empty() ? transfer::Describe(header.status) : header.error;
}

void WarnTrailingData(CommandContext& ctx, const std::string& command,
                      const transfer::UnpackResult& content, const std::string& file) {
    if (content.trailingData) {
        *ctx.err << "caddora-cli " << command << ": warning: " << file
                 << " has bytes after its gzip stream; they were ignored\n";
    }
}

void RunUnpack(CommandContext& ctx, const std::string& input, const std::string& output) {
    if (const std::string refusal = PreflightUnpack(input, output); !refusal.empty()) {
        return ctx.Fail("unpack", refusal);
    }
    std::unique_ptr<platform::OutputFile> out;
    try {
        out = std::make_unique<platform::OutputFile>(output);
    } catch (const platform::StreamError& e) {
        return ctx.Fail("unpack", e.what());
    }
    // Nothing leaves before the digest matched: a file is replaced only then, a pipe or a
    // device written only then.
    try {
        const auto packed =
            transfer::UnpackPackedFileInto(input, transfer::PackedFileRules::Unpacking(), *out);
        if (!packed.header.ok()) return ctx.Fail("unpack", HeaderProblem(packed.header));
        if (!packed.content.ok()) return ctx.Fail("unpack", ContentProblem(packed.content));
        out->Commit();
        WarnTrailingData(ctx, "unpack", packed.content, input);
        // The payload went to the standard output: the summary goes beside it, not into it.
        std::ostream& summary = platform::NamesStandardOutput(output) ? *ctx.err : *ctx.out;
        summary << "unpacked " << packed.content.contentLength - 16 << " bytes of payload into "
                << output << '\n';
    } catch (const platform::StreamError& e) {
        return ctx.Fail("unpack", e.what());
    }
}

void RunInfo(CommandContext& ctx, const std::string& file, bool json) {
    if (const std::string refusal = PreflightInfo(file); !refusal.empty()) {
        return ctx.Fail("info", refusal);
    }
    // Only the start of the payload is kept: enough to recognise a firmware image.
    std::vector<uint8_t> start;
    const auto packed = transfer::ScanPackedFile(
        file, transfer::PackedFileRules::Unpacking(), [&start](std::span<const uint8_t> piece) {
            const size_t take = std::min(piece.size(), kInfoPayloadStart - start.size());
            start.insert(start.end(), piece.begin(), piece.begin() + static_cast<ptrdiff_t>(take));
        });
    if (!packed.header.ok()) return ctx.Fail("info", HeaderProblem(packed.header));
    const PackedInfo info = DescribePackedFile(file, packed, start);
    if (json)
        PrintJson(*ctx.out, info);
    else
        PrintText(*ctx.out, info);
    WarnTrailingData(ctx, "info", packed.content, file);
    if (!info.problem.empty()) ctx.Fail("info", info.problem);
}

void AddSubHeaderOptions(CLI::App* cmd, PackOptions& o) {
    cmd->add_option("--sub-header", o.subHeaderHex,
                    "Sub-header bytes in hex; byte 0 is the package type (2: written by frames, "
                    "3: sent by YMODEM). \"\" for none.")
        ->required()
        ->type_name("HEX")
        ->check(HexBytes(kMaxSubHeader));
    cmd->add_option("--version-text", o.versionText,
                    "Text stored from sub-header byte 8 on (UTF-8); the sub-header is padded with "
                    "zero bytes to 8 first.")
        ->type_name("TEXT");
}

}  // namespace

void AddPackCommands(CLI::App& app, CommandContext& ctx) {
    auto pack = std::make_shared<PackOptions>();
    CLI::App* packCmd =
        app.add_subcommand("pack", "Pack a file into a packed update file (.ckfm).");
    packCmd->add_option("INPUT", pack->input, "File to pack")->type_name("PATH")->required();
    packCmd->add_option("OUTPUT", pack->output, "Packed file to write (replaced if it exists)")
        ->type_name("PATH")
        ->required();
    AddSubHeaderOptions(packCmd, *pack);
    packCmd->footer(
        "Example:\n"
        "  caddora-cli pack index4.dat index4.ckfm --sub-header 0200000000000000 --version-text "
        "1.02");
    packCmd->callback([pack, packCmd, &ctx] {
        const auto sub = BuildSubHeader(*pack, packCmd);
        RunPacker(ctx, "pack", *pack, [&](const transfer::GZipOperations& ops) {
            return ops.GZipCompress(pack->input, pack->output, sub);
        });
    });

    auto fwPack = std::make_shared<PackOptions>();
    auto fw = std::make_shared<FirmwareOptions>();
    CLI::App* fwCmd = app.add_subcommand(
        "pack-firmware",
        "Pack a firmware file as a firmware image: boot block header, boot program, firmware.");
    fwCmd->add_option("FIRMWARE", fwPack->input, "Firmware file (at least 8 bytes)")
        ->type_name("PATH")
        ->required();
    fwCmd->add_option("OUTPUT", fwPack->output, "Packed file to write (replaced if it exists)")
        ->type_name("PATH")
        ->required();
    AddSubHeaderOptions(fwCmd, *fwPack);
    fwCmd
        ->add_option("--boot-code-offset", fw->bootCodeOffset,
                     "Where the boot program goes in the image, 64..62740 (decimal or 0x-hex)")
        ->required()
        ->type_name("N")
        ->check(Word(transfer::kMinBootCodeOffset, transfer::kMaxBootCodeOffset));
    fwCmd
        ->add_option("--reference-clock", fw->referenceClock,
                     "Reference clock in Hz; exactly 26000000 selects the 26 MHz boot program, "
                     "any other value the 16.369 MHz one")
        ->required()
        ->type_name("HZ")
        ->check(Word());
    fwCmd
        ->add_option("--word-16", fw->word16,
                     "Header word at offset 16, stored unchanged (default 0)")
        ->type_name("N")
        ->check(Word());
    fwCmd
        ->add_option("--header-tail", fw->headerTail,
                     "Header bytes 32..63 in hex (32 bytes; the clock settings come first), "
                     "stored unchanged (default zeros)")
        ->type_name("HEX")
        ->check(HexBytesExactly(32));
    fwCmd
        ->add_option("--boot-program", fw->bootProgram,
                     "The navigator's boot program for this reference clock (boot_26mhz.bin or "
                     "boot_16369khz.bin); default: CADDORA_BOOT_PROGRAM, then the folders the "
                     "README lists")
        ->type_name("FILE");
    fwCmd->footer(
        "Example:\n"
        "  caddora-cli pack-firmware app.bin app.ckfm --sub-header 02 --version-text \"Ver 2.10\" "
        "\\\n"
        "      --boot-code-offset 0x400 --reference-clock 26000000");
    fwCmd->callback([fwPack, fw, fwCmd, &ctx] {
        const auto sub = BuildSubHeader(*fwPack, fwCmd);
        transfer::boot_block header;
        header.bootCodeOffset = *ParseWord(fw->bootCodeOffset);
        header.referenceClock = *ParseWord(fw->referenceClock);
        header.reserved16 = *ParseWord(fw->word16);
        if (!fw->headerTail.empty()) {
            const auto tail = *ParseHex(fw->headerTail);
            transfer::SetBootBlockTail(header, std::span<const uint8_t, 32>(tail.data(), 32));
        }
        // The boot program goes to a device inside the image: never a stand-in unless allowed.
        const images::FoundImage boot =
            ctx.images.BootProgram(fw->bootProgram, header.referenceClock);
        if (!boot.ok()) return ctx.Fail("pack-firmware", boot.refusal);
        RunPacker(ctx, "pack-firmware", *fwPack, [&](transfer::GZipOperations& ops) {
            ops.SetBootProgram(boot.bytes);
            return ops.GZipPacketCompress(fwPack->input, fwPack->output, sub, header);
        });
    });

    auto unpack = std::make_shared<std::pair<std::string, std::string>>();
    CLI::App* unpackCmd =
        app.add_subcommand("unpack", "Check a packed file's MD5 digest and write its payload.");
    unpackCmd->add_option("INPUT", unpack->first, "Packed file")->type_name("PATH")->required();
    unpackCmd
        ->add_option("OUTPUT", unpack->second,
                     "Payload file to write (only when the digest matches)")
        ->type_name("PATH")
        ->required();
    unpackCmd->footer("Example:\n  caddora-cli unpack app.ckfm app-image.bin");
    unpackCmd->callback([unpack, &ctx] { RunUnpack(ctx, unpack->first, unpack->second); });

    auto info = std::make_shared<std::pair<std::string, bool>>("", false);
    CLI::App* infoCmd = app.add_subcommand(
        "info", "Show a packed file's package type, sub-header, version text, sizes and digest.");
    infoCmd->add_option("FILE", info->first, "Packed file")->type_name("PATH")->required();
    infoCmd->add_flag("--json", info->second, "One JSON object instead of text lines");
    infoCmd->footer(
        "Exit status 0 when the digest matches, 1 otherwise.\n"
        "Example:\n  caddora-cli info app.ckfm --json");
    infoCmd->callback([info, &ctx] { RunInfo(ctx, info->first, info->second); });
}

namespace {
const CommandRegistration kRegisterPack(kOrderPack, AddPackCommands);
}

}  // namespace cli
