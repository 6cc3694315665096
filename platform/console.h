#pragma once
// What a command-line program needs from the system around it.
namespace platform {

// Whether standard error is a terminal (a console window on Windows).
bool StderrIsTerminal();

// Makes the console show the program's UTF-8 output as such; nothing to do where it already does.
void UseUtf8Console();

}  // namespace platform
