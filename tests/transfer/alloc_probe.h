#pragma once
// Counts the bytes that operator new holds while a probe runs, to catch code that allocates far
// more than its data needs. Replaces the global operator new/delete of the test program.
#include <cstdint>

namespace alloc_probe {

// Starts counting from zero live bytes.
void Start();
// Stops counting; returns the highest number of live bytes seen since Start.
int64_t Stop();

}  // namespace alloc_probe
