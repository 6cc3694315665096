#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/console.h"

namespace platform {

bool StderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

void UseUtf8Console() {
    SetConsoleOutputCP(CP_UTF8);
}

}  // namespace platform
