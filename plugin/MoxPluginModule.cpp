// Entry point of the mx2class native module: the machine calls it once per
// load with itself and the module enters its classes.
#include "plugin/MoxStringClass.h"
#include "plugin/MoxStructClass.h"
#include "vm/MoxVirtualMachine.h"

extern "C" __attribute__((visibility("default"))) int RegisterNativeModule(MoxVirtualMachine* vm) {
  if (!vm) return 0;
  // String failing (its name already taken) does not keep Struct out.
  MoxStringClass::registerClass(*vm);
  return MoxStructClass::registerClass(*vm) ? 1 : 0;
}
