// The line debugger of mx2 --debug: breakpoints, stepping and looking at
// arguments, locals, members and globals, over standard input and output.
#ifndef MOX_LINE_DEBUGGER_H
#define MOX_LINE_DEBUGGER_H

#include "vm/MoxVirtualMachine.h"

// Installs the debugger's hooks on vm for the runs that follow: it stops on
// entry to the first line that runs, at breakpoints and after steps, and on
// a run-time error before the calls unwind. Commands come from standard
// input; its end lets the program run on.
void moxAttachLineDebugger(MoxVirtualMachine& vm);

#endif
