#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/fur_codec.h"
#include "protocol/fur_codec_internal.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string byte;
    while (in >> byte) out.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
    return out;
}

// A result record as callers prepare it, with sentinels that show what parsefur wrote.
FUR_DATA Fresh() {
    return FUR_DATA{PARSE_OK, static_cast<FUR_CMD_NAME>(-7), 0, 0};
}

// The command rows written out independently of the codec's table, class by class.
struct Row {
    uint16_t code;
    uint32_t min;
};
std::vector<Row> ReferenceRows() {
    const std::pair<const char*, const char*> classes[] = {
        {"01",
         "01/0 01/20 02/0 02/28 03/0 03/16 04/0 04/18 11/0 11/20 12/0 12/36 20/0 20/16 21/0 "
         "21/20 22/0 22/20 30/0 30/8 C0/0 C0/32 C1/0 C1/22"},
        {"02", "01/1 02/12 4F/1 50/0 51/0 52/0 53/0 54/0 55/0 56/0 57/0 FF/0"},
        {"05", "00/2 01/2"},
        {"06",
         "00/1 00/8 01/2 01/3 07/0 07/5 08/0 08/6 09/8 0A/0 0A/4 0B/0 0B/8 0C/0 0C/4 0D/0 0D/16 "
         "40/1 41/4 42/20 50/1 58/0 F0/1 F1/2 F2/1 F5/8"},
        {"0A", "04/0 04/32 05/0 05/2 06/4 07/4"},
        {"0B", "01/0 01/48 30/0 30/1 30/40 31/0 31/1 31/104 31/152 33/9"},
        {"F0",
         "00/0 01/0 02/0 03/0 03/4 04/0 05/0 06/0 07/0 07/4 08/0 08/4 09/6 10/4 10/6 11/16 11/28 "
         "12/12 12/24 13/1 13/2 14/0 15/0"},
        {"F1", "00/5 01/21 02/1 03/3 04/1 04/9 20/13 21/5 22/5 B0/4"},
        {"F4",
         "00/4 01/2 02/4 03/8 04/2 05/6 06/4 07/1 07/4 08/4 09/4 0A/6 0A/4 0B/4 0C/6 0C/4 0D/7 "
         "0E/6 0E/2 0F/4 10/6 10/4 11/4 12/4 20/1 21/0 22/4 22/2 50/20 50/16 30/0 30/4 31/6 "
         "31/4"},
        {"FE", "01/0 01/16 02/4 03/1 03/5 04/0 04/256"},
    };
    std::vector<Row> rows;
    for (const auto& [cls, entries] : classes) {
        std::istringstream in(entries);
        std::string entry;
        while (in >> entry) {
            auto slash = entry.find('/');
            rows.push_back(
                {static_cast<uint16_t>(std::stoul(cls + entry.substr(0, slash), nullptr, 16)),
                 static_cast<uint32_t>(std::stoul(entry.substr(slash + 1)))});
        }
    }
    return rows;
}

