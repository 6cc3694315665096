#include "platform/output_file_shared.h"

#include "platform/output_file.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace platform::output_detail {

namespace {

constexpr size_t kRandomDigits = 12;
constexpr std::string_view kSuffix = ".part";

// Length of the character starting at `s[i]` in bytes (a stray byte counts as one).
size_t CharBytes(const std::string& s, size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    size_t n = lead < 0x80           ? 1
               : (lead >> 5) == 0x6  ? 2
               : (lead >> 4) == 0xE  ? 3
               : (lead >> 3) == 0x1E ? 4
                                     : 1;
    if (i + n > s.size()) n = 1;
    return n;
}

// The longest start of `s`, cut at a character's end, that takes at most `budget` units.
std::string CutToUnits(const std::string& s, size_t budget, NameUnits units) {
    size_t used = 0;
    size_t end = 0;
    while (end < s.size()) {
        const size_t bytes = CharBytes(s, end);
        const size_t cost = units == NameUnits::Utf8Bytes ? bytes : (bytes == 4 ? 2 : 1);
        if (used + cost > budget) break;
        used += cost;
        end += bytes;
    }
    return s.substr(0, end);
}

enum SlotState : int { kFree, kFilling, kNoted, kTaken };
struct Slot {
    std::atomic<int> state{kFree};
    bool folder = false;
    char path[4096];
};
static_assert(std::atomic<int>::is_always_lock_free);
// The temporaries of the outputs open at once, a scratch folder and its file: a few.
Slot gSlots[8];

}  // namespace

std::string ErrnoText(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

std::string TemporaryName(const std::string& name, uint64_t pid, uint64_t random, bool hidden,
                          size_t limit, NameUnits units) {
    char tail[48];
    std::snprintf(tail, sizeof tail, ".%llu.%012llx", static_cast<unsigned long long>(pid),
                  static_cast<unsigned long long>(random & 0xFFFFFFFFFFFFull));
    const std::string fixed = std::string(tail) + std::string(kSuffix);
    const size_t taken = fixed.size() + (hidden ? 1 : 0);  // all ASCII: bytes and units alike
    const std::string kept = CutToUnits(name, limit > taken ? limit - taken : 0, units);
    // Appended piece by piece: GCC 12 at -O3 misreads `"." + std::string` as an overlapping
    // copy (-Wrestrict).
    std::string out = hidden ? "." : "";
    out.append(kept).append(fixed);
    return out;
}

std::optional<uint64_t> TemporaryOwner(const std::string& fileName, bool hidden) {
    if (hidden && !fileName.starts_with('.')) return std::nullopt;
    if (!fileName.ends_with(kSuffix)) return std::nullopt;
    const std::string stem = fileName.substr(0, fileName.size() - kSuffix.size());
    const size_t randomDot = stem.rfind('.');
    if (randomDot == std::string::npos || stem.size() - randomDot - 1 != kRandomDigits) {
        return std::nullopt;
    }
    for (size_t i = randomDot + 1; i < stem.size(); ++i) {
        const char c = stem[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
    }
    if (randomDot == 0) return std::nullopt;
    const size_t pidDot = stem.rfind('.', randomDot - 1);
    // A hidden name's first '.' is its own, not the pid's.
    if (pidDot == std::string::npos || (hidden && pidDot == 0)) return std::nullopt;
    const std::string pid = stem.substr(pidDot + 1, randomDot - pidDot - 1);
    if (pid.empty() || pid.size() > 10 || pid[0] == '0') return std::nullopt;
    uint64_t value = 0;
    for (const char c : pid) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

void RemoveOrphanedTemporaries(const std::filesystem::path& folder, bool hidden) {
    std::error_code ec;
    const uint64_t self = CurrentProcessId();
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::u8string name8 = it->path().filename().u8string();
        const std::string name(name8.begin(), name8.end());
        const auto owner = TemporaryOwner(name, hidden);
        if (!owner || *owner == self || ProcessAlive(*owner)) continue;
        // Links and folders are never ours, whatever their name.
        std::error_code statError;
        if (!std::filesystem::is_regular_file(it->symlink_status(statError)) || statError) {
            continue;
        }
        std::error_code ignored;
        std::filesystem::remove(it->path(), ignored);
    }
}

int Note(const std::string& path, bool folder) {
    if (path.empty() || path.size() >= sizeof gSlots[0].path) return -1;
    for (int i = 0; i < static_cast<int>(std::size(gSlots)); ++i) {
        Slot& slot = gSlots[i];
        int free = kFree;
        if (!slot.state.compare_exchange_strong(free, kFilling)) continue;
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.folder = folder;
        slot.state.store(kNoted);
        return i;
    }
    return -1;
}

void Forget(int handle) {
    if (handle < 0 || handle >= static_cast<int>(std::size(gSlots))) return;
    int noted = kNoted;
    // A slot a handler has taken stays taken: the process is ending.
    gSlots[handle].state.compare_exchange_strong(noted, kFree);
}

void RemoveNotedPaths(void (*removeFile)(const char*), void (*removeFolder)(const char*)) noexcept {
    for (const bool folders : {false, true}) {
        for (Slot& slot : gSlots) {
            if (slot.state.load() != kNoted || slot.folder != folders) continue;
            int noted = kNoted;
            if (!slot.state.compare_exchange_strong(noted, kTaken)) continue;
            (folders ? removeFolder : removeFile)(slot.path);
        }
    }
}

}  // namespace platform::output_detail

namespace platform {

RemovedOnAbruptEnd::RemovedOnAbruptEnd(const std::string& path, bool folder)
    : handle_(output_detail::Note(path, folder)) {}

RemovedOnAbruptEnd::~RemovedOnAbruptEnd() {
    output_detail::Forget(handle_);
}

}  // namespace platform
