// The console pieces the tools need beyond standard output.
#pragma once

namespace host {

bool StdinIsTerminal();

// Waits for one key press without echo when standard input is a terminal,
// and always gives the terminal its mode back, also when the wait ends by a
// signal. The interrupt key (normally Ctrl-C) still interrupts: the mode is
// restored first, then the process receives SIGINT. When standard input is
// not a terminal nothing is read and the call returns at once.
void WaitForKey();

}  // namespace host
