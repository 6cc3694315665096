#pragma once
// Progress of a job on a terminal: a bar with percentage, rate and time left when stderr is a
// terminal, plain throttled lines otherwise, or JSON objects for scripts. The time is passed
// in (milliseconds on any monotonic clock), so the output is the same for the same inputs.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace cli {

enum class ProgressStyle { Bar, Lines, Json };

// What a plain line says it counts: "patch program: frame 3 of 15",
// "points: record 6 of at most 4096", "firmware by YMODEM: 51200 of 100000 bytes".
struct ProgressSubject {
    std::string what = "progress";
    std::string noun = "frame";  // singular; "byte" counts an amount
    // The value is the index of the last one done, so value + 1 are done.
    bool valueIsIndex = false;
    // The maximum is only a bound: the job may end before it (the point import stops at the
    // first erased record).
    bool atMost = false;
};

class ProgressDisplay {
public:
    // `unit` names what the progress counts ("frames", "records").
    ProgressDisplay(std::ostream& out, ProgressStyle style, std::string unit);

    // Plain lines name this from now on; the last state of the one before is shown first.
    void SetSubject(ProgressSubject subject, std::string unit, uint64_t nowMs);
    // Nothing is shown before a maximum above 0 is known: a total shown first must be right.
    void SetMaximum(int32_t maximum, uint64_t nowMs);
    void SetValue(int32_t value, uint64_t nowMs);
    // One more; a value that would pass the maximum stays at the maximum.
    void Step(uint64_t nowMs);
    void SetVisible(bool visible, uint64_t nowMs);
    // Takes the bar off its line before other output is written (Bar style).
    void Interrupt();
    // Shows where a job that has ended really ended, once, when that differs from the last
    // state shown (the point import stops at the erased record before its area's end).
    void Conclude(int32_t value, int32_t maximum, uint64_t nowMs);

    // Minimum time between two plain lines, bar redraws and JSON objects.
    static constexpr uint64_t kLineIntervalMs = 1000;
    static constexpr uint64_t kBarIntervalMs = 100;
    static constexpr uint64_t kJsonIntervalMs = 250;

    // "progress: frame 3 of 15" for the unit "frames".
    static ProgressSubject DefaultSubject(const std::string& unit);

    // "0:07", "12:03", "1:02:03".
    static std::string FormatDuration(uint64_t seconds);

private:
    // A new range starts when the maximum changes or the value goes back.
    void StartRange(uint64_t nowMs);
    void Changed(uint64_t nowMs);
    void Emit(uint64_t nowMs);
    double Rate(uint64_t nowMs) const;
    int Percent() const;
    // How many are done, as the plain line counts them.
    int32_t Done() const;
    void EmitLine(double rate, uint64_t secondsLeft, bool known);

    std::ostream& out_;
    ProgressStyle style_;
    std::string unit_;
    ProgressSubject subject_;
    int32_t maximum_ = 100;
    bool maximumKnown_ = false;
    bool concluded_ = false;
    int32_t value_ = 0;
    bool visible_ = false;
    uint64_t rangeStartMs_ = 0;
    int32_t rangeStartValue_ = 0;
    std::optional<uint64_t> lastEmitMs_;
    int32_t lastEmitValue_ = -1;
    int32_t lastEmitMaximum_ = -1;
    bool barOnLine_ = false;
    bool shown_ = false;
};

}  // namespace cli
