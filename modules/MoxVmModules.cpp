// The machine's module-file entry points.
#include "core/MoxString.h"
#include "modules/MoxDictionaryIO.h"
#include "vm/MoxVirtualMachine.h"

bool MoxVirtualMachine::writeModule(const MoxChar* path) {
  if (!path) return false;
  MoxMemoryLedger::Scope counted(&memory_);
  MoxDictionaryIO io(*this);
  return io.writeModule(MoxString(path));
}

bool MoxVirtualMachine::readModule(const MoxChar* path) {
  if (!path) return false;
  MoxMemoryLedger::Scope counted(&memory_);
  MoxDictionaryIO io(*this);
  return io.readModule(MoxString(path));
}
