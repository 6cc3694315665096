#include "export/utc_time.h"

#include <chrono>
#include <cstdio>

namespace mapexport {

namespace {
using namespace std::chrono;

constexpr int kMinYear = 1;
constexpr int kMaxYear = 9999;

bool InTextRange(sys_seconds t) {
    const year_month_day ymd{floor<days>(t)};
    return ymd.year() >= year{kMinYear} && ymd.year() <= year{kMaxYear};
}
}  // namespace

std::optional<int64_t> UtcSeconds(const LocalDateTime& l, int utcOffsetMinutes) {
    if (l.month < 1 || l.month > 12 || l.day < 1 || l.day > 31) return std::nullopt;
    if (l.hour < 0 || l.hour > 23 || l.minute < 0 || l.minute > 59) return std::nullopt;
    if (l.second < 0 || l.second > 59) return std::nullopt;
    const year_month_day date{year{l.year}, month{static_cast<unsigned>(l.month)},
                              day{static_cast<unsigned>(l.day)}};
    if (!date.ok()) return std::nullopt;
    const sys_seconds utc = sys_days{date} + hours{l.hour} + minutes{l.minute} + seconds{l.second} -
                            minutes{utcOffsetMinutes};
    if (!InTextRange(utc)) return std::nullopt;
    return utc.time_since_epoch().count();
}

std::string UtcText(int64_t utcSeconds) {
    const sys_seconds t{seconds{utcSeconds}};
    const sys_days day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> time{t - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

}  // namespace mapexport
