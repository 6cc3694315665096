#pragma once
// How long the UI thread stays busy in one go. A view times every posted call and every handler
// it runs through Time(); the longest stretch is kept with what ran. A modal dialog keeps the
// window responsive (its own loop runs posted calls, timed on their own), so the time a handler
// spends in one, run through Modal(), does not count. Used only on the UI thread.
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

class UiBusyMeter {
public:
    // Runs `work`, timing it; returns true when it was the longest so far.
    template <typename Work>
    bool Time(const char* what, Work&& work) {
        const int64_t modalBefore = modalUs_;
        const int64_t took = Elapsed(std::forward<Work>(work)) - (modalUs_ - modalBefore);
        ++runs_;
        if (took <= longestUs_) return false;
        longestUs_ = took;
        longestWhat_ = what;
        return true;
    }

    // Runs a modal dialog; its time is left out of the handler that opened it.
    template <typename Work>
    auto Modal(Work&& work) {
        const auto start = std::chrono::steady_clock::now();
        struct Count {
            UiBusyMeter& meter;
            std::chrono::steady_clock::time_point start;
            ~Count() { meter.modalUs_ += Since(start); }
        } count{*this, start};
        return std::forward<Work>(work)();
    }

    int64_t LongestUs() const { return longestUs_; }
    double LongestMs() const { return static_cast<double>(longestUs_) / 1000.0; }
    const std::string& LongestWhat() const { return longestWhat_; }
    int64_t Runs() const { return runs_; }
    void Reset() {
        longestUs_ = -1;
        longestWhat_.clear();
        runs_ = 0;
    }

private:
    static int64_t Since(std::chrono::steady_clock::time_point start) {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    }
    template <typename Work>
    static int64_t Elapsed(Work&& work) {
        const auto start = std::chrono::steady_clock::now();
        std::forward<Work>(work)();
        return Since(start);
    }

    int64_t modalUs_ = 0;
    int64_t longestUs_ = -1;
    std::string longestWhat_;
    int64_t runs_ = 0;
};
