// The tracer: procedure listings for the compiler, per-instruction trace
// lines and activation headers for the interpreter, and the single-step hook.
//
// Cost when tracing is off: none. The interpreter keeps its own trace and
// step flags and calls into the tracer only while one of them is set.
#ifndef MOX_DEBUGGER_H
#define MOX_DEBUGGER_H

#include "core/MoxConfig.h"

class MoxProcInfo;

class MOX_API MoxDebugger {
 public:
  // A null printer means the machine's printer.
  explicit MoxDebugger(MoxVirtualMachine& vm, IMoxPrinter* printer = nullptr);
  virtual ~MoxDebugger();
  MoxDebugger(const MoxDebugger&) = delete;
  MoxDebugger& operator=(const MoxDebugger&) = delete;

  // The trace switch: the machine sets it for an execute with tracing, the
  // interpreter copies it into its own flag when the tracer is attached.
  bool getTrace() const { return trace_; }
  void setTrace(bool on) { trace_ = on; }

  void setInterpreter(MoxInterpreter* interpreter) { interpreter_ = interpreter; }
  MoxInterpreter* getInterpreter() const { return interpreter_; }

  // Stores the activation trace lines refer to; a non-null one prints the
  // "-->current proc" header.
  void setCurrentProc(MoxProcInfo* proc);
  MoxProcInfo* getCurrentProc() const { return currentProc_; }

  MoxVirtualMachine& getVirtualMachine() const { return vm_; }
  IMoxPrinter& getPrinter() const { return *printer_; }

  // Prints the listing of one procedure (nothing for a vector that is not a
  // listable procedure).
  virtual void decodeProcedure(MoxVector* proc);

  // Prints the trace line for the byte code[pc], before it runs. width is the
  // operand width in force (1, 2 or 4); sp, bp and fp are the interpreter's
  // stack pointer and frame pointers. codeSize, when not 0, bounds operand
  // reads (an operand that would run past the code is not decoded).
  virtual void traceInstruction(ValPtr sp, ValPtr bp, ValPtr fp, unsigned char width,
                                unsigned char* code, unsigned int pc, unsigned int codeSize = 0);

  // The opcode's name, or "<unknown>" for bytes outside the opcode set.
  virtual const MoxChar* getOpCodeName(unsigned int op) const;

  // Interpreter helpers for the debugging opcodes and single-step mode. Each
  // updates the interpreter's flags passed by reference.
  //   OP_TRON / OP_TRSTEP: when neither trace nor step was on, the current
  //   activation becomes the tracer's (printing its header); then trace
  //   (OP_TRON) or step (OP_TRSTEP) is switched on.
  void onTraceOn(bool& trace, bool& step, MoxProcInfo* current);
  void onStepOn(bool& trace, bool& step, MoxProcInfo* current);
  //   OP_TROFF: trace off.
  static void onTraceOff(bool& trace) { trace = false; }
  // One traced instruction: prints its trace line and, in single-step mode,
  // asks the machine's wait procedure whether to stay in step mode
  // (false or no wait procedure leaves it).
  void traceStep(bool& step, ValPtr sp, ValPtr bp, ValPtr fp, unsigned char width,
                 unsigned char* code, unsigned int pc, unsigned int codeSize = 0);

  // Nesting bound for printing values (a variable whose value is a variable
  // whose value is ...).
  static const int kMaxPrintDepth = 8;

 protected:
  // Prints one value: its type name, then a kind-dependent detail.
  void printValue(const MoxValue& value, bool brief);

 private:
  void printValueAt(const MoxValue& value, bool brief, int depth);
  void printStringDetail(const MoxString* s);
  // Prints label and the value at offset from p, or a marker when there is
  // no such slot.
  void printBriefSlot(const MoxChar* label, const ValPtr& p, int64_t offset, bool brief);
  // Element index of a procedure, or a marker when it has none.
  void printElement(MoxVector* proc, uint32_t index, bool brief);
  // The OP_MREF/OP_MSET details: the object in bp[0] and its member.
  void traceMember(const ValPtr& bp, uint32_t index, bool brief);

  bool trace_;
  MoxInterpreter* interpreter_;
  MoxProcInfo* currentProc_;
  MoxVirtualMachine& vm_;
  IMoxPrinter* printer_;
};

#endif
