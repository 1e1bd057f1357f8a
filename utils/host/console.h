// The console pieces the tools need beyond standard output.
#pragma once

namespace host {

bool StdinIsTerminal();
// True when the descriptor is a terminal (on Windows: a console).
bool IsTerminal(int fd);

// Waits for one key press without echo, but only when someone watches:
// standard input and standard output both terminals. Otherwise (input from
// a file, output into a pipe such as `xkrf mod -list | grep x`) nothing is
// read and the call returns at once.
//
// The terminal always gets its mode back:
// - when the wait ends by a key; the interrupt key (normally Ctrl-C) still
//   interrupts: the mode is restored first, then the process receives SIGINT;
// - when a signal from outside ends the process (SIGINT, SIGTERM, SIGHUP,
//   SIGALRM, SIGUSR1, the real-time signals, ... every signal that
//   ends a process by default and can be caught): the mode is restored, then
//   the process ends by the same signal, so its parent sees the same status;
// - while a stop signal (SIGTSTP, SIGTTIN, SIGTTOU) holds the process: the
//   mode is restored before it stops, and the wait's mode taken again (from
//   the terminal's mode at that time) when it continues in the foreground.
// Only signals whose action is the default one are taken over, and only for
// the wait: a signal the process inherited as ignored stays ignored, and the
// previous actions are back when the call returns.
void WaitForKey();

}  // namespace host