// The decoding rule transcribed step by step, over the reference rows.
std::optional<int> ReferenceDecode(const std::vector<Row>& t, uint16_t code, uint32_t len) {
    if (code >= t[27].code && code <= t[35].code) return code - 0x0250 + 27;
    int lo = 0, hi = 153, mid = 0;
    for (;;) {
        if (lo > hi) return std::nullopt;
        mid = (lo + hi) / 2;
        if (t[mid].code == code) break;
        if (code > t[mid].code)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    int match = mid;
    if (len >= t[mid].min) {
        while (match + 1 < 154 && t[match + 1].code == code && t[match + 1].min <= len) ++match;
    } else {
        match = mid - 1;
        while (match >= 0 && t[match].code == code && t[match].min > len) --match;
        if (match < 0 || t[match].code != code) return std::nullopt;
    }
    return match < 27 ? match : match + 168;
}

std::optional<int> Decode(uint16_t code, uint32_t len) {
    FUR_CMD_NAME cmd = static_cast<FUR_CMD_NAME>(-7);
    if (!findfurcmd(code, len, &cmd)) {
        EXPECT_EQ(cmd, -7) << "a failed lookup must leave the value alone";
        return std::nullopt;
    }
    return static_cast<int>(cmd);
}

// A complete frame with code `code` and `n` payload bytes (pattern), built independently.
Bytes RawFrame(uint16_t code, uint32_t n, uint8_t seed = 0) {
    Bytes f{0xF1,
            0xD9,
            static_cast<uint8_t>(code >> 8),
            static_cast<uint8_t>(code),
            static_cast<uint8_t>(n),
            static_cast<uint8_t>(n >> 8)};
    for (uint32_t i = 0; i < n; ++i) f.push_back(static_cast<uint8_t>(seed + i * 7));
    uint8_t a = 0, b = 0;
    for (size_t i = 2; i < f.size(); ++i) {
        a = static_cast<uint8_t>(a + f[i]);
        b = static_cast<uint8_t>(b + a);
    }
    f.push_back(a);
    f.push_back(b);
    return f;
}

uint32_t Parse(const Bytes& buf, FUR_DATA* d) {
    return parsefur(buf.data(), static_cast<uint32_t>(buf.size()), d);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Building frames

TEST(FurBuild, WorkedFramesMatchByteForByte) {
    struct Case {
        FUR_CMD_NAME cmd;
        Bytes payload;
        const char* wire;
    };
    const Case cases[] = {
        {VERSION_POLL, {}, "F1 D9 0A 04 00 00 0E 34"},
        {BOOTMEM_DATA, {}, "F1 D9 0A 07 00 00 11 3D"},
        {BOOT2_SPINORID_POLL, {}, "F1 D9 F4 30 00 00 24 60"},
        {CFG_SIMPLERST, Hex("00"), "F1 D9 06 40 01 00 00 47 21"},
        {CFG_FWUP, Hex("10"), "F1 D9 06 50 01 00 10 67 71"},
        {CFG_CFG, Hex("02 00 00 00 07 00 00 00"),
         "F1 D9 06 09 08 00 02 00 00 00 07 00 00 00 20 27"},
        {BOOT2_RUN, Hex("2D 62 02 00"), "F1 D9 F4 06 04 00 2D 62 02 00 8F C0"},
        {ACK_ACK, Hex("F4 05"), "F1 D9 05 01 02 00 F4 05 01 18"},
        {ACK_NAK, Hex("F4 05"), "F1 D9 05 00 02 00 F4 05 00 13"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wire);
        // In place, the way senders use genfurcmd: payload first, then the frame completed.
        Bytes frame(c.payload.size() + 8, 0xEE);
        std::copy(c.payload.begin(), c.payload.end(), frame.begin() + 6);
        genfurcmd(c.cmd, static_cast<uint32_t>(c.payload.size()), frame.data());
        EXPECT_EQ(frame, Hex(c.wire));
        EXPECT_EQ(MakeFrame(c.cmd, c.payload), Hex(c.wire));
    }
    // The records produce the same payload bytes as the wire shows.
    EXPECT_EQ(MakeFrame(CFG_CFG, RecordBytes(FUR_PACKET_CFG_CFG{2, 7})), Hex(cases[5].wire));
    EXPECT_EQ(MakeFrame(BOOT2_RUN, RecordBytes(FUR_PACKET_BOOT2_RUN{0x2622D})), Hex(cases[6].wire));
    EXPECT_EQ(MakeFrame(ACK_ACK, RecordBytes(FUR_PACKET_ACK_ACK{0xF4, 0x05})), Hex(cases[7].wire));
}

TEST(FurBuild, ChecksumOfAbc) {
    uint8_t a = 0, b = 0;
    furchecksum(reinterpret_cast<const uint8_t*>("abc"), 3, &a, &b);
    EXPECT_EQ(a, 0x26);
    EXPECT_EQ(b, 0x4A);
    // Sums wrap modulo 256 over long runs.
    Bytes ff(1000, 0xFF);
    furchecksum(ff.data(), 1000, &a, &b);
    EXPECT_EQ(a, static_cast<uint8_t>(1000 * 255));
    EXPECT_EQ(b, static_cast<uint8_t>(255u * (1000u * 1001u / 2u)));
}

TEST(FurBuild, PacketIdCoversEveryRange) {
    const std::pair<int, uint16_t> cases[] = {{0, 0x0101},   {23, 0x01C1},  {26, 0x024F},
                                              {27, 0x0250},  {28, 0x0251},  {202, 0x02FF},
                                              {204, 0x0500}, {286, 0xF405}, {321, 0xFE04}};
    for (auto [value, code] : cases) {
        uint8_t id[2] = {0, 0};
        getpacketid(static_cast<FUR_CMD_NAME>(value), id);
        EXPECT_EQ(id[0] << 8 | id[1], code) << value;
    }
    // Values that name no frame kind write nothing and build nothing.
    for (int value : {203, 322, -1, 100000}) {
        uint8_t id[2] = {0xAA, 0xBB};
        getpacketid(static_cast<FUR_CMD_NAME>(value), id);
        EXPECT_EQ(id[0], 0xAA);
        EXPECT_EQ(id[1], 0xBB);
        EXPECT_TRUE(MakeFrame(static_cast<FUR_CMD_NAME>(value)).empty()) << value;
    }
}

TEST(FurBuild, EveryValueRoundTripsThroughItsCode) {
    // Wherever the value is not hidden by an out-of-order row, a frame carrying its code and
    // minimum length parses back to it.
    const std::vector<uint16_t> irregular = {0xF40A, 0xF40C, 0xF40E, 0xF410,
                                             0xF422, 0xF431, 0xF450};
    int checked = 0;
    for (int v = 0; v < kFurCmdCount; ++v) {
        auto cmd = static_cast<FUR_CMD_NAME>(v);
        if (!IsFurCmd(cmd)) continue;
        uint16_t code = FurCode(cmd);
        uint32_t min = (v >= 27 && v <= 202) ? 0 : FUR_CMD_TABLE[v < 27 ? v : v - 168].minLength;
        if (std::find(irregular.begin(), irregular.end(), code) != irregular.end()) continue;
        Bytes frame = MakeFrame(cmd, Bytes(min, 0x5A));
        FUR_DATA d = Fresh();
        ASSERT_EQ(Parse(frame, &d), frame.size());
        EXPECT_EQ(d.status, PARSE_OK) << v;
        EXPECT_EQ(d.command, cmd) << v;
        ++checked;
    }
    EXPECT_GT(checked, 300);
}

TEST(FurBuild, LengthAboveLimitWritesNothing) {
    constexpr size_t kGuard = 16;
    Bytes buf(9993 + 8 + kGuard, 0x33);
    genfurcmd(VERSION_DATA, 9993, buf.data());
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](uint8_t x) { return x == 0x33; }));
    EXPECT_FALSE(genfurcmd_checked(VERSION_DATA, 9993, buf.data()));
    EXPECT_FALSE(genfurcmd_checked(VERSION_DATA, 0x10000, buf.data()));
    EXPECT_FALSE(genfurcmd_checked(static_cast<FUR_CMD_NAME>(203), 0, buf.data()));
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](uint8_t x) { return x == 0x33; }));

    // The limit itself is a valid frame, and nothing past length + 8 is touched.
    EXPECT_TRUE(genfurcmd_checked(VERSION_DATA, 9992, buf.data()));
    EXPECT_TRUE(std::all_of(buf.begin() + 10000, buf.end(), [](uint8_t x) { return x == 0x33; }));
    FUR_DATA d = Fresh();
    EXPECT_EQ(parsefur(buf.data(), 10000, &d), 10000u);
    EXPECT_EQ(d.status, PARSE_OK);
    EXPECT_EQ(d.command, VERSION_DATA);
    EXPECT_EQ(d.payloadLength, 9992);

    EXPECT_TRUE(MakeFrame(VERSION_DATA, Bytes(9993)).empty());
    EXPECT_EQ(MakeFrame(VERSION_DATA, Bytes(9000), Bytes(992)).size(), 10000u);
}

