// Minimal machine: dictionaries, printer and registration. The run-time parts
// (execute, script destructors, the standard library) are added with the
// interpreter.
#include "vm/MoxVirtualMachine.h"

#include "core/MoxClass.h"
#include "core/MoxString.h"
#include "vm/MoxPrinter.h"

MoxVirtualMachine::MoxVirtualMachine(IMoxPrinter* printer)
    : classes_(false),
      symbols_(false),
      modules_(false),
      printer_(printer),
      interpreter_(nullptr),
      ownsPrinter_(printer == nullptr),
      cmdargc_(0),
      cmdargv_(nullptr),
      waitProc_(nullptr) {
  if (!printer_) printer_ = new MoxDummyPrinter();
  // Script values may refer to these dictionaries; the extra reference keeps
  // a released value from deleting a member of the machine.
  classes_.addRef();
  symbols_.addRef();
  modules_.addRef();
}

MoxVirtualMachine::~MoxVirtualMachine() {
  classes_.clear();
  symbols_.clear();
  freeModules();
  if (ownsPrinter_) delete printer_;
  printer_ = nullptr;
  result_.dispose();
}

void MoxVirtualMachine::reinit() {
  classes_.clear();
  symbols_.clear();
  freeModules();
}

void MoxVirtualMachine::freeModules() { modules_.clear(); }

bool MoxVirtualMachine::registerNativeFunction(const MoxChar* name, MoxNativeFunction function) {
  if (!name || !*name || !function) return false;
  MoxDictionaryEntry& entry = symbols_[MoxString(name)];
  if (entry.getSymbolType() != SYM_UNDEFINED) return false;
  entry.setValue(MoxValue(function));
  entry.setSymbolType(SYM_FUNCTION);
  return true;
}

bool MoxVirtualMachine::registerNativeClass(const MoxChar* name, MoxClass* cls) {
  if (!name || !*name || !cls) return false;
  MoxDictionaryEntry& entry = classes_[MoxString(name)];
  if (entry.getSymbolType() != SYM_UNDEFINED) return false;
  cls->setClassName(MoxString(name));
  cls->setIsNative(true);
  entry.setValue(MoxValue(cls, false));
  entry.setSymbolType(SYM_CLASS);
  return true;
}

void MoxVirtualMachine::notifyObjDelete(MoxObject*) {}

void MoxVirtualMachine::cloneSymbols(const MoxVirtualMachine&) {}

bool MoxVirtualMachine::execute(const MoxChar*, int, const MoxChar**, bool, IMoxPrinter*,
                                IMoxPrinter*) {
  return false;
}
