// The machine: construction and teardown, registration of native code, the
// execute entry point and script destructors of dying objects.
#include "vm/MoxVirtualMachine.h"

#include <dlfcn.h>

#include "core/MoxClass.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "debugger/MoxDebugger.h"
#include "interpreter/MoxInterpreter.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "vm/MoxLineTable.h"
#include "vm/MoxPrinter.h"

namespace {

// Name of the script-level destructor method.
const MoxString kDtorName(kMoxDestructorName);

// Destructors that run while another destructor is running nest on the
// native stack (a chain of objects each owning the next). Beyond this depth a
// destructor is not run at all, so a long chain cannot overflow the stack.
const int kMaxDestructorDepth = 400;

// Pops the stack down to position.
void popTo(ValPtr& sp, int position) {
  // Each value is moved out of its slot before it is released, so a
  // destructor that runs meanwhile finds a consistent stack below it.
  while (sp.current() > position) {
    MoxValue* slot = sp;
    MoxValue held;
    if (slot) {
      held = *slot;
      slot->dispose();
    }
    --sp;
  }
  if (sp.current() < position) sp += position - sp.current();
}

}  // namespace

MoxVirtualMachine::MoxVirtualMachine(IMoxPrinter* printer)
    : classes_(false),
      symbols_(false),
      modules_(false),
      printer_(printer),
      interpreter_(nullptr),
      ownsPrinter_(printer == nullptr),
      cmdargc_(0),
      cmdargv_(nullptr),
      waitProc_(nullptr),
      lineTables_(new MoxLineTables()) {
  if (!printer_) printer_ = new MoxDummyPrinter();
  memory_.setOwner(this);
  MoxMemoryLedger::Scope counted(&memory_);
  // Script values may refer to these dictionaries; the extra reference keeps
  // a released value from deleting a member of the machine.
  classes_.addRef();
  symbols_.addRef();
  modules_.addRef();
  MoxDefaultFunctions::registerFunctions(this);
}

MoxVirtualMachine::~MoxVirtualMachine() {
  MoxMemoryLedger::Scope counted(&memory_);
  // Procedures that only the line tables still hold die first, while the
  // dictionaries they refer to are whole.
  lineTables_->clear();
  classes_.clear();
  symbols_.clear();
  // The result may hold objects made by a native module; release it while
  // the module's code is still loaded. So must the cycles the machine's
  // values made, which nothing else would ever free.
  result_.dispose();
  pendingArgs_.clear();
  hostFunctions_.clear();
  memory_.collectCycles();
  freeModules();
  if (ownsPrinter_) delete printer_;
  printer_ = nullptr;
  delete lineTables_;
}

void MoxVirtualMachine::reinit() {
  MoxMemoryLedger::Scope counted(&memory_);
  lineTables_->clear();
  classes_.clear();
  symbols_.clear();
  memory_.collectCycles();
  freeModules();
  hostFunctions_.clear();
  pendingArgs_.clear();
  MoxDefaultFunctions::registerFunctions(this);
}

void MoxVirtualMachine::freeModules() {
  for (MoxDictionaryEntry* e = modules_.getFirst(); e; e = e->getNext()) {
    void* handle = e->getValue().ptr();
    if (handle) dlclose(handle);
  }
  modules_.clear();
}

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

void MoxVirtualMachine::notifyObjDelete(MoxObject* obj) {
  MoxInterpreter* interp = interpreter_;
  // Once a destructor has failed, the run is stopping: the other objects
  // released meanwhile go without their script destructors.
  if (!interp || !obj || interp->failurePending()) return;
  MoxClass* cls = obj->getClass();
  if (!cls || !cls->hasDestructor()) return;
  if (destructorDepth_ >= kMaxDestructorDepth) {
    interp->returnError(u"destructor nesting too deep", nullptr);
    interp->failAtNextInstruction();
    return;
  }
  ++destructorDepth_;
  ValPtr& sp = interp->sp();
  const int saved = sp.current();
  // An uncounted reference: the push must not keep the dying object alive.
  ++sp;
  *sp = MoxValue(obj, true);
  // The release that got here cannot fail; the run stops right after it.
  if (!interp->send(0, kDtorName.c_str())) interp->failAtNextInstruction();
  popTo(sp, saved);
  --destructorDepth_;
}

void MoxVirtualMachine::cloneSymbols(const MoxVirtualMachine& other) {
  if (&other == this) return;
  MoxMemoryLedger::Scope counted(&memory_);
  symbols_.clear();
  classes_.clear();
  freeModules();
  for (MoxDictionaryEntry* e = other.modules_.getFirst(); e; e = e->getNext()) {
    if (e->getKey()) loadNativeModule(e->getKey()->c_str());
  }
  for (MoxDictionaryEntry* e = other.symbols_.getFirst(); e; e = e->getNext()) {
    if (e->getKey()) symbols_[*e->getKey()] = *e;
  }
  for (MoxDictionaryEntry* e = other.classes_.getFirst(); e; e = e->getNext()) {
    if (e->getKey()) classes_[*e->getKey()] = *e;
  }
  lineTables_->clear();
  lineTables_->copyFrom(*other.lineTables_);
}

