#include "transfer/boot_images.h"

#include "transfer/boot_block.h"
#include "transfer/boot_program.h"

namespace transfer {

namespace {

constexpr uint32_t kInitialStack = 0x00040000;
constexpr std::size_t kClockWordOffset = 1076;

}  // namespace

images::ImageKind BootProgramKind(uint32_t referenceClock) {
    const bool fast = referenceClock == kReferenceClock26MHz;
    const uint32_t clock = fast ? kReferenceClock26MHz : kReferenceClock16369kHz;
    images::ImageKind kind;
    kind.description = fast ? "the 26 MHz boot program" : "the 16.369 MHz boot program";
    kind.fileName = fast ? "boot_26mhz.bin" : "boot_16369khz.bin";
    kind.size = kBootCodeSize;
    kind.checkWords = [clock](std::span<const uint8_t> bytes) -> std::string {
        if (images::ImageWord(bytes, 0) != kInitialStack) return "no stack pointer 0x00040000 at 0";
        if (images::ImageWord(bytes, 4) != kBootEntryAddress) return "no entry 0x00024125 at 4";
        if (images::ImageWord(bytes, kClockWordOffset) != clock) {
            return "not the variant for " + std::to_string(clock) + " Hz (word at 1,076)";
        }
        return {};
    };
    kind.standIn = BootProgramFor(referenceClock);
    kind.optionName = "--boot-program";
    kind.environmentName = "CADDORA_BOOT_PROGRAM";
    return kind;
}

}  // namespace transfer