TEST(FurBuild, BuildFrameRefusesASmallBuffer) {
    Bytes payload = Hex("01 02 03");
    Bytes out(10, 0x44);
    EXPECT_EQ(BuildFrame(CFG_CFG, payload, {}, std::span(out).first(10)), 0u);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t x) { return x == 0x44; }));
    out.resize(11, 0x44);
    EXPECT_EQ(BuildFrame(CFG_CFG, Hex("01"), Hex("02 03"), out), 11u);
    EXPECT_EQ(out, MakeFrame(CFG_CFG, payload));
}

TEST(FurBuild, FwpgFramePadsAnOddBlock) {
    Bytes data = Hex("10 20 30");
    Bytes frame = MakeFwpgFrame(0x26000, 7, data);
    ASSERT_EQ(frame.size(), 8u + 6u + 4u);
    FUR_DATA d = Fresh();
    ASSERT_EQ(Parse(frame, &d), frame.size());
    ASSERT_EQ(d.status, PARSE_OK);
    EXPECT_EQ(d.command, BOOT2_FWPG);
    auto payload = FurPayload(frame, d);
    FUR_PACKET_BOOT2_FWPG head{};
    ASSERT_TRUE(ReadRecord(payload, &head));
    EXPECT_EQ(head.address, 0x26000u);
    EXPECT_EQ(head.index, 7u);
    EXPECT_EQ(Bytes(payload.begin() + 6, payload.end()), Hex("10 20 30 00"));
    EXPECT_EQ(FwpgDataLength(3), 4u);
    EXPECT_EQ(FwpgDataLength(2048), 2048u);

    EXPECT_EQ(MakeFwpgFrame(0, 0, Bytes(2048)).size(), 2054u + 8u);
    EXPECT_EQ(MakeFwpgFrame(0, 0, Bytes(9986)).size(), 10000u);
    EXPECT_EQ(MakeFwpgFrame(0, 0, Bytes(9985)).size(), 10000u);
    EXPECT_TRUE(MakeFwpgFrame(0, 0, Bytes(9987)).empty());
}

