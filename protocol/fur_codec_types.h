#pragma once
// Types of the FUR frame protocol: the command vocabulary, the command table behind it, the
// in-memory header, the parse result and the payload records. Everything here is constant data
// or plain records; the operations are in protocol/fur_codec.h.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

// Payload records are overlaid on little-endian wire bytes.
static_assert(std::endian::native == std::endian::little,
              "FUR records assume a little-endian host");

// Every frame kind the codec knows. A value is not simply the 16-bit code: a code may stand for
// several values that differ in the minimum payload length (a request with an empty payload and
// the reply with data). Values the tool sends or expects carry their names; the others are
// named FUR_<class>_<id>_MIN<minimum payload length>, and the class 0x02 range FUR_02_<id>.
enum FUR_CMD_NAME : int32_t {
    FUR_01_01_MIN0 = 0,
    FUR_01_01_MIN20 = 1,
    FUR_01_02_MIN0 = 2,
    FUR_01_02_MIN28 = 3,
    FUR_01_03_MIN0 = 4,
    FUR_01_03_MIN16 = 5,
    FUR_01_04_MIN0 = 6,
    FUR_01_04_MIN18 = 7,
    FUR_01_11_MIN0 = 8,
    FUR_01_11_MIN20 = 9,
    FUR_01_12_MIN0 = 10,
    FUR_01_12_MIN36 = 11,
    FUR_01_20_MIN0 = 12,
    FUR_01_20_MIN16 = 13,
    FUR_01_21_MIN0 = 14,
    FUR_01_21_MIN20 = 15,
    FUR_01_22_MIN0 = 16,
    FUR_01_22_MIN20 = 17,
    FUR_01_30_MIN0 = 18,
    FUR_01_30_MIN8 = 19,
    FUR_01_C0_MIN0 = 20,
    FUR_01_C0_MIN32 = 21,
    FUR_01_C1_MIN0 = 22,
    FUR_01_C1_MIN22 = 23,
    FUR_02_01_MIN1 = 24,
    FUR_02_02_MIN12 = 25,
    FUR_02_4F_MIN1 = 26,
    FUR_02_50 = 27,
    FUR_02_51 = 28,
    FUR_02_52 = 29,
    FUR_02_53 = 30,
    FUR_02_54 = 31,
    FUR_02_55 = 32,
    FUR_02_56 = 33,
    FUR_02_57 = 34,
    FUR_02_58 = 35,
    FUR_02_59 = 36,
    FUR_02_5A = 37,
    FUR_02_5B = 38,
    FUR_02_5C = 39,
    FUR_02_5D = 40,
    FUR_02_5E = 41,
    FUR_02_5F = 42,
    FUR_02_60 = 43,
    FUR_02_61 = 44,
    FUR_02_62 = 45,
    FUR_02_63 = 46,
    FUR_02_64 = 47,
    FUR_02_65 = 48,
    FUR_02_66 = 49,
    FUR_02_67 = 50,
    FUR_02_68 = 51,
    FUR_02_69 = 52,
    FUR_02_6A = 53,
    FUR_02_6B = 54,
    FUR_02_6C = 55,
    FUR_02_6D = 56,
    FUR_02_6E = 57,
    FUR_02_6F = 58,
    FUR_02_70 = 59,
    FUR_02_71 = 60,
    FUR_02_72 = 61,
    FUR_02_73 = 62,
    FUR_02_74 = 63,
    FUR_02_75 = 64,
    FUR_02_76 = 65,
    FUR_02_77 = 66,
    FUR_02_78 = 67,
    FUR_02_79 = 68,
    FUR_02_7A = 69,
    FUR_02_7B = 70,
    FUR_02_7C = 71,
    FUR_02_7D = 72,
    FUR_02_7E = 73,
    FUR_02_7F = 74,
    FUR_02_80 = 75,
    FUR_02_81 = 76,
    FUR_02_82 = 77,
    FUR_02_83 = 78,
    FUR_02_84 = 79,
    FUR_02_85 = 80,
    FUR_02_86 = 81,
    FUR_02_87 = 82,
    FUR_02_88 = 83,
    FUR_02_89 = 84,
    FUR_02_8A = 85,
    FUR_02_8B = 86,
    FUR_02_8C = 87,
    FUR_02_8D = 88,
    FUR_02_8E = 89,
    FUR_02_8F = 90,
    FUR_02_90 = 91,
    FUR_02_91 = 92,
    FUR_02_92 = 93,
    FUR_02_93 = 94,
    FUR_02_94 = 95,
    FUR_02_95 = 96,
    FUR_02_96 = 97,
    FUR_02_97 = 98,
    FUR_02_98 = 99,
    FUR_02_99 = 100,
    FUR_02_9A = 101,
    FUR_02_9B = 102,
    FUR_02_9C = 103,
    FUR_02_9D = 104,
    FUR_02_9E = 105,
    FUR_02_9F = 106,
    FUR_02_A0 = 107,
    FUR_02_A1 = 108,
    FUR_02_A2 = 109,
    FUR_02_A3 = 110,
    FUR_02_A4 = 111,
    FUR_02_A5 = 112,
    FUR_02_A6 = 113,
    FUR_02_A7 = 114,
    FUR_02_A8 = 115,
    FUR_02_A9 = 116,
    FUR_02_AA = 117,
    FUR_02_AB = 118,
    FUR_02_AC = 119,
    FUR_02_AD = 120,
    FUR_02_AE = 121,
    FUR_02_AF = 122,
    FUR_02_B0 = 123,
    FUR_02_B1 = 124,
    FUR_02_B2 = 125,
    FUR_02_B3 = 126,
    FUR_02_B4 = 127,
    FUR_02_B5 = 128,
    FUR_02_B6 = 129,
    FUR_02_B7 = 130,
    FUR_02_B8 = 131,
    FUR_02_B9 = 132,
    FUR_02_BA = 133,
    FUR_02_BB = 134,
    FUR_02_BC = 135,
    FUR_02_BD = 136,
    FUR_02_BE = 137,
    FUR_02_BF = 138,
    FUR_02_C0 = 139,
    FUR_02_C1 = 140,
    FUR_02_C2 = 141,
    FUR_02_C3 = 142,
    FUR_02_C4 = 143,
    FUR_02_C5 = 144,
    FUR_02_C6 = 145,
    FUR_02_C7 = 146,
    FUR_02_C8 = 147,
    FUR_02_C9 = 148,
    FUR_02_CA = 149,
    FUR_02_CB = 150,
    FUR_02_CC = 151,
    FUR_02_CD = 152,
    FUR_02_CE = 153,
    FUR_02_CF = 154,
    FUR_02_D0 = 155,
    FUR_02_D1 = 156,
    FUR_02_D2 = 157,
    FUR_02_D3 = 158,
    FUR_02_D4 = 159,
    FUR_02_D5 = 160,
    FUR_02_D6 = 161,
    FUR_02_D7 = 162,
    FUR_02_D8 = 163,
    FUR_02_D9 = 164,
    FUR_02_DA = 165,
    FUR_02_DB = 166,
    FUR_02_DC = 167,
    FUR_02_DD = 168,
    FUR_02_DE = 169,
    FUR_02_DF = 170,
    FUR_02_E0 = 171,
    FUR_02_E1 = 172,
    FUR_02_E2 = 173,
    FUR_02_E3 = 174,
    FUR_02_E4 = 175,
    FUR_02_E5 = 176,
    FUR_02_E6 = 177,
    FUR_02_E7 = 178,
    FUR_02_E8 = 179,
    FUR_02_E9 = 180,
    FUR_02_EA = 181,
    FUR_02_EB = 182,
    FUR_02_EC = 183,
    FUR_02_ED = 184,
    FUR_02_EE = 185,
    FUR_02_EF = 186,
    FUR_02_F0 = 187,
    FUR_02_F1 = 188,
    FUR_02_F2 = 189,
    FUR_02_F3 = 190,
    FUR_02_F4 = 191,
    FUR_02_F5 = 192,
    FUR_02_F6 = 193,
    FUR_02_F7 = 194,
    FUR_02_F8 = 195,
    FUR_02_F9 = 196,
    FUR_02_FA = 197,
    FUR_02_FB = 198,
    FUR_02_FC = 199,
    FUR_02_FD = 200,
    FUR_02_FE = 201,
    FUR_02_FF = 202,
    FUR_UNUSED_203 = 203,
    ACK_NAK = 204,
    ACK_ACK = 205,
    FUR_06_00_MIN1 = 206,
    FUR_06_00_MIN8 = 207,
    FUR_06_01_MIN2 = 208,
    FUR_06_01_MIN3 = 209,
    FUR_06_07_MIN0 = 210,
    FUR_06_07_MIN5 = 211,
    FUR_06_08_MIN0 = 212,
    FUR_06_08_MIN6 = 213,
    CFG_CFG = 214,
    FUR_06_0A_MIN0 = 215,
    FUR_06_0A_MIN4 = 216,
    FUR_06_0B_MIN0 = 217,
    FUR_06_0B_MIN8 = 218,
    FUR_06_0C_MIN0 = 219,
    FUR_06_0C_MIN4 = 220,
    FUR_06_0D_MIN0 = 221,
    FUR_06_0D_MIN16 = 222,
    CFG_SIMPLERST = 223,
    FUR_06_41_MIN4 = 224,
    FUR_06_42_MIN20 = 225,
    CFG_FWUP = 226,
    FUR_06_58_MIN0 = 227,
    FUR_06_F0_MIN1 = 228,
    FUR_06_F1_MIN2 = 229,
    FUR_06_F2_MIN1 = 230,
    FUR_06_F5_MIN8 = 231,
    VERSION_POLL = 232,
    VERSION_DATA = 233,
    FUR_0A_05_MIN0 = 234,
    FUR_0A_05_MIN2 = 235,
    FUR_0A_06_MIN4 = 236,
    BOOTMEM_DATA = 237,
    FUR_0B_01_MIN0 = 238,
    FUR_0B_01_MIN48 = 239,
    FUR_0B_30_MIN0 = 240,
    FUR_0B_30_MIN1 = 241,
    FUR_0B_30_MIN40 = 242,
    FUR_0B_31_MIN0 = 243,
    FUR_0B_31_MIN1 = 244,
    FUR_0B_31_MIN104 = 245,
    FUR_0B_31_MIN152 = 246,
    FUR_0B_33_MIN9 = 247,
    FUR_F0_00_MIN0 = 248,
    FUR_F0_01_MIN0 = 249,
    FUR_F0_02_MIN0 = 250,
    FUR_F0_03_MIN0 = 251,
    FUR_F0_03_MIN4 = 252,
    FUR_F0_04_MIN0 = 253,
    FUR_F0_05_MIN0 = 254,
    FUR_F0_06_MIN0 = 255,
    FUR_F0_07_MIN0 = 256,
    FUR_F0_07_MIN4 = 257,
    FUR_F0_08_MIN0 = 258,
    FUR_F0_08_MIN4 = 259,
    FUR_F0_09_MIN6 = 260,
    FUR_F0_10_MIN4 = 261,
    FUR_F0_10_MIN6 = 262,
    FUR_F0_11_MIN16 = 263,
    FUR_F0_11_MIN28 = 264,
    FUR_F0_12_MIN12 = 265,
    FUR_F0_12_MIN24 = 266,
    FUR_F0_13_MIN1 = 267,
    FUR_F0_13_MIN2 = 268,
    FUR_F0_14_MIN0 = 269,
    FUR_F0_15_MIN0 = 270,
    FUR_F1_00_MIN5 = 271,
    FUR_F1_01_MIN21 = 272,
    FUR_F1_02_MIN1 = 273,
    FUR_F1_03_MIN3 = 274,
    FUR_F1_04_MIN1 = 275,
    FUR_F1_04_MIN9 = 276,
    FUR_F1_20_MIN13 = 277,
    FUR_F1_21_MIN5 = 278,
    FUR_F1_22_MIN5 = 279,
    FUR_F1_B0_MIN4 = 280,
    FUR_F4_00_MIN4 = 281,
    FUR_F4_01_MIN2 = 282,
    FUR_F4_02_MIN4 = 283,
    FUR_F4_03_MIN8 = 284,
    FUR_F4_04_MIN2 = 285,
    BOOT2_FWPG = 286,
    BOOT2_RUN = 287,
    FUR_F4_07_MIN1 = 288,
    FUR_F4_07_MIN4 = 289,
    FUR_F4_08_MIN4 = 290,
    FUR_F4_09_MIN4 = 291,
    FUR_F4_0A_MIN6 = 292,
    FUR_F4_0A_MIN4 = 293,
    FUR_F4_0B_MIN4 = 294,
    FUR_F4_0C_MIN6 = 295,
    FUR_F4_0C_MIN4 = 296,
    FUR_F4_0D_MIN7 = 297,
    FUR_F4_0E_MIN6 = 298,
    FUR_F4_0E_MIN2 = 299,
    FUR_F4_0F_MIN4 = 300,
    FUR_F4_10_MIN6 = 301,
    FUR_F4_10_MIN4 = 302,
    FUR_F4_11_MIN4 = 303,
    FUR_F4_12_MIN4 = 304,
    FUR_F4_20_MIN1 = 305,
    FUR_F4_21_MIN0 = 306,
    FUR_F4_22_MIN4 = 307,
    FUR_F4_22_MIN2 = 308,
    FUR_F4_50_MIN20 = 309,
    FUR_F4_50_MIN16 = 310,
    BOOT2_SPINORID_POLL = 311,
    BOOT2_SPINORID_DATA = 312,
    BOOT2_SPINORRD_POLL = 313,
    BOOT2_SPINORRD_DATA = 314,
    FUR_FE_01_MIN0 = 315,
    FUR_FE_01_MIN16 = 316,
    FUR_FE_02_MIN4 = 317,
    FUR_FE_03_MIN1 = 318,
    FUR_FE_03_MIN5 = 319,
    FUR_FE_04_MIN0 = 320,
    FUR_FE_04_MIN256 = 321,
};

