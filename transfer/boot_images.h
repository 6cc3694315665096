#pragma once
// The boot program a firmware image carries, found like every owner-supplied device image
// (protocol/device_images.h): the option --boot-program, CADDORA_BOOT_PROGRAM, then the
// folders by the variant's file name.
#include <cstdint>

#include "protocol/device_images.h"

namespace transfer {

// The variant the reference clock selects: 2,796 bytes, stack pointer 0x00040000 at 0, entry
// 0x00024125 at 4, the variant's clock in Hz at 1,076.
images::ImageKind BootProgramKind(uint32_t referenceClock);

}  // namespace transfer