// ---------------------------------------------------------------------------------------------
// Decoding codes

TEST(FurDecode, TableMatchesTheRowsAsListed) {
    auto rows = ReferenceRows();
    ASSERT_EQ(rows.size(), FUR_CMD_TABLE.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(FUR_CMD_TABLE[i].code, rows[i].code) << "row " << i;
        EXPECT_EQ(FUR_CMD_TABLE[i].minLength, rows[i].min) << "row " << i;
    }
}

TEST(FurDecode, FollowsTheStoredOrderSearchForEveryRow) {
    auto rows = ReferenceRows();
    int differsFromRowValue = 0;
    for (size_t r = 0; r < rows.size(); ++r) {
        for (int delta = -3; delta <= 3; ++delta) {
            int64_t len = static_cast<int64_t>(rows[r].min) + delta;
            if (len < 0) continue;
            auto want = ReferenceDecode(rows, rows[r].code, static_cast<uint32_t>(len));
            EXPECT_EQ(Decode(rows[r].code, static_cast<uint32_t>(len)), want)
                << std::hex << "code " << rows[r].code << std::dec << " length " << len;
            int rowValue = r < 27 ? static_cast<int>(r) : static_cast<int>(r) + 168;
            if (delta == 0 && r >= 36 && want != rowValue) ++differsFromRowValue;
        }
    }
    // The out-of-order rows really do decode to something other than their own value.
    EXPECT_GE(differsFromRowValue, 7);
    // Codes next to the table's entries, and huge lengths.
    for (uint32_t code = 0; code <= 0xFFFF; code += 0x0101) {
        for (uint32_t len : {0u, 1u, 9992u, 65535u, 0xFFFFFFFFu}) {
            EXPECT_EQ(Decode(static_cast<uint16_t>(code), len),
                      ReferenceDecode(rows, static_cast<uint16_t>(code), len))
                << code << " " << len;
        }
    }
}