namespace {

// Releases every value on the interpreter's stack, from the top down.
void releaseStack(MoxInterpreter& interp) {
  ValPtr& sp = interp.sp();
  const int last = static_cast<int>(interp.size()) - 1;
  if (sp.current() < last) sp += last - sp.current();
  popTo(sp, 0);
}

}  // namespace

bool MoxVirtualMachine::execute(const MoxChar* name, int argc, const MoxChar** argv, bool trace,
                                IMoxPrinter* errorPrinter, IMoxPrinter* tracePrinter) {
  return run(name, argc, argv, nullptr, trace, errorPrinter, tracePrinter);
}

bool MoxVirtualMachine::executeValues(const MoxChar* name, int argc, const MoxValue* args,
                                      IMoxPrinter* errorPrinter) {
  return run(name, argc, nullptr, args, false, errorPrinter, nullptr);
}

bool MoxVirtualMachine::run(const MoxChar* name, int argc, const MoxChar** argv,
                            const MoxValue* values, bool trace, IMoxPrinter* errorPrinter,
                            IMoxPrinter* tracePrinter) {
  if (!name) return false;
  MoxMemoryLedger::Scope counted(&memory_);
  // A native function may run another function of the same machine while a
  // script runs; the outer interpreter comes back afterwards.
  MoxInterpreter* outer = interpreter_;
  errorTrace_.clear();
  errorText_.clear();
  // An interrupt is for the run in progress: a new outermost run starts
  // without one, and with no memory failure reported yet.
  if (!outer) {
    clearInterrupt();
    memoryReported_ = false;
  }
  MoxInterpreter* interp = new MoxInterpreter(*this);
  setInterpreter(interp);
  MoxDebugger* tracer = new MoxDebugger(*this, tracePrinter);
  tracer->setTrace(trace);
  interp->setDebugger(tracer);
  interp->setTranslation(translation_);
  const bool nested = outer && outer->hasInstructionBudget();
  if (nested)
    interp->setInstructionBudget(true, outer->getInstructionsLeft());
  else
    interp->setInstructionBudget(instructionLimit_ != 0, instructionLimit_);
  const bool ran =
      values ? interp->executeValues(name, argc, values) : interp->execute(name, argc, argv);
  bool ok = ran && !interp->takeDeferredFailure();
  if (nested) outer->setInstructionBudget(true, interp->getInstructionsLeft());
  // exit() unwinds like a failure and ends the run as a success whose
  // result is its code; what the unwinding noted is no error.
  if (interp->exitRequested()) {
    ok = true;
    interp->takeDeferredFailure();
    interp->errors().clear();
  }

  const MoxValue* top = interp->sp();
  if (interp->exitRequested())
    result_ = MoxValue(interp->exitCode());
  else if (top)
    result_ = *top;
  else
    result_.dispose();
  // Objects still held by the stack (locals of the finished function) are
  // released while the interpreter works, so their destructors run fully.
  // After a success that comes first, since a destructor may still fail the
  // run; after a failure it comes last, so that destructors running then
  // cannot change the report of the failure.
  if (ok) {
    releaseStack(*interp);
    ok = !interp->takeDeferredFailure();
    // exit() in a destructor that ran just now: the destructor stopped
    // without error text, and the run ends with its code.
    if (interp->exitRequested()) {
      result_ = MoxValue(interp->exitCode());
      if (interp->errors().empty()) ok = true;
    }
  }
  if (!ok) {
    // The memory limit crossed while the report is copied must not add to
    // the text being copied (the addition may move it); the run has failed
    // already.
    const bool reported = memoryReported_;
    memoryReported_ = true;
    IMoxPrinter& out = errorPrinter ? *errorPrinter : *printer_;
    out(u"%s", interp->errors().c_str());
    errorText_ = interp->errors();
    interp->formatErrorTrace(errorTrace_);
    memoryReported_ = reported;
    releaseStack(*interp);
  }
  // Nothing released after this point sees this interpreter.
  interp->setDebugger(nullptr);
  setInterpreter(outer);
  if (!outer) clearInterrupt();
  delete interp;
  delete tracer;
  return ok;
}

void MoxVirtualMachine::setInterpreter(MoxInterpreter* interp) {
  std::lock_guard<std::mutex> hold(runLock_);
  interpreter_ = interp;
  // The outer run resumes: it stops too when an interrupt came meanwhile.
  if (interp && interruptPending()) interp->noticeInterrupt();
}

bool MoxVirtualMachine::interrupt() {
  std::lock_guard<std::mutex> hold(runLock_);
  if (!interpreter_) return false;
  // The flag first, then the hook: the loop's hook update reads the flag
  // after storing the hook, so one of the two always sees the other.
  interruptRequested_.store(true);
  interpreter_->noticeInterrupt();
  return true;
}

void MoxVirtualMachine::memoryExhausted() {
  MoxInterpreter* interp = interpreter_;
  if (!interp || memoryReported_) return;
  // Set first: the report itself allocates.
  memoryReported_ = true;
  interp->returnError(u"not enough memory", nullptr);
  interp->failAtNextInstruction();
}
