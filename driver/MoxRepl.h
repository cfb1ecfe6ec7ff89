// The interactive session of mx2 --repl.
#ifndef MOX_REPL_H
#define MOX_REPL_H

#include <string>

#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

// Reads lines from standard input until the end of input or ":quit":
// declarations are compiled into vm and stay, statements run at once, an
// expression's value is printed ("=> 42"). Line editing and history when
// standard input is a terminal and libedit was there at build time. The
// exit code of the session.
int moxRunRepl(MoxVirtualMachine& vm, IMoxPrinter& printer);

// A value as the session shows it: strings quoted, containers with their
// first elements, objects through their toString.
std::string moxValueText(MoxVirtualMachine& vm, const MoxValue& value);

#endif
