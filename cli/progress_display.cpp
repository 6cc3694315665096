#include "cli/progress_display.h"

#include <algorithm>
#include <cstdio>

#include "cli/json_line.h"

namespace cli {

namespace {
constexpr int kBarWidth = 30;
}

ProgressDisplay::ProgressDisplay(std::ostream& out, ProgressStyle style, std::string unit)
    : out_(out), style_(style), unit_(std::move(unit)), subject_(DefaultSubject(unit_)) {}

ProgressSubject ProgressDisplay::DefaultSubject(const std::string& unit) {
    ProgressSubject subject;
    subject.noun = unit.size() > 1 && unit.back() == 's' ? unit.substr(0, unit.size() - 1) : unit;
    return subject;
}

void ProgressDisplay::SetSubject(ProgressSubject subject, std::string unit, uint64_t nowMs) {
    if (visible_ && shown_ && (value_ != lastEmitValue_ || maximum_ != lastEmitMaximum_)) {
        Emit(nowMs);
    }
    subject_ = std::move(subject);
    unit_ = std::move(unit);
    // The next subject starts afresh: its first state is shown at once, with its own total.
    maximumKnown_ = false;
    value_ = 0;
    lastEmitMs_.reset();
    lastEmitValue_ = -1;
    lastEmitMaximum_ = -1;
    StartRange(nowMs);
}

std::string ProgressDisplay::FormatDuration(uint64_t seconds) {
    char text[32];
    const uint64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0) {
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(h),
                      static_cast<unsigned long long>(m), static_cast<unsigned long long>(s));
    } else {
        std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(m),
                      static_cast<unsigned long long>(s));
    }
    return text;
}

void ProgressDisplay::StartRange(uint64_t nowMs) {
    rangeStartMs_ = nowMs;
    rangeStartValue_ = value_;
}

void ProgressDisplay::SetMaximum(int32_t maximum, uint64_t nowMs) {
    if (maximum > 0) maximumKnown_ = true;
    if (maximum != maximum_) {
        maximum_ = maximum;
        value_ = std::min(value_, maximum_);
        StartRange(nowMs);
    }
    Changed(nowMs);
}

void ProgressDisplay::SetValue(int32_t value, uint64_t nowMs) {
    const bool back = value < value_;
    value_ = std::clamp(value, 0, std::max(maximum_, 0));
    if (back) StartRange(nowMs);
    Changed(nowMs);
}

void ProgressDisplay::Step(uint64_t nowMs) {
    if (value_ < maximum_) ++value_;
    Changed(nowMs);
}

void ProgressDisplay::SetVisible(bool visible, uint64_t nowMs) {
    if (visible == visible_) return;
    visible_ = visible;
    if (visible) {
        StartRange(nowMs);
        lastEmitMs_.reset();
        lastEmitValue_ = -1;
        return;
    }
    // The last state is always shown before the bar goes.
    if (maximumKnown_ && (value_ != lastEmitValue_ || maximum_ != lastEmitMaximum_)) Emit(nowMs);
    if (barOnLine_) {
        out_ << '\n';
        barOnLine_ = false;
    }
    out_.flush();
}

void ProgressDisplay::Interrupt() {
    if (!barOnLine_) return;
    out_ << "\r\033[K";
    barOnLine_ = false;
    out_.flush();
    // Redraw at the next change.
    lastEmitMs_.reset();
}

void ProgressDisplay::Conclude(int32_t value, int32_t maximum, uint64_t nowMs) {
    if (!shown_ || maximum <= 0) return;  // nothing was shown
    if (value == lastEmitValue_ && maximum == lastEmitMaximum_) return;
    maximum_ = maximum;
    value_ = std::clamp(value, 0, maximum);
    concluded_ = true;
    Emit(nowMs);
    if (barOnLine_) {
        out_ << '\n';
        barOnLine_ = false;
    }
    out_.flush();
}

int ProgressDisplay::Percent() const {
    if (maximum_ <= 0) return 0;
    return static_cast<int>(static_cast<int64_t>(value_) * 100 / maximum_);
}

