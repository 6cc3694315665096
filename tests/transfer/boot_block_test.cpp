#include "transfer/boot_block.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <set>

#include "packing_test_util.h"
#include "transfer/boot_images.h"
#include "transfer/boot_program.h"
#include "transfer/packing.h"

using namespace packing_test;
using transfer::boot_block;

TEST(HeaderCrc, TableIsTheStandardReflectedCrc32Table) {
    const z_crc_t* zlibTable = get_crc_table();
    for (int i = 0; i < 256; ++i) EXPECT_EQ(transfer::crc32_tab[i], zlibTable[i]) << i;
    EXPECT_EQ(&transfer::GZipOperations::crc32_tab, &transfer::crc32_tab);
}

TEST(HeaderCrc, RegisterUpdateIsCrc32WithoutInversions) {
    // The well-known check value of CRC-32 over "123456789".
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(transfer::crc32_acc(check, 9, 0xFFFFFFFF) ^ 0xFFFFFFFF, 0xCBF43926u);
    // zlib inverts the register on the way in and out; undoing that gives the plain update.
    for (uint32_t seed : {0u, transfer::kHeaderCrcSeed, 0xDEADBEEFu}) {
        const Bytes data = RandomBytes(777, seed);
        uint32_t viaZlib = ~static_cast<uint32_t>(crc32(~seed, data.data(), data.size()));
        EXPECT_EQ(transfer::GZipOperations::crc32_acc(data.data(), data.size(), seed), viaZlib);
    }
    EXPECT_EQ(transfer::crc32_acc(nullptr, 0, 0x1234), 0x1234u);
}

TEST(HeaderCrc, CoversBytesEightToSixtyThreeOnly) {
    boot_block block;
    block.bootCodeOffset = 0x100;
    block.referenceClock = 26000000;
    const uint32_t base = transfer::BootBlockHeaderCrc(block);
    auto bytes = transfer::BootBlockBytes(block);
    const uint32_t seeded =
        ~static_cast<uint32_t>(crc32(~transfer::kHeaderCrcSeed, bytes.data() + 8, 56));
    EXPECT_EQ(base, seeded);
    for (size_t i = 0; i < 64; ++i) {
        auto changed = bytes;
        changed[i] ^= 0x01;
        const uint32_t crc = transfer::BootBlockHeaderCrc(
            transfer::BootBlockFromBytes(std::span<const uint8_t, 64>(changed)));
        if (i < 8) {
            EXPECT_EQ(crc, base) << "byte " << i;
        } else {
            EXPECT_NE(crc, base) << "byte " << i;
        }
    }
}

TEST(BootBlock, StoresFieldsLittleEndianAtTheirOffsets) {
    boot_block block;
    block.magic = transfer::kBootBlockMagic;
    block.headerCrc = 0x11223344;
    block.bootCodeSize = 2796;
    block.bootCodeOffset = 0x00000400;
    block.reserved16 = 0xA1B2C3D4;
    block.entryAddress = 0x00024125;
    block.firmwareEntry = 0x08001235;
    block.referenceClock = 16369000;
    Bytes tail(32);
    for (size_t i = 0; i < 32; ++i) tail[i] = static_cast<uint8_t>(0xC0 + i);
    transfer::SetBootBlockTail(block, std::span<const uint8_t, 32>(tail.data(), 32));
    const auto raw = transfer::BootBlockBytes(block);
    const Bytes b(raw.begin(), raw.end());
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 4), (Bytes{0x55, 0x55, 0xEF, 0xBE}));
    EXPECT_EQ(Le32(b, 4), 0x11223344u);
    EXPECT_EQ(Bytes(b.begin() + 8, b.begin() + 12), (Bytes{0xEC, 0x0A, 0x00, 0x00}));
    EXPECT_EQ(Le32(b, 12), 0x400u);
    EXPECT_EQ(Le32(b, 16), 0xA1B2C3D4u);
    EXPECT_EQ(Le32(b, 20), 0x00024125u);
    EXPECT_EQ(Le32(b, 24), 0x08001235u);
    EXPECT_EQ(Le32(b, 28), 16369000u);
    EXPECT_EQ(Bytes(b.begin() + 32, b.end()), tail);
    EXPECT_EQ(block.pllctrl[0], 0xC3C2C1C0u);
    const boot_block back = transfer::BootBlockFromBytes(raw);
    EXPECT_EQ(transfer::BootBlockBytes(back), raw);
}