TEST(FurDecode, FramesTheToolReceives) {
    auto expect = [](uint16_t code, uint32_t len, std::optional<int> want) {
        EXPECT_EQ(Decode(code, len), want) << std::hex << code << std::dec << " len " << len;
    };
    for (uint32_t len : {0u, 1u, 31u}) expect(0x0A04, len, VERSION_POLL);
    for (uint32_t len : {32u, 33u, 200u}) expect(0x0A04, len, VERSION_DATA);
    for (uint32_t len : {0u, 3u}) expect(0x0A07, len, std::nullopt);
    for (uint32_t len : {4u, 64u}) expect(0x0A07, len, BOOTMEM_DATA);
    for (uint32_t len : {0u, 1u}) {
        expect(0x0500, len, std::nullopt);
        expect(0x0501, len, std::nullopt);
    }
    expect(0x0500, 2, ACK_NAK);
    expect(0x0501, 2, ACK_ACK);
    for (uint32_t len : {0u, 3u}) expect(0xF430, len, BOOT2_SPINORID_POLL);
    for (uint32_t len : {4u, 5u}) expect(0xF430, len, BOOT2_SPINORID_DATA);
    for (uint32_t len : {0u, 3u}) expect(0xF431, len, std::nullopt);
    // A read reply of any size, even the poll's own 6 bytes, is the data.
    for (uint32_t len : {4u, 6u, 192u, 2048u}) expect(0xF431, len, BOOT2_SPINORRD_DATA);
}

