// The machine's module-file entry points.
#include "vm/MoxVirtualMachine.h"

bool MoxVirtualMachine::writeModule(const MoxChar*) { return false; }

bool MoxVirtualMachine::readModule(const MoxChar*) { return false; }