int32_t ProgressDisplay::Done() const {
    if (!subject_.valueIsIndex || concluded_) return value_;
    return value_ < maximum_ ? value_ + 1 : maximum_;
}

double ProgressDisplay::Rate(uint64_t nowMs) const {
    const uint64_t elapsed = nowMs - rangeStartMs_;
    if (elapsed == 0) return 0.0;
    return (value_ - rangeStartValue_) * 1000.0 / static_cast<double>(elapsed);
}

void ProgressDisplay::Changed(uint64_t nowMs) {
    if (!visible_ || !maximumKnown_) return;
    const bool complete = value_ >= maximum_ && maximum_ > 0;
    const bool fresh = value_ != lastEmitValue_ || maximum_ != lastEmitMaximum_;
    if (!fresh) return;
    const uint64_t interval = style_ == ProgressStyle::Bar    ? kBarIntervalMs
                              : style_ == ProgressStyle::Json ? kJsonIntervalMs
                                                              : kLineIntervalMs;
    if (complete || !lastEmitMs_ || nowMs - *lastEmitMs_ >= interval) Emit(nowMs);
}

void ProgressDisplay::Emit(uint64_t nowMs) {
    shown_ = true;
    lastEmitMs_ = nowMs;
    lastEmitValue_ = value_;
    lastEmitMaximum_ = maximum_;
    const double rate = Rate(nowMs);
    const int32_t left = std::max(maximum_ - value_, 0);
    const bool known = rate > 0.0;
    const auto secondsLeft = known ? static_cast<uint64_t>(left / rate + 0.5) : 0;
    char rateText[32];
    std::snprintf(rateText, sizeof rateText, "%.1f", rate);
    switch (style_) {
        case ProgressStyle::Json: {
            JsonLine line;
            line.Add("type", "progress")
                .Add("value", int64_t{value_})
                .Add("maximum", int64_t{maximum_})
                .Add("percent", int64_t{Percent()})
                .Add("rate", rate)
                .Add("unit", unit_);
            if (known) line.Add("seconds_left", static_cast<int64_t>(secondsLeft));
            out_ << line.Str() << '\n';
            break;
        }
        case ProgressStyle::Lines:
            EmitLine(rate, secondsLeft, known);
            break;
        case ProgressStyle::Bar: {
            const int filled =
                maximum_ > 0 ? static_cast<int>(static_cast<int64_t>(value_) * kBarWidth / maximum_)
                             : 0;
            out_ << "\r\033[K[" << std::string(static_cast<size_t>(filled), '#')
                 << std::string(static_cast<size_t>(kBarWidth - filled), '.') << "] " << Percent()
                 << "%  " << value_ << '/' << maximum_ << ' ' << unit_;
            if (known) {
                out_ << "  " << rateText << ' ' << unit_ << "/s  " << FormatDuration(secondsLeft)
                     << " left";
            }
            barOnLine_ = true;
            break;
        }
    }
    out_.flush();
}

void ProgressDisplay::EmitLine(double rate, uint64_t secondsLeft, bool known) {
    const ProgressSubject& s = subject_;
    const int32_t done = Done();
    out_ << s.what << ": ";
    if (concluded_) {
        out_ << done << ' ' << s.noun << (done == 1 ? "" : "s") << " in all\n";
        return;
    }
    const int percent =
        maximum_ > 0 ? static_cast<int>(static_cast<int64_t>(done) * 100 / maximum_) : 0;
    if (s.noun == "byte") {
        out_ << done << " of " << maximum_ << " bytes";
    } else {
        out_ << s.noun << ' ' << done << " of " << (s.atMost ? "at most " : "") << maximum_;
    }
    if (!s.atMost) out_ << " (" << percent << "%)";
    if (known) {
        char rateText[32];
        std::snprintf(rateText, sizeof rateText, "%.1f", rate);
        out_ << ", " << rateText << ' ' << s.noun << "s/s, " << (s.atMost ? "at most " : "")
             << FormatDuration(secondsLeft) << " left";
    }
    out_ << '\n';
}

}  // namespace cli
