// The virtual machine: owner of a program's global state (classes, global
// symbols, loaded native modules) and entry point of every phase: compiling,
// reading and writing modules, running a function, loading native modules.
#ifndef MOX_VIRTUAL_MACHINE_H
#define MOX_VIRTUAL_MACHINE_H

#include "core/MoxConfig.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"

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

  bool writeModule(const MoxChar* path);
  bool readModule(const MoxChar* path);

  bool loadNativeModule(const MoxChar* name);

  bool dbgWait() const { return waitProc_ ? waitProc_() : false; }
  WaitProc setDbgWaitProc(WaitProc proc) {
    WaitProc old = waitProc_;
    waitProc_ = proc;
    return old;
  }

 private:
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
  // Script destructors running inside one another on this machine.
  int destructorDepth_ = 0;
};

#endif
