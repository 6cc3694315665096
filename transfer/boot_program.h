#pragma once
// The two embedded variants of the boot program that a firmware image carries.
#include <cstdint>
#include <span>

namespace transfer {

inline constexpr uint32_t kReferenceClock26MHz = 26000000;
inline constexpr uint32_t kReferenceClock16369kHz = 16369000;

std::span<const uint8_t> BootProgram26MHz();
std::span<const uint8_t> BootProgram16369kHz();
// The 26 MHz variant for exactly 26,000,000 Hz, the 16.369 MHz one for every other value.
std::span<const uint8_t> BootProgramFor(uint32_t referenceClock);

}  // namespace transfer