// Number of FUR_CMD_NAME values (0 to 321).
inline constexpr int32_t kFurCmdCount = 322;

// One row of the command table: the 16-bit code (class in the high byte) and the smallest
// payload length a frame of this kind carries.
struct FUR_CMD_ROW {
    uint16_t code;
    uint32_t minLength;
};

// The command table. The order matters: a value is its row index (below 27) or row + 168
// (rows 36 onward), and decoding runs a binary search over the rows exactly as stored, even
// where a code's rows are not sorted. Rows 27 to 35 only bound the class 0x02 range.
inline constexpr std::array<FUR_CMD_ROW, 154> FUR_CMD_TABLE{{
    {0x0101, 0},    // row 0
    {0x0101, 20},   // row 1
    {0x0102, 0},    // row 2
    {0x0102, 28},   // row 3
    {0x0103, 0},    // row 4
    {0x0103, 16},   // row 5
    {0x0104, 0},    // row 6
    {0x0104, 18},   // row 7
    {0x0111, 0},    // row 8
    {0x0111, 20},   // row 9
    {0x0112, 0},    // row 10
    {0x0112, 36},   // row 11
    {0x0120, 0},    // row 12
    {0x0120, 16},   // row 13
    {0x0121, 0},    // row 14
    {0x0121, 20},   // row 15
    {0x0122, 0},    // row 16
    {0x0122, 20},   // row 17
    {0x0130, 0},    // row 18
    {0x0130, 8},    // row 19
    {0x01C0, 0},    // row 20
    {0x01C0, 32},   // row 21
    {0x01C1, 0},    // row 22
    {0x01C1, 22},   // row 23
    {0x0201, 1},    // row 24
    {0x0202, 12},   // row 25
    {0x024F, 1},    // row 26
    {0x0250, 0},    // row 27
    {0x0251, 0},    // row 28
    {0x0252, 0},    // row 29
    {0x0253, 0},    // row 30
    {0x0254, 0},    // row 31
    {0x0255, 0},    // row 32
    {0x0256, 0},    // row 33
    {0x0257, 0},    // row 34
    {0x02FF, 0},    // row 35
    {0x0500, 2},    // row 36
    {0x0501, 2},    // row 37
    {0x0600, 1},    // row 38
    {0x0600, 8},    // row 39
    {0x0601, 2},    // row 40
    {0x0601, 3},    // row 41
    {0x0607, 0},    // row 42
    {0x0607, 5},    // row 43
    {0x0608, 0},    // row 44
    {0x0608, 6},    // row 45
    {0x0609, 8},    // row 46
    {0x060A, 0},    // row 47
    {0x060A, 4},    // row 48
    {0x060B, 0},    // row 49
    {0x060B, 8},    // row 50
    {0x060C, 0},    // row 51
    {0x060C, 4},    // row 52
    {0x060D, 0},    // row 53
    {0x060D, 16},   // row 54
    {0x0640, 1},    // row 55
    {0x0641, 4},    // row 56
    {0x0642, 20},   // row 57
    {0x0650, 1},    // row 58
    {0x0658, 0},    // row 59
    {0x06F0, 1},    // row 60
    {0x06F1, 2},    // row 61
    {0x06F2, 1},    // row 62
    {0x06F5, 8},    // row 63
    {0x0A04, 0},    // row 64
    {0x0A04, 32},   // row 65
    {0x0A05, 0},    // row 66
    {0x0A05, 2},    // row 67
    {0x0A06, 4},    // row 68
    {0x0A07, 4},    // row 69
    {0x0B01, 0},    // row 70
    {0x0B01, 48},   // row 71
    {0x0B30, 0},    // row 72
    {0x0B30, 1},    // row 73
    {0x0B30, 40},   // row 74
    {0x0B31, 0},    // row 75
    {0x0B31, 1},    // row 76
    {0x0B31, 104},  // row 77
    {0x0B31, 152},  // row 78
    {0x0B33, 9},    // row 79
    {0xF000, 0},    // row 80
    {0xF001, 0},    // row 81
    {0xF002, 0},    // row 82
    {0xF003, 0},    // row 83
    {0xF003, 4},    // row 84
    {0xF004, 0},    // row 85
    {0xF005, 0},    // row 86
    {0xF006, 0},    // row 87
    {0xF007, 0},    // row 88
    {0xF007, 4},    // row 89
    {0xF008, 0},    // row 90
    {0xF008, 4},    // row 91
    {0xF009, 6},    // row 92
    {0xF010, 4},    // row 93
    {0xF010, 6},    // row 94
    {0xF011, 16},   // row 95
    {0xF011, 28},   // row 96
    {0xF012, 12},   // row 97
    {0xF012, 24},   // row 98
    {0xF013, 1},    // row 99
    {0xF013, 2},    // row 100
    {0xF014, 0},    // row 101
    {0xF015, 0},    // row 102
    {0xF100, 5},    // row 103
    {0xF101, 21},   // row 104
    {0xF102, 1},    // row 105
    {0xF103, 3},    // row 106
    {0xF104, 1},    // row 107
    {0xF104, 9},    // row 108
    {0xF120, 13},   // row 109
    {0xF121, 5},    // row 110
    {0xF122, 5},    // row 111
    {0xF1B0, 4},    // row 112
    {0xF400, 4},    // row 113
    {0xF401, 2},    // row 114
    {0xF402, 4},    // row 115
    {0xF403, 8},    // row 116
    {0xF404, 2},    // row 117
    {0xF405, 6},    // row 118
    {0xF406, 4},    // row 119
    {0xF407, 1},    // row 120
    {0xF407, 4},    // row 121
    {0xF408, 4},    // row 122
    {0xF409, 4},    // row 123
    {0xF40A, 6},    // row 124
    {0xF40A, 4},    // row 125
    {0xF40B, 4},    // row 126
    {0xF40C, 6},    // row 127
    {0xF40C, 4},    // row 128
    {0xF40D, 7},    // row 129
    {0xF40E, 6},    // row 130
    {0xF40E, 2},    // row 131
    {0xF40F, 4},    // row 132
    {0xF410, 6},    // row 133
    {0xF410, 4},    // row 134
    {0xF411, 4},    // row 135
    {0xF412, 4},    // row 136
    {0xF420, 1},    // row 137
    {0xF421, 0},    // row 138
    {0xF422, 4},    // row 139
    {0xF422, 2},    // row 140
    {0xF450, 20},   // row 141
    {0xF450, 16},   // row 142
    {0xF430, 0},    // row 143
    {0xF430, 4},    // row 144
    {0xF431, 6},    // row 145
    {0xF431, 4},    // row 146
    {0xFE01, 0},    // row 147
    {0xFE01, 16},   // row 148
    {0xFE02, 4},    // row 149
    {0xFE03, 1},    // row 150
    {0xFE03, 5},    // row 151
    {0xFE04, 0},    // row 152
    {0xFE04, 256},  // row 153
}};

