// The virtual machine: owner of a program's global state (classes, global
// symbols, loaded native modules) and entry point of every phase: compiling,
// reading and writing modules, running a function, loading native modules.
#ifndef MOX_VIRTUAL_MACHINE_H
#define MOX_VIRTUAL_MACHINE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/MoxConfig.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "vm/MoxCapabilities.h"
#include "vm/MoxMemory.h"

class MoxLineTables;

class MOX_API MoxVirtualMachine {
 public:
  typedef bool (*WaitProc)();

  explicit MoxVirtualMachine(IMoxPrinter* printer = nullptr);
  ~MoxVirtualMachine();
  MoxVirtualMachine(const MoxVirtualMachine&) = delete;
  MoxVirtualMachine& operator=(const MoxVirtualMachine&) = delete;

  // Back to the state right after construction; printer, result, command
  // arguments and wait procedure stay.
  void reinit();

  bool registerNativeFunction(const MoxChar* name, MoxNativeFunction function);
  bool registerNativeClass(const MoxChar* name, MoxClass* cls);

  // Runs the script destructor of an object that is being deleted.
  void notifyObjDelete(MoxObject* obj);

  int& cmdargc() { return cmdargc_; }
  MoxChar**& cmdargv() { return cmdargv_; }
  MoxDictionary& classes() { return classes_; }
  MoxDictionary& symbols() { return symbols_; }
  MoxDictionary& modules() { return modules_; }
  const MoxDictionary& classes() const { return classes_; }
  const MoxDictionary& symbols() const { return symbols_; }
  const MoxDictionary& modules() const { return modules_; }
  IMoxPrinter& printer() { return *printer_; }
  MoxInterpreter* interpreter() const { return interpreter_; }

  void cloneSymbols(const MoxVirtualMachine& other);

  bool compileFile(const MoxChar* path, bool showInfo = false, bool debug = false,
                   IMoxPrinter* outPrinter = nullptr, IMoxPrinter* debugPrinter = nullptr);
  bool compileText(const MoxChar* text, bool showInfo = false, bool debug = false,
                   IMoxPrinter* outPrinter = nullptr, IMoxPrinter* debugPrinter = nullptr);

  bool execute(const MoxChar* name, int argc = 0, const MoxChar** argv = nullptr,
               bool trace = false, IMoxPrinter* errorPrinter = nullptr,
               IMoxPrinter* tracePrinter = nullptr);
  const MoxValue& getResult() const { return result_; }
  // execute with arguments of any kind (argc values at args) instead of
  // strings.
  bool executeValues(const MoxChar* name, int argc, const MoxValue* args,
                     IMoxPrinter* errorPrinter = nullptr);
  // The run-time error text of the last execute that failed ("divide 0
  // error\n"), as printed; empty after a successful run.
  const MoxChar* getErrorText() const { return errorText_.c_str(); }

  // A native function made from any callable: registered under name like
  // registerNativeFunction, and called with the machine, the argument count
  // and the arguments as a native function is. A machine holds up to
  // kMaxHostFunctions of them; reinit() forgets them with the other
  // globals. False when the name is null, empty or defined, or no room is
  // left. (vm/MoxHost.h makes them from typed lambdas.)
  typedef std::function<bool(MoxVirtualMachine*, int, ValPtr&)> HostFunction;
  static const size_t kMaxHostFunctions = 256;
  bool registerHostFunction(const MoxChar* name, HostFunction fn);
  bool callHostFunction(size_t slot, int argc, ValPtr& args);

  // Global variables by name: set creates or overwrites a variable (not a
  // function or a class of that name: false); get gives null for a name
  // that is not a variable.
  bool setGlobal(const MoxChar* name, const MoxValue& value);
  MoxValue getGlobal(const MoxChar* name) const;
  // Arguments a host pushes one by one before a call (the flat interface).
  std::vector<MoxValue>& pendingArguments() { return pendingArgs_; }
  // The call trace of the run-time error that ended the last execute, one
  // line a frame, innermost first ("prog.mox:12: in A::get\n"); empty after
  // a successful run. The next execute clears it.
  const MoxChar* getErrorTrace() const { return errorTrace_.c_str(); }
  // Source lines of the procedures compiled into this machine.
  MoxLineTables& lineTables() { return *lineTables_; }
  const MoxLineTables& lineTables() const { return *lineTables_; }

  // Most instructions one execute may run (0: no bound). A run that needs
  // more fails with "instruction limit exceeded"; the machine stays usable.
  // An execute started while another runs draws on what the outer has left.
  void setInstructionLimit(uint64_t count) { instructionLimit_ = count; }
  uint64_t getInstructionLimit() const { return instructionLimit_; }

