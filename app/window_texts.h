#pragma once
// Texts, addresses and settings defaults of the window, kept apart from any toolkit so that the
// Qt window, the terminal view and the tests use the same strings. Line ends are "\r\n" as the
// window stores them; a view shows them as line breaks.
#include <string_view>

namespace texts {

// Product line: the window title and label5.
inline constexpr std::string_view kBrandName = "Velloran";
inline constexpr std::string_view kProductLine = "Velloran CADDORA for MDL4100/MDL4200";
inline constexpr std::string_view kVersion = "Ver 1.00";
inline constexpr std::string_view kLegalNotice = "Copyright (C) Velloran. All rights reserved.";
inline constexpr std::string_view kMakerUrl = "https://www.example.com/caddora/";
inline constexpr std::string_view kMemberUrl = "https://verdant-club.example.com/";

// Tab captions.
inline constexpr std::string_view kTabPoints = "地点データ";
inline constexpr std::string_view kTabCourse = "コースデータ";
inline constexpr std::string_view kTabFirmware = "ファームウェア";
inline constexpr std::string_view kTabVersion = "バージョン情報";

inline constexpr std::string_view kLabel9 =
    "CADDORAに保存した地点データを\r\nPCに取り込みます。\r\n";
inline constexpr std::string_view kLabel11 =
    "CADDORAのゴルフ場データをアップデートします。\r\nアップデートには約10分かかります。\r\n"
    "書込み中はUSBケーブルを抜かないでください。\r\nデータが破損する恐れがあります。";
inline constexpr std::string_view kLabel18 = "\n<VERDANT CLUB>";
inline constexpr std::string_view kLabel12 =
    "ファームウェアをアップデートします。\r\n\r\n書込み中はUSBケーブルを抜かないでください。\r\n"
    "データが破損する恐れがあります。\r\n\r\n";

// Hidden settings: labels and default texts.
inline constexpr std::string_view kUpAddrLabel = "UpAddr(0x):";
inline constexpr std::string_view kUpLenLabel = "Length:";
inline constexpr std::string_view kPatchAddrLabel = "PatchAddr(0x):";
inline constexpr std::string_view kPacketsLabel = "Packets:";
inline constexpr std::string_view kUpAddrDefault = "0";
inline constexpr std::string_view kUpLenDefault = "786432";
inline constexpr std::string_view kPatchAddrDefault = "2622d";
inline constexpr std::string_view kPacketsDefault = "0";

// Messages of the jobs.
inline constexpr std::string_view kErrorText = "Error!";
inline constexpr std::string_view kErrorCaption = "Error";
inline constexpr std::string_view kWriteDone = "データの書込みが完了しました。";
inline constexpr std::string_view kFileTooLarge = "Input file is too large";
inline constexpr std::string_view kBadChecksum = "Incorrect checksum";

// Open-file dialogs.
inline constexpr std::string_view kFirmwareExt = "ckfm";
inline constexpr std::string_view kFirmwareFilter = "Packed Firmware Files|*.ckfm";
inline constexpr std::string_view kCourseFilter = "kzip File|*.kzip";
inline constexpr std::string_view kCourseFileName = "index4.kzip";

}  // namespace texts
