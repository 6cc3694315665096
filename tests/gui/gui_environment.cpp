#include "gui_support.h"

// Registered before main runs; the QApplication exists while the tests run.
static const bool kRegistered = [] {
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);
    return true;
}();
