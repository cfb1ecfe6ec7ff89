// The machine's compile entry points and native-module loading.
#include "vm/MoxVirtualMachine.h"

bool MoxVirtualMachine::compileFile(const MoxChar*, bool, bool, IMoxPrinter*, IMoxPrinter*) {
  return false;
}

bool MoxVirtualMachine::compileText(const MoxChar*, bool, bool, IMoxPrinter*, IMoxPrinter*) {
  return false;
}

bool MoxVirtualMachine::loadNativeModule(const MoxChar*) { return false; }