// First and last table rows of the class 0x02 range, whose values come from the id alone.
inline constexpr int kFurClass2FirstRow = 27;
inline constexpr int kFurClass2LastRow = 35;
// Offset between a value and its table row for rows 36 onward.
inline constexpr int kFurRowValueShift = 168;

// Distance from the start of FUR_HEADER to its sync field: a header laid over a send buffer
// begins this many bytes before the buffer, so the buffer starts with the sync.
inline constexpr int AdditionalOffset = 2;

// Outcome of parsefur.
enum FUR_PARSE_RESULT : int32_t {
    PARSE_OK = 0,            // checksum good and command known
    PARSE_UNKNOWN_CMD = 1,   // checksum good, but code and length match no table row
    PARSE_BAD_CHECKSUM = 2,  // frame complete, checksum wrong
    PARSE_TOO_LONG = 3,      // a length field announced a frame over 10000 bytes
    PARSE_NO_FRAME = 4,      // no complete frame
};

#pragma pack(push, 1)

// In-memory frame header. `reserved` is never read, written or sent.
struct FUR_HEADER {
    uint8_t reserved[2];
    uint16_t sync;
    uint8_t msgClass;
    uint8_t msgId;
    uint16_t length;
};

// What parsefur reports about the frame it found. Callers zero payloadOffset and payloadLength
// before each call; `command` is written only for PARSE_OK.
struct FUR_DATA {
    FUR_PARSE_RESULT status;
    FUR_CMD_NAME command;
    int32_t payloadOffset;  // sync offset + 6, from the start of the parsed buffer
    int32_t payloadLength;  // N as read from the length field
};

