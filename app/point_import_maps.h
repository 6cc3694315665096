#pragma once
// The window's side of saving maps after a point import: its texts and the message box shown
// when a map could not be saved (the import itself has worked then: its CSV file is complete).
#include <string>
#include <string_view>

#include "app/job_result.h"

namespace texts {
inline constexpr std::string_view kAlsoSaveMaps = "GPX・KMLファイルも保存する";
inline constexpr std::string_view kMapsNotSaved = "GPX・KMLファイルを保存できませんでした。";
}  // namespace texts

// "GPX・KMLファイルを保存できませんでした。" and the reason on the next line; a warning.
JobMessage MapsNotSavedMessage(const std::string& reason);