  // Whether runs use the translated form of procedures (the default) or
  // decode their bytes one instruction at a time. Both give the same
  // results, output, errors and stack; the bytes alone are slower. For
  // tests and for telling the two apart when hunting a fault.
  void setTranslation(bool on) { translation_ = on; }
  bool getTranslation() const { return translation_; }

  // What scripts of this machine may reach: MOX_CAP_... flags. A machine
  // starts with MOX_CAP_ALL; reinit() keeps the choice.
  void setCapabilities(uint32_t caps) { capabilities_ = caps & MOX_CAP_ALL; }
  uint32_t getCapabilities() const { return capabilities_; }
  // True when every group in caps is on.
  bool allows(uint32_t caps) const { return (capabilities_ & caps) == caps; }

  // Most bytes the blocks of this machine's values may hold together
  // (0: no bound of the machine's own). Going over it during a run fails the
  // run with "not enough memory"; the machine stays usable.
  void setMemoryLimit(size_t bytes) { memory_.setLimit(bytes); }
  size_t getMemoryLimit() const { return memory_.getLimit(); }
  // Bytes the blocks made while this machine worked, with a limit in force,
  // hold now (nothing is measured without a limit).
  size_t getMemoryUsed() const { return memory_.getUsed(); }
  MoxMemoryLedger& memory() { return memory_; }
  // Called by the ledger when the blocks go over the limit or the system
  // refuses one: fails the run in progress with "not enough memory" (once).
  void memoryExhausted();
  // True once the run in progress went over the memory limit: it is
  // stopping, and nothing in it may catch that.
  bool memoryExhaustedInRun() const { return memoryReported_; }

  // Stops the run in progress: it fails at its next instruction with
  // "execution interrupted", and long library operations stop early. Safe to
  // call from any thread while another thread runs this machine. False
  // (and nothing happens) when no run is in progress.
  bool interrupt();
  // True while an interrupt waits to stop the running script.
  bool interruptPending() const { return interruptRequested_.load(); }
  // Forgets a pending interrupt (the run that reported it has ended).
  void clearInterrupt() { interruptRequested_.store(false); }

  bool writeModule(const MoxChar* path);
  bool readModule(const MoxChar* path);

  bool loadNativeModule(const MoxChar* name);

  // Called before each source line that runs (with the source name and the
  // line), while set: the line trace. Runs that start while none is set
  // pay nothing for it. An empty function removes it.
  typedef std::function<void(const MoxChar* source, int32_t line)> LineHook;
  void setLineHook(LineHook hook) { lineHook_ = std::move(hook); }
  const LineHook& lineHook() const { return lineHook_; }
  // Called when a run-time error happens, before the activations unwind
  // (interpreter() shows them and the error text).
  typedef std::function<void()> ErrorHook;
  void setErrorHook(ErrorHook hook) { errorHook_ = std::move(hook); }
  const ErrorHook& errorHook() const { return errorHook_; }

  bool dbgWait() const { return waitProc_ ? waitProc_() : false; }
  WaitProc setDbgWaitProc(WaitProc proc) {
    WaitProc old = waitProc_;
    waitProc_ = proc;
    return old;
  }

 private:
  // execute and executeValues: the arguments are argv's strings, or the
  // values when values is not null.
  bool run(const MoxChar* name, int argc, const MoxChar** argv, const MoxValue* values,
           bool trace, IMoxPrinter* errorPrinter, IMoxPrinter* tracePrinter);
  // Changes the running interpreter under the lock interrupt() takes.
  void setInterpreter(MoxInterpreter* interp);
  // Frees the library of every loaded native module and empties the table.
  void freeModules();

  MoxDictionary classes_;
  MoxDictionary symbols_;
  MoxDictionary modules_;
  IMoxPrinter* printer_;
  MoxInterpreter* interpreter_;
  bool ownsPrinter_;
  MoxValue result_;
  int cmdargc_;
  MoxChar** cmdargv_;
  WaitProc waitProc_;
  MoxLineTables* lineTables_;
  MoxString errorTrace_;
  uint64_t instructionLimit_ = 0;
  bool translation_ = true;
  // Script destructors running inside one another on this machine.
  int destructorDepth_ = 0;
  uint32_t capabilities_ = MOX_CAP_ALL;
  MoxString errorText_;
  std::vector<HostFunction> hostFunctions_;
  std::vector<MoxValue> pendingArgs_;
  LineHook lineHook_;
  ErrorHook errorHook_;
  MoxMemoryLedger memory_;
  std::atomic<bool> interruptRequested_{false};
  // "not enough memory" was reported in the run in progress.
  bool memoryReported_ = false;
  // Guards interpreter_ against interrupt() from another thread: execute
  // changes it under the lock, interrupt() reads it under the lock.
  std::mutex runLock_;
};

#endif