// Payload of ACK_ACK and ACK_NAK: class and id of the command being answered.
struct FUR_PACKET_ACK_ACK {
    uint8_t ackClass;
    uint8_t ackId;
};

struct FUR_PACKET_CFG_SIMPLERST {
    uint8_t resetType;  // the tool sends 0
};

struct FUR_PACKET_CFG_FWUP {
    uint8_t param;  // the tool sends 16 to start the firmware receiver
};

struct FUR_PACKET_CFG_CFG {
    uint32_t value1;  // the tool sends 2
    uint32_t value2;  // the tool sends 7
};

// Followed directly by the data to program; N = 6 + data length, data length even.
struct FUR_PACKET_BOOT2_FWPG {
    uint32_t address;  // device address of the first data byte
    uint16_t index;    // packet number
};

struct FUR_PACKET_BOOT2_RUN {
    uint32_t address;  // where the device starts executing
};

struct FUR_PACKET_BOOT2_SPINORRD_POLL {
    uint32_t address;  // SPI-NOR flash address
    uint16_t length;   // bytes to read
};

struct FUR_PACKET_BOOT2_SPINORID_DATA {
    uint8_t id[4];  // the flash chip's identification bytes
};

#pragma pack(pop)

static_assert(sizeof(FUR_HEADER) == 8);
static_assert(offsetof(FUR_HEADER, sync) == AdditionalOffset);
static_assert(offsetof(FUR_HEADER, length) == AdditionalOffset + 4);
static_assert(sizeof(FUR_DATA) == 16);
static_assert(offsetof(FUR_DATA, payloadLength) == 12);
static_assert(sizeof(FUR_CMD_NAME) == 4 && sizeof(FUR_PARSE_RESULT) == 4);
static_assert(sizeof(FUR_PACKET_ACK_ACK) == 2);
static_assert(sizeof(FUR_PACKET_CFG_SIMPLERST) == 1);
static_assert(sizeof(FUR_PACKET_CFG_FWUP) == 1);
static_assert(sizeof(FUR_PACKET_CFG_CFG) == 8);
static_assert(sizeof(FUR_PACKET_BOOT2_FWPG) == 6);
static_assert(sizeof(FUR_PACKET_BOOT2_RUN) == 4);
static_assert(sizeof(FUR_PACKET_BOOT2_SPINORRD_POLL) == 6);
static_assert(sizeof(FUR_PACKET_BOOT2_SPINORID_DATA) == 4);