TEST(BootProgram, StandInsCarryTheFixedWords) {
    for (auto program : {transfer::BootProgram26MHz(), transfer::BootProgram16369kHz()}) {
        ASSERT_EQ(program.size(), transfer::kBootCodeSize);
        const Bytes b(program.begin(), program.end());
        EXPECT_EQ(Le32(b, 0), 0x00040000u);
        EXPECT_EQ(Le32(b, 4), transfer::kBootEntryAddress);
    }
    EXPECT_EQ(
        Le32(Bytes(transfer::BootProgram26MHz().begin(), transfer::BootProgram26MHz().end()), 1076),
        26000000u);
    EXPECT_EQ(
        Le32(Bytes(transfer::BootProgram16369kHz().begin(), transfer::BootProgram16369kHz().end()),
             1076),
        16369000u);
}

TEST(BootProgram, VariantsDifferOnlyInTheClockSettings) {
    auto a = transfer::BootProgram26MHz();
    auto b = transfer::BootProgram16369kHz();
    std::set<size_t> differing;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) differing.insert(i);
    }
    EXPECT_EQ(differing, (std::set<size_t>{696, 698, 716, 738, 1076, 1077, 1078, 1079}));
}

TEST(BootProgram, ReferenceClockChoosesTheVariant) {
    EXPECT_EQ(transfer::BootProgramFor(26000000).data(), transfer::BootProgram26MHz().data());
    EXPECT_EQ(transfer::BootProgramFor(26000001).data(), transfer::BootProgram16369kHz().data());
    EXPECT_EQ(transfer::BootProgramFor(16369000).data(), transfer::BootProgram16369kHz().data());
    EXPECT_EQ(transfer::BootProgramFor(0).data(), transfer::BootProgram16369kHz().data());
}

TEST(BootProgram, EmbeddedBytesAreTheCommittedFiles) {
    const char* env = std::getenv("CADDORA_SOURCE_DIR");
    const char* source = env ? env : CADDORA_TEST_SOURCE_DIR;
    const std::string dir = std::string(source) + "/transfer/data/";
    auto a = transfer::BootProgram26MHz();
    auto b = transfer::BootProgram16369kHz();
    EXPECT_EQ(ReadFile(dir + "boot_26mhz.bin"), Bytes(a.begin(), a.end()));
    EXPECT_EQ(ReadFile(dir + "boot_16369khz.bin"), Bytes(b.begin(), b.end()));
}

TEST(BootProgramImages, TheVariantsWordsAreCheckedAndStandInsNeedPermission) {
    TempDir dir;
    const auto fast = transfer::BootProgram26MHz();
    const auto slow = transfer::BootProgram16369kHz();
    Bytes real(fast.begin(), fast.end());
    real[100] ^= 0x55;  // not the stand-in, same fixed words
    Bytes noStack = real;
    noStack[2] = 0;  // 0x00040000 -> 0
    WriteFile(dir / "real.bin", real);
    WriteFile(dir / "nostack.bin", noStack);
    WriteFile(dir / "slow.bin", Bytes(slow.begin(), slow.end()));
    const struct {
        std::string option;
        bool allow;
        const char* says;  // empty: accepted
    } cases[] = {
        {dir / "real.bin", false, ""},
        {dir / "nostack.bin", false, "stack pointer"},
        {dir / "slow.bin", true, "26000000 Hz"},  // the other variant
        {"", false, "boot_26mhz.bin"},            // nothing found: names the file
        {"", true, ""},                           // the built-in stand-in, allowed
    };
    for (const auto& c : cases) {
        const auto found = images::FindDeviceImage(transfer::BootProgramKind(26000000),
                                                   {c.option, "", {dir / "none"}, c.allow});
        if (*c.says == '\0') {
            EXPECT_TRUE(found.ok()) << c.option << ": " << found.refusal;
        } else {
            EXPECT_NE(found.refusal.find(c.says), std::string::npos)
                << c.option << ": " << (found.ok() ? "accepted" : found.refusal);
        }
    }
}
