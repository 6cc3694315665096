#include <pthread.h>

#include "platform/thread_name.h"

namespace platform {

void SetThreadName(std::thread& thread, const char* name) {
    pthread_setname_np(thread.native_handle(), name);
}

void SetCurrentThreadName(const char* name) {
    pthread_setname_np(pthread_self(), name);
}

}  // namespace platform
