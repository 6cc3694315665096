#pragma once
// Names threads as the process's task list shows them.
#include <thread>

namespace platform {

// Names `thread` (which must be running or about to run); nothing on failure.
void SetThreadName(std::thread& thread, const char* name);
// Names the calling thread.
void SetCurrentThreadName(const char* name);

}  // namespace platform