TEST(FurDecode, ClassTwoRangeIgnoresLength) {
    for (uint32_t id = 0x50; id <= 0xFF; ++id) {
        for (uint32_t len : {0u, 1u, 100u}) {
            Bytes frame = RawFrame(static_cast<uint16_t>(0x0200 | id), len);
            FUR_DATA d = Fresh();
            ASSERT_EQ(Parse(frame, &d), frame.size());
            EXPECT_EQ(d.status, PARSE_OK);
            EXPECT_EQ(d.command, static_cast<int>(id) - 53) << id;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Parsing received bytes

TEST(FurParse, ShortBuffers) {
    FUR_DATA d = Fresh();
    EXPECT_EQ(parsefur(nullptr, 0, &d), 0u);
    EXPECT_EQ(d.status, PARSE_NO_FRAME);
    const uint8_t f1 = 0xF1, d9 = 0xD9, zero = 0;
    d = Fresh();
    EXPECT_EQ(parsefur(&f1, 1, &d), 0u);
    EXPECT_EQ(d.status, PARSE_NO_FRAME);
    EXPECT_EQ(parsefur(&d9, 1, &d), 1u);
    EXPECT_EQ(parsefur(&zero, 1, &d), 1u);
}

TEST(FurParse, NoiseIsConsumedExceptAFinalF1) {
    std::mt19937 rng(42);
    for (size_t n : {2u, 3u, 17u, 1000u, 70000u}) {
        Bytes noise(n);
        for (auto& b : noise) b = static_cast<uint8_t>(rng() % 0xD9);  // never F1 or D9
        noise[(n - 1) / 2] = 0xF1;  // an F1 not followed by D9 is just noise
        FUR_DATA d = Fresh();
        uint32_t expected = std::min<size_t>(n, kFurMaxParseCount);
        EXPECT_EQ(Parse(noise, &d), expected) << n;
        EXPECT_EQ(d.status, PARSE_NO_FRAME);
        EXPECT_EQ(d.payloadOffset, 0);
        EXPECT_EQ(d.payloadLength, 0);
        noise.push_back(0xF1);
        d = Fresh();
        EXPECT_EQ(Parse(noise, &d), std::min<size_t>(n, kFurMaxParseCount)) << n;
    }
}

TEST(FurParse, PartialFrameStaysInTheBuffer) {
    Bytes frame = MakeFrame(CFG_CFG, RecordBytes(FUR_PACKET_CFG_CFG{2, 7}));
    Bytes noise = Hex("00 11 F1 22");
    for (size_t keep = 2; keep < frame.size(); ++keep) {
        Bytes buf = Concat({noise, Bytes(frame.begin(), frame.begin() + keep)});
        FUR_DATA d = Fresh();
        EXPECT_EQ(Parse(buf, &d), noise.size()) << keep;
        EXPECT_EQ(d.status, PARSE_NO_FRAME);
        // Once the length is in, it is reported although the frame is incomplete.
        EXPECT_EQ(d.payloadLength, keep >= 8 ? 8 : 0);
    }
    // A lone F1 at the end is kept as a possible start of a sync.
    Bytes buf = Concat({noise, Hex("F1")});
    FUR_DATA d = Fresh();
    EXPECT_EQ(Parse(buf, &d), noise.size());
}

TEST(FurParse, TooLongLengthIsSkippedAndAGoodFrameStillFound) {
    Bytes tooLong = Hex("F1 D9 0A 04 09 27 00 00 00 00");  // N = 9993
    Bytes good = MakeFrame(ACK_ACK, Hex("F4 05"));
    Bytes buf = Concat({Hex("55"), tooLong, good, Hex("77")});
    FUR_DATA d = Fresh();
    EXPECT_EQ(Parse(buf, &d), 1 + tooLong.size() + good.size());
    EXPECT_EQ(d.status, PARSE_OK);
    EXPECT_EQ(d.command, ACK_ACK);
    EXPECT_EQ(d.payloadOffset, static_cast<int32_t>(1 + tooLong.size() + 6));
    EXPECT_EQ(d.payloadLength, 2);

    // With nothing after it, the status stays 3 ...
    d = Fresh();
    buf = Concat({tooLong, Hex("01 02")});
    EXPECT_EQ(Parse(buf, &d), buf.size());
    EXPECT_EQ(d.status, PARSE_TOO_LONG);
    EXPECT_EQ(d.payloadLength, 9993);
    // ... also when the scan then stops at an incomplete frame.
    d = Fresh();
    buf = Concat({tooLong, Bytes(good.begin(), good.end() - 1)});
    EXPECT_EQ(Parse(buf, &d), tooLong.size());
    EXPECT_EQ(d.status, PARSE_TOO_LONG);
    // The largest length is not too long; it simply waits for the rest.
    d = Fresh();
    buf = Hex("F1 D9 0A 04 08 27 00 00 00 00");
    EXPECT_EQ(Parse(buf, &d), 0u);
    EXPECT_EQ(d.status, PARSE_NO_FRAME);
}

TEST(FurParse, BadChecksumConsumesTheWholeFrame) {
    Bytes good = MakeFwpgFrame(0xC0000000, 3, Bytes(100, 0x42));
    for (size_t flip : {size_t{2}, size_t{3}, size_t{20}, good.size() - 2, good.size() - 1}) {
        Bytes frame = good;
        frame[flip] ^= 0x01;
        Bytes buf = Concat({Hex("00"), frame, good});
        FUR_DATA d = Fresh();
        EXPECT_EQ(Parse(buf, &d), 1 + frame.size()) << flip;
        EXPECT_EQ(d.status, PARSE_BAD_CHECKSUM) << flip;
        EXPECT_EQ(d.command, -7);
        // The next call finds the good frame right after it.
        d = Fresh();
        EXPECT_EQ(parsefur(buf.data() + 1 + frame.size(), static_cast<uint32_t>(good.size()), &d),
                  good.size());
        EXPECT_EQ(d.status, PARSE_OK);
    }
}

TEST(FurParse, UnknownCodeLeavesCommandUnchanged) {
    for (uint16_t code : {0x0105, 0x0000, 0xF4FF, 0x0A07}) {  // 0A 07 needs 4 bytes
        Bytes frame = RawFrame(code, 2);
        FUR_DATA d = Fresh();
        EXPECT_EQ(Parse(frame, &d), frame.size());
        EXPECT_EQ(d.status, PARSE_UNKNOWN_CMD) << code;
        EXPECT_EQ(d.command, -7);
        EXPECT_EQ(d.payloadOffset, 6);
    }
}

TEST(FurParse, BackToBackFramesComeOneByOne) {
    Bytes first = MakeFrame(VERSION_DATA, Bytes(40, 'v'));
    Bytes second = MakeFrame(ACK_NAK, Hex("0A 04"));
    Bytes buf = Concat({Hex("F1 F1"), first, second});  // F1 F1 D9: the sync is the second F1
    FUR_DATA d = Fresh();
    uint32_t used = Parse(buf, &d);
    EXPECT_EQ(used, 2 + first.size());
    EXPECT_EQ(d.status, PARSE_OK);
    EXPECT_EQ(d.command, VERSION_DATA);
    EXPECT_EQ(d.payloadOffset, 8);
    EXPECT_EQ(d.payloadLength, 40);
    EXPECT_EQ(Bytes(FurPayload(buf, d).begin(), FurPayload(buf, d).end()), Bytes(40, 'v'));

    d = Fresh();
    Bytes rest(buf.begin() + used, buf.end());
    EXPECT_EQ(Parse(rest, &d), second.size());
    EXPECT_EQ(d.command, ACK_NAK);
    FUR_PACKET_ACK_ACK ack{};
    ASSERT_TRUE(ReadRecord(FurPayload(rest, d), &ack));
    EXPECT_EQ(ack.ackClass, 0x0A);
    EXPECT_EQ(ack.ackId, 0x04);
}

TEST(FurParse, LargeBuffersAreTakenInSlices) {
    // Only the first 65,535 bytes are examined per call; a frame beyond them is found later.
    Bytes frame = MakeFrame(BOOT2_SPINORID_DATA, Hex("EF 40 18 00"));
    for (size_t at : {size_t{65530}, size_t{65535}, size_t{70000}}) {
        Bytes buf = Concat({Bytes(at, 0x00), frame});
        size_t pos = 0;
        FUR_DATA d{};
        int calls = 0;
        do {
            d = Fresh();
            pos += parsefur(buf.data() + pos, static_cast<uint32_t>(buf.size() - pos), &d);
            ASSERT_LT(++calls, 5);
        } while (d.status != PARSE_OK);
        EXPECT_EQ(pos, buf.size()) << at;
        EXPECT_EQ(d.command, BOOT2_SPINORID_DATA);
    }
}

TEST(FurParse, RandomStreamInRandomChunksYieldsEveryFrame) {
    // A receiver that appends chunks, parses and drops what is finished, as the command layer
    // does; noise between frames must not hide or invent frames.
    std::mt19937 rng(7);
    std::vector<Bytes> frames;
    Bytes stream;
    for (int i = 0; i < 300; ++i) {
        for (uint32_t k = rng() % 5; k > 0; --k)
            stream.push_back(static_cast<uint8_t>(rng() % 0xD9));
        FUR_CMD_NAME cmd = static_cast<FUR_CMD_NAME>(rng() % 2 ? ACK_ACK : VERSION_DATA);
        Bytes payload(cmd == ACK_ACK ? 2 : 32 + rng() % 3000);
        for (auto& b : payload) b = static_cast<uint8_t>(rng());
        frames.push_back(payload);
        Bytes f = MakeFrame(cmd, payload);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    Bytes pending;
    std::vector<Bytes> got;
    for (size_t at = 0; at < stream.size();) {
        size_t chunk = std::min<size_t>(1 + rng() % 700, stream.size() - at);
        pending.insert(pending.end(), stream.begin() + at, stream.begin() + at + chunk);
        at += chunk;
        for (;;) {
            FUR_DATA d = Fresh();
            uint32_t used = Parse(pending, &d);
            ASSERT_LE(used, pending.size());
            if (d.status == PARSE_OK) {
                auto p = FurPayload(pending, d);
                got.emplace_back(p.begin(), p.end());
            } else {
                EXPECT_EQ(d.status, PARSE_NO_FRAME);
            }
            pending.erase(pending.begin(), pending.begin() + used);
            if (used == 0 || pending.empty()) break;
        }
    }
    EXPECT_EQ(got, frames);
}
