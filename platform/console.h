#pragma once
// What a command-line program needs from the system around it.
namespace platform {

// Whether standard error is a terminal (a console window on Windows).
bool StderrIsTerminal();

// Makes the console show the program's UTF-8 output as such; nothing to do where it already does.
void UseUtf8Console();

// Catches the user's interrupt (Ctrl-C), a termination request, the hang-up of its terminal and,
// on Windows, the closing of the console: the first one is only noted (InterruptSignal), so the
// program can end its work the way a failure ends it; a second one ends the process at once
// with the status below, removing the output files being written (RemovePendingOutput).
// Also makes writes into a closed pipe fail with an error instead of ending the process.
void InstallInterruptHandler();

// Until InstallInterruptHandler: an interrupt or termination request ends the program as the
// system would, but first removes the output files being written (RemovePendingOutput).
void RemoveOutputsOnInterrupt();

// POSIX: a descriptor that becomes readable when an interrupt was noted (one byte per signal,
// never blocking), so an event loop can wait for it; -1 before InstallInterruptHandler and on
// Windows.
int InterruptWakeDescriptor();

// Gives the interrupts back to the system's own handling and forgets one noted.
void RestoreInterruptDefaults();

// The interrupt noted so far: 0 for none, else the exit status that reports it (128 + the
// signal's number on POSIX: 130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP; 130 for every
// console event on Windows).
int InterruptSignal();

// The program has finished its clean-up after an interrupt; on Windows the handler of a
// closing console holds the process until then (bounded by the system's own grace time).
void InterruptHandled();

}  // namespace platform