// The named values sit on the rows that carry their codes and minimum lengths.
static_assert(FUR_CMD_TABLE[ACK_NAK - kFurRowValueShift].code == 0x0500);
static_assert(FUR_CMD_TABLE[ACK_ACK - kFurRowValueShift].code == 0x0501);
static_assert(FUR_CMD_TABLE[CFG_CFG - kFurRowValueShift].code == 0x0609);
static_assert(FUR_CMD_TABLE[CFG_SIMPLERST - kFurRowValueShift].code == 0x0640);
static_assert(FUR_CMD_TABLE[CFG_FWUP - kFurRowValueShift].code == 0x0650);
static_assert(FUR_CMD_TABLE[VERSION_POLL - kFurRowValueShift].minLength == 0);
static_assert(FUR_CMD_TABLE[VERSION_DATA - kFurRowValueShift].minLength == 32);
static_assert(FUR_CMD_TABLE[BOOTMEM_DATA - kFurRowValueShift].code == 0x0A07);
static_assert(FUR_CMD_TABLE[BOOT2_FWPG - kFurRowValueShift].code == 0xF405);
static_assert(FUR_CMD_TABLE[BOOT2_RUN - kFurRowValueShift].code == 0xF406);
static_assert(FUR_CMD_TABLE[BOOT2_SPINORID_DATA - kFurRowValueShift].code == 0xF430);
static_assert(FUR_CMD_TABLE[BOOT2_SPINORRD_DATA - kFurRowValueShift].minLength == 4);
static_assert(FUR_CMD_TABLE[kFurClass2FirstRow].code == 0x0250);
static_assert(FUR_CMD_TABLE[kFurClass2LastRow].code == 0x02FF);
static_assert(FUR_CMD_TABLE.size() + kFurRowValueShift == kFurCmdCount);
