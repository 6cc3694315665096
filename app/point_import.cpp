#include "app/main.h"

// The point-data import job. Until its workflow lands here it fails at once, the way a failed run
// ends: the generic error, the window enabled, the connection closed.
void Main::UpdataThread() {
    PlaceholderJob();
}
