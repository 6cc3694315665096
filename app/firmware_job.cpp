#include "app/main.h"

// The firmware update job. Until its workflow lands here it fails at once, the way a failed run
// ends: the generic error, the window enabled, the connection closed.
void Main::FirmwareThread() {
    PlaceholderJob();
}
