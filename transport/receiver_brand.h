#pragma once
// Receiver brands: the value given to a receive buffer decides how it recognises binary frames.
#include <cstdint>

enum class ReceiverBrand : int32_t {
    HD = 0,          // FUR frames: F1 D9, little-endian length at offset 4
    PrefixA0A2 = 1,  // A0 A2, big-endian length at offset 2
    PrefixB562 = 2,  // B5 62, little-endian length at offset 4
    Prefix81FF = 3,  // 81 FF, little-endian length at offset 4
    VCom = 6,        // no layout of its own: uses the B5 62 layout
};
