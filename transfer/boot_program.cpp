#include "transfer/boot_program.h"

#include <cstddef>

extern const unsigned char caddora_boot_26mhz[];
extern const std::size_t caddora_boot_26mhz_size;
extern const unsigned char caddora_boot_16369khz[];
extern const std::size_t caddora_boot_16369khz_size;

namespace transfer {

std::span<const uint8_t> BootProgram26MHz() {
    return {caddora_boot_26mhz, caddora_boot_26mhz_size};
}

std::span<const uint8_t> BootProgram16369kHz() {
    return {caddora_boot_16369khz, caddora_boot_16369khz_size};
}

std::span<const uint8_t> BootProgramFor(uint32_t referenceClock) {
    return referenceClock == kReferenceClock26MHz ? BootProgram26MHz() : BootProgram16369kHz();
}

}  // namespace transfer
