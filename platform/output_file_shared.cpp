#include "platform/output_file_shared.h"

#include <atomic>
#include <cstring>

namespace platform::output_detail {

namespace {
char gPending[4096];
std::atomic<bool> gHasPending{false};
}  // namespace

std::string ErrnoText(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

void NotePending(const std::string& path) {
    gHasPending = false;
    if (path.size() >= sizeof gPending) return;
    std::memcpy(gPending, path.c_str(), path.size() + 1);
    gHasPending = true;
}

void ClearPending(const std::string& path) {
    if (gHasPending && path == gPending) gHasPending = false;
}

const char* TakePending() noexcept {
    return gHasPending.exchange(false) ? gPending : nullptr;
}

}  // namespace platform::output_detail
