// The bytecode interpreter: value stack, activation records, the execution
// loop, operators and element access, message dispatch and the run-time
// error text.
//
// Stack model. The interpreter is itself the value stack (a MoxVector); sp is
// a cursor on the top slot, which acts as accumulator: loads overwrite it and
// OP_PUSH opens a new slot above it. Moving sp past the end appends nulls;
// moving it down never shrinks the vector. The vector is trimmed only when a
// call returns and by reset().
//
// Native calling convention. A native function receives the interpreter's own
// sp by reference, positioned on its last argument: argument i is
// args[-argc + i], the result goes into args[-argc] (the slot that held the
// called value) and args is moved there before returning true. Leaving args
// where it was makes the last argument the result; moving it below the
// function slot is reported as "stack corrupted".
//
// Errors. A failing operation appends one report to errors() (returnError:
// message, detail, "\n") and returns false; every caller returns false in
// turn up to execute().
#ifndef MOX_INTERPRETER_H
#define MOX_INTERPRETER_H

#include <atomic>
#include <string>
#include <vector>

#include "core/MoxConfig.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"

// One activation of a procedure. Records form a chain from the current one
// through parent to the outermost; a record owns its parent.
struct MoxCell;
class MoxTranslation;

class MOX_API MoxProcInfo {
 public:
  // The record keeps the procedure alive while it runs.
  MoxProcInfo(MoxVector* proc, int nargs, ValPtr bp, ValPtr fp);
  // A copy refers to the same parent but does not own it, so destroying both
  // the copy and the original never frees the chain twice.
  MoxProcInfo(const MoxProcInfo& other);
  MoxProcInfo& operator=(const MoxProcInfo& other);
  // Destroys the owned parent chain (iteratively, whatever its length).
  ~MoxProcInfo();

  // Element i of the procedure, unchecked.
  const MoxValue& operator[](unsigned i) const { return (*proc_)[i]; }
  // The code bytes of element 0, or null when element 0 is not a buffer.
  operator unsigned char*() const;
  // Number of code bytes (0 when element 0 is not a buffer).
  unsigned int codeSize() const;

  MoxVector* getProc() const { return proc_; }
  int getNargs() const { return nargs_; }
  // The text of element 2, or "<unnamed>".
  const MoxChar* getName() const;
  // The frame pointers as recorded at the call: bp is the function slot
  // (arguments at bp[1] .. bp[nargs]), fp the top at the moment of the call.
  ValPtr& bp() { return bp_; }
  ValPtr& fp() { return fp_; }
  // Where the caller goes on when this activation returns (0 for one that
  // native code started: see isEntry).
  unsigned int getResumePc() const { return resumePc_; }
  // The number of the cell where the caller goes on (see resumeCell_).
  unsigned int resumeCellIndex() const { return resumeCell_; }
  // True for an activation native code started (execute, a send from a
  // native function): its caller is not bytecode of the same loop.
  bool isEntry() const { return kind_ == kEntry; }
  // The activation that called this one (the parent).
  MoxProcInfo* getCaller() const { return parent_; }
  MoxProcInfo* getParent() const { return parent_; }
  // Replaces the parent; the record owns the new one.
  void setParent(MoxProcInfo* parent) {
    parent_ = parent;
    ownsParent_ = true;
  }

 private:
  friend class MoxInterpreter;

  // An activation that the execution loop started for an OP_CALL or OP_SEND
  // runs in the same loop as its caller.
  enum Kind : unsigned char { kEntry = 0, kLoopCall = 1, kLoopSend = 2 };

  // Makes a record from the free list fresh for a new activation of proc,
  // as the constructor would (the parent is set by the caller).
  void reuse(MoxVector* proc, int nargs, ValPtr bp, ValPtr fp) {
    if (proc) proc->addRef();
    begin(proc, nargs, bp, fp, kEntry, 0);
    resumeWidth_ = 1;
    resumeFp_ = 0;
    resumeTemps_ = 0;
    resumeCell_ = 0xFFFFFFFFu;
    resumeXl_ = nullptr;
    resumeEpoch_ = 0;
  }
  // The same for an activation the loop enters from a cell. The fields a
  // return reads to take up the caller are left as they are: this record
  // is nobody's caller yet, and a call from it sets them all first.
  void reuseForCell(MoxVector* proc, int nargs, ValPtr bp, ValPtr fp, Kind kind,
                    int resultSlot) {
    proc->addRef();
    begin(proc, nargs, bp, fp, kind, resultSlot);
  }
  // What both set; proc's hold is taken. resumePc_ is cleared too, because
  // the tracer shows it for a caller that a native function interrupted.
  void begin(MoxVector* proc, int nargs, ValPtr bp, ValPtr fp, Kind kind, int resultSlot) {
    proc_ = proc;
    bp_ = bp;
    fp_ = fp;
    nargs_ = nargs;
    ownsParent_ = true;
    kind_ = kind;
    resumePc_ = 0;
    resultSlot_ = resultSlot;
  }

  MoxVector* proc_;
  ValPtr bp_;
  ValPtr fp_;
  int nargs_;
  MoxProcInfo* parent_;
  bool ownsParent_;

  // Loop bookkeeping: see Kind. The caller's program counter, operand width
  // and temporaries pointer wait here.
  Kind kind_;
  unsigned char resumeWidth_;
  unsigned int resumePc_;
  int resumeFp_;
  unsigned int resumeTemps_;
  // The number of the cell where the caller goes on, when it called from
  // one (else 0xFFFFFFFF): a return takes it up without looking for it.
  unsigned int resumeCell_;
  // The translation that cell is in, and the machine's code epoch at the
  // call: while the epoch has not moved, nothing can have replaced the
  // translation, and the return goes on there without checking it again.
  const MoxTranslation* resumeXl_;
  uint64_t resumeEpoch_;
  // The slot that receives the callee's result (for kLoopCall the function
  // slot, for kLoopSend the receiver slot).
  int resultSlot_;
};

// The lowest native stack address the running thread lets a re-entrant run
// start at: the bottom of its stack plus room for the work between two
// checks. 0 when the thread's stack cannot be found out.
MOX_API uintptr_t moxNativeStackLimit();

class MOX_API MoxInterpreter : public MoxVector {
 public:
  // Bound on nested activations (script calls, sends, operator and
  // destructor methods). Deeper nesting fails with "call depth limit exceeded".
  static const int kMaxCallDepth = 10000;
  // Bound on the native stack used by re-entrant runs (native code and
  // operator dispatch calling back into scripts) on a thread whose stack
  // cannot be found out; otherwise the thread's stack sets the bound.
  static const size_t kMaxNativeStack = 3u * 1024u * 1024u;
  // Slots the value stack reserves at the start (it doubles when full).
  static const unsigned kInitialStack = 1024;

  explicit MoxInterpreter(MoxVirtualMachine& vm);
  ~MoxInterpreter() override;
  MoxInterpreter(const MoxInterpreter&) = delete;
  MoxInterpreter& operator=(const MoxInterpreter&) = delete;

  MoxVirtualMachine& getVirtualMachine() { return vm_; }
  MoxProcInfo* getProcInfo() const { return procInfo_; }
  int getCallDepth() const { return depth_; }

  // The stack cursor (on the top slot). Native code that pushes values for a
  // send moves it up; whatever it pushes it pops again.
  ValPtr& sp() { return sp_; }
  const ValPtr& sp() const { return sp_; }
  // Pops the stack vector down to size n, releasing values one at a time
  // with sp kept below them (a destructor that runs meanwhile finds a
  // consistent stack); sp is then on slot n - 1. Native code that called
  // back into the script above the stack removes the call's slots so.
  void trimTo(unsigned int n);

  // Attaches a tracer (null detaches). The tracer's trace switch becomes the
  // interpreter's trace flag.
  void setDebugger(MoxDebugger* debugger);
  // Instruction budget for what this interpreter runs from now on: each
  // instruction takes one of left; when none is left the run fails with
  // "instruction limit exceeded". reset() keeps it.
  void setInstructionBudget(bool on, uint64_t left) {
    budgetOn_ = on;
    budgetLeft_ = left;
    budgetReported_ = false;
    updateHooks();
  }
  bool hasInstructionBudget() const { return budgetOn_; }
  // A failure that could not stop the run where it happened (a destructor
  // that failed while an object was released) stops it before the next
  // instruction, and makes a finished run count as failed. Rides on the
  // per-instruction hook test like the budget.
  void failAtNextInstruction() {
    deferredFailure_ = true;
    updateHooks();
  }
  bool failurePending() const { return deferredFailure_; }
  // True (once) when such a failure is pending.
  bool takeDeferredFailure() {
    const bool pending = deferredFailure_;
    deferredFailure_ = false;
    updateHooks();
    return pending;
  }
  uint64_t getInstructionsLeft() const { return budgetLeft_; }
  // For native code doing work of its own that grows with its input (fills,
  // formatting, reads): charges units of that work against the instruction
  // budget (one instruction per kWorkPerInstruction units) and notices an
  // interrupt. False, with the error reported, when the run has to stop;
  // the caller then fails. Call it every so often while working, at least
  // once per kWorkPerInstruction * 4096 units.
  bool checkWork(uint64_t units);
  static const uint64_t kWorkPerInstruction = 256;
  // True when an interrupt of the machine waits to stop this run. Written
  // by another thread: the flag the loop tests is atomic.
  void noticeInterrupt() {
    hooked_.store(true, std::memory_order_seq_cst);
  }
  MoxDebugger* getDebugger() const { return debugger_; }
  bool getTrace() const { return trace_; }
  bool getStep() const { return step_; }
  // Whether the loop runs the translated form of procedures when no hook is
  // on (the default), or their bytes one instruction at a time.
  void setTranslation(bool on) { translation_ = on; }
  bool getTranslation() const { return translation_; }

  // Empties the stack (one null slot, sp on it) and the error text.
  void reset();

  // Runs the global function name with argc string arguments. Fails without
  // error text when the name is missing or not callable.
  bool execute(const MoxChar* name, int argc = 0, const MoxChar** argv = nullptr);
  // The same with argc values of any kind at args.
  bool executeValues(const MoxChar* name, int argc, const MoxValue* args);
  // Runs one bytecode activation whose function slot lies argc slots below
  // the top; the result is left at the top.
  bool call(int argc, MoxVector* proc);
  // Sends a message to the object argc slots below the top. With a selector
  // the argc slots above it are the arguments; without one (null) the slot
  // above the receiver holds the selector string. Afterwards the result lies
  // in the receiver's slot, which is the top.
  bool send(int argc, const MoxChar* selector);

  // Calls the value argc slots below the top (a script function, a native
  // function, or an object, which receives OP_CALL) with the argc values
  // above it. Afterwards the result lies in that slot, which is the top.
  bool callValue(int argc);
  // callValue that catches a run-time failure of the call. kCallDone: as
  // callValue. kCallCaught: the failed part of the run has unwound (its
  // activations left, the values above the call's slot released), the slot
  // holds null and is the top, *caught holds the error text the failure
  // added (without its last newline), and the error text and trace are
  // as they were before the call. kCallFailed: a failure nothing may catch
  // (the instruction limit, an interrupt, running out of memory, exit())
  // goes on unwinding, reported as usual.
  enum CallOutcome { kCallDone, kCallCaught, kCallFailed };
  CallOutcome protectedCall(int argc, MoxString* caught);
  // Ends the run as if its entry function returned code: false, without
  // error text, so that the run unwinds; the machine's execute turns the
  // ending into success with code as the result. The first code stays.
  bool requestExit(int32_t code) {
    if (!exitRequested_) {
      exitRequested_ = true;
      exitCode_ = code;
    }
    return false;
  }
  bool exitRequested() const { return exitRequested_; }
  int32_t exitCode() const { return exitCode_; }

  // True when value is of kind expected or (for the counted kinds other than
  // strings) its uncounted twin; otherwise reports badType.
  bool checkType(const MoxValue& value, MoxValueType expected);
  // Reports "invalid value type <actual>, <expected> expected"; false.
  bool badType(MoxValueType actual, MoxValueType expected);
  // Reports "no method for name <name>"; false.
  bool noMethod(const MoxChar* name);
  // Appends message, detail (each when not null) and "\n"; false.
  bool returnError(const MoxChar* message, const MoxChar* detail = nullptr);
  MoxString& errors() { return errors_; }
  const MoxString& errors() const { return errors_; }

  // One frame of the call trace kept when a run-time error unwinds.
  struct TraceFrame {
    std::u16string name;    // "f", "Class::method", or a native's script name
    std::u16string source;  // empty when unknown
    int32_t line;           // 0 when unknown
    std::u16string note;    // what went wrong here, when known
  };
  // The frames of the error that ended the last run, innermost first.
  const std::vector<TraceFrame>& errorTrace() const { return errorTrace_; }
  // Appends the trace as text to out, one line a frame:
  // "source:line: in name[: note]\n", or "in name\n" without a position.
  void formatErrorTrace(MoxString& out) const;

  // The comparison of the operators < <= == != >= > for native code: *c
  // is below, equal to or above 0; false with the operators' error (a
  // compare method may run). The stack is left as it was.
  bool compareValues(const MoxValue& left, const MoxValue& right, int32_t* c);

  // The text of a string value, or the string that the object's "toString"
  // method returns (owned by a stack slot above the top: use it at once);
  // null otherwise.
  MoxString* getStringFromValue(MoxValue& value);

 private:
  // enterProc, leaveProc and finishSend take an inline path for the common
  // case (a recycled record, no tracer, quiet releases; defined in
  // MoxInterpreterImpl.h) and fall back to the *Slow versions otherwise.
  inline void enterProc(MoxVector* proc, int argc, ValPtr bp, ValPtr fp);
  void enterProcSlow(MoxVector* proc, int argc, ValPtr bp, ValPtr fp);
  inline void leaveProc();
  void leaveProcSlow();
  // Puts a left activation record on the free list for reuse.
  inline void recycleRecord(MoxProcInfo* old);
  // While a run goes on, every record it leaves waits on the free list, so
  // that a recursion deeper than any before takes new records only once;
  // when the outermost run ends, the list is cut back to kFreeRecords.
  static const int kFreeRecords = 64;
  void trimFreeRecords();
  // The one way into a bytecode activation (OP_CALL, sends and call()): the
  // function slot lies argc slots below top. kind says who resumes the
  // caller: this loop (kLoopCall, kLoopSend, result into resultSlot) or the
  // native caller of run() (kEntry, which also checks the native stack).
  inline bool enterBytecode(MoxVector* callee, int argc, int top, MoxProcInfo::Kind kind,
                            int resultSlot);
  bool enterBytecodeSlow(MoxVector* callee, int argc, int top, MoxProcInfo::Kind kind,
                         int resultSlot);
  // enterBytecode for an OP_CALL or OP_SEND the loop makes from a cell,
  // once it has made the checks: a record waits on the free list, no hook
  // is on and the depth is below the limit.
  inline void enterFromCell(MoxVector* callee, int argc, int top, MoxProcInfo::Kind kind);
  // The one way back from an activation the loop started: leaves it and
  // moves its result into the caller's result slot, releasing the slots
  // above. procInfo_ is then the caller.
  inline bool returnToCaller();
  // The return from a cell that MR_RETURN makes itself, leaving the rest to
  // OP_RETURN: true when the activation rec, whose result is at t (S is
  // the stack's first slot, as the loop keeps it), has a caller of this
  // loop, no hook is on, and neither the result slot's release nor the
  // record's release of its procedure can run other code.
  inline bool returnsQuietly(const MoxProcInfo* rec, const MoxValue* S, const MoxValue* t) const;
  // Then: the record goes back on the free list, the result moves from t to
  // R and the slots above R up to end are emptied from the end down, as
  // OP_RETURN empties them. The first release that could run a destructor
  // stops it (false: the stack then ends right above that slot, and sp_ is
  // at R for finishSendSlow). When all are empty the loop goes on with R as
  // its top and sets sp_ when it next needs it.
  inline bool leaveQuietly(MoxProcInfo* rec, MoxValue* S, MoxValue* R, MoxValue* t,
                           MoxValue* end);
  // The translation in which caller goes on at the cell it noted, with *cb
  // its code buffer; null when the loop must find its place again. While
  // the code epoch has not moved since the call, the translation the caller
  // noted is still the one in force for its code; otherwise it is looked up
  // and checked again.
  inline const MoxTranslation* callerCells(const MoxProcInfo* caller, MoxBuffer** cb) const;
  // Depth and native stack checks made before a new activation starts.
  bool checkCallDepth();
  // The budget rides on the per-instruction hook test, so an unbudgeted run
  // pays nothing for it.
  void updateHooks();
  // Reports a pending interrupt of the machine (once); false.
  bool interrupted();
  // Tells the machine's line hook when the instruction at pc of proc starts
  // another source line.
  void noteLine(const MoxVector* proc, uint32_t pc);
  bool checkNativeStack();
  // One instruction of the budget; false (reported once) when none is left.
  __attribute__((noinline)) bool takeInstruction();
  enum HookOutcome { kHookGo, kHookFail, kHookUnwind };
  HookOutcome takeHooks(const MoxVector* proc, const uint8_t* code, uint32_t codeLen, uint32_t pc,
                        uint32_t width, int bpi, int fpi);

  // The execution loop: runs the current activation (and every activation it
  // starts itself) until the entry activation returns or something fails.
  bool run();

  // Message dispatch in two steps: lookup and stack set-up, then the call.
  // prepareSend finds the method for the receiver argc slots below the top,
  // sets up the stack (the method's function slot is then methodArgc slots
  // below the top) and leaves the method value in *method and its name in
  // *name (kept alive by *nameHolder). bcClass, when not null, is the class
  // of the running method, whose base starts a "BC_" lookup. Returns
  // kSendFailed, kSendNothing (a missing destructor: nothing to call) or
  // kSendCall.
  // site, when not null, is the calling instruction's lookup cache.
  enum SendSetup { kSendFailed, kSendNothing, kSendCall };
  struct SendSite;
  SendSetup prepareSend(int argc, const MoxChar* selector, MoxClass* bcClass, MoxValue* method,
                        int* methodArgc, const MoxChar** name, MoxValue* nameHolder,
                        SendSite* site);
  // The function member that *wanted names for an object of class cls,
  // searched from cls towards the root (see the "BC_" rules in the
  // source); *wanted moves past the "BC_" prefixes dropped on the way.
  // selectorString, when not null, holds *wanted's text. Null when missing.
  MoxDictionaryEntry* findMethod(MoxClass* cls, MoxClass* bcClass, const MoxChar** wanted,
                                 const MoxString* selectorString);
  // The same through the cache of one send instruction.
  MoxDictionaryEntry* findMethodCached(SendSite* site, MoxClass* cls, MoxClass* bcClass,
                                       const MoxChar** wanted, const MoxString* selectorString);
  // The cache slot of the send at offset pc of proc.
  inline SendSite* sendSiteFor(const MoxVector* proc, uint32_t pc);
  // The slot of that send for receivers of class cls, where the site keeps
  // the lookups of the classes after the first it met (its own slot keeps
  // that one's).
  inline SendSite* classSiteFor(const MoxVector* proc, uint32_t pc, const MoxClass* cls);
  inline SendSite* partnerOf(SendSite* site);
  // The common send at offset pc of proc, found by the site's cache: a
  // counted object in slot basei (with argc slots above it on the stack)
  // receiving a bytecode method named by the string above it, for which the
  // site holds the method already. Leaves the stack as prepareSend does and
  // gives the method's code; null, with nothing changed, for anything else.
  MoxVector* cachedSendTarget(const MoxVector* proc, uint32_t pc, int basei, int argc);
  bool invokeMethod(const MoxValue& method, const MoxChar* name, int methodArgc);
  bool sendFrom(int argc, const MoxChar* selector, MoxClass* bcClass);
  enum SendStep { kSendStepFailed, kSendStepDone, kSendEnter };
  SendStep startSend(const MoxVector* proc, uint32_t pc, int argc, const MoxChar* selector,
                     int basei, MoxValue* method, int* methodArgc, MoxVector** callee);
  bool callNative(int argc, int basei);
  // After a send: the value at the top moves into base, the stack is trimmed
  // above it and the top is base.
  inline void finishSend(int base);
  void finishSendSlow(int base);
  // After OP_CALL: the OP_CALL clean-up rules for the function slot base.
  bool finishCall(int base);

  // Error trace, kept only while a failure unwinds. startTrace drops the
  // frames of an earlier failure that was not passed on (its error text is
  // no longer the newest) and tells whether this failure is a new one.
  bool startTrace();
  // The frames of the activations this loop runs, from the current one down
  // to its entry record; pc is the current activation's program counter.
  void noteFailure(uint32_t pc);
  // A native function that failed while called from a script.
  void noteNativeFrame(MoxNativeFunction fn);
  // For a new error about a null value: the never-assigned global that the
  // failing line read, as a note.
  std::u16string nullGlobalNote(MoxVector* proc, uint32_t pc, size_t errorStart);

  // Operators (left operand below the top, right operand on top).
  bool doArith(unsigned char op);
  bool doBitwise(unsigned char op);
  bool doOP_BNOT();
  bool doUnary(unsigned char op);  // OP_NEG, OP_INC, OP_DEC
  bool doCompare();
  bool doOP_VREF();
  bool doOP_VSET();
  bool doOP_DELETE();
  // Sends name with one argument (the right operand, or the left one after a
  // swap when only the right operand is an object).
  bool sendOperator(const MoxChar* name, bool swap);
  bool stringConcat();
  // Reports a string, container or key value of kind whose object is null.
  bool nullOperand(MoxValueType kind);

  ValPtr sp_;
  MoxDictionary& classes_;
  MoxDictionary& symbols_;
  IMoxPrinter& printer_;
  MoxVirtualMachine& vm_;
  MoxString errors_;
  MoxProcInfo* procInfo_;
  MoxDebugger* debugger_;
  bool trace_;
  bool step_;
  // trace_ || step_ || budgetOn_ || deferredFailure_ || an interrupt,
  // tested once per instruction. Atomic because interrupt() sets it from
  // another thread; the loop reads it relaxed, a plain load.
  std::atomic<bool> hooked_;
  int depth_;
  // Records of finished activations, kept for reuse (linked through parent).
  MoxProcInfo* freeRecords_;
  // Moves whenever code that could change a procedure's code or its
  // translation may have run: a native function or method, a change of
  // the hooks, a new translation. See MoxProcInfo::resumeEpoch_.
  uint64_t codeEpoch_;
  // Native stack position where the outermost run started (0: none); used
  // only when the thread's stack is unknown.
  uintptr_t stackBase_;
  // Lowest native stack address a re-entrant run may start at (0: unknown).
  uintptr_t stackLimit_;
  std::vector<TraceFrame> errorTrace_;
  // Method lookups of send instructions, kept apart from the procedures (a
  // slot per hash of procedure and offset, and one per hash of those and
  // the receiver's class for the other classes a site meets; a slot shared
  // by two sites just misses more). An entry holds while the class method
  // epoch is unchanged.
  struct SendSite {
    uint64_t epoch = 0;
    MoxClass* cls = nullptr;
    MoxClass* bcClass = nullptr;
    MoxDictionaryEntry* entry = nullptr;
    unsigned skipped = 0;  // characters of "BC_" prefixes dropped
    std::u16string selector;
    // True when the kept method answers selector sent to an object of cls
    // from a method of bcClass.
    inline bool holds(const MoxClass* c, const MoxClass* bc, const MoxChar* text) const;
    // The same for the text of a string, compared by length first.
    inline bool holds(const MoxClass* c, const MoxClass* bc, const MoxString* text) const;
  };
  static const unsigned kSendSites = 256;
  std::vector<SendSite> sendSites_;
  // Length of the error text when the trace was last extended.
  unsigned int traceErrorLength_ = 0;
  bool budgetOn_ = false;
  uint64_t budgetLeft_ = 0;
  bool budgetReported_ = false;
  bool interruptReported_ = false;
  // The machine's line hook was set when this run started.
  bool lines_ = false;
  bool translation_ = true;
  // The loop's handlers by cell form, filled when it first runs (where the
  // compiler can take the address of a label).
  const void* jumpTable_[256] = {};
  // The last line the hook was told of.
  const MoxVector* lineProc_ = nullptr;
  int32_t line_ = 0;
  bool deferredFailure_ = false;
  // Work units of checkWork not yet charged as an instruction.
  uint64_t workCarry_ = 0;
  // exit() was called in this run.
  bool exitRequested_ = false;
  int32_t exitCode_ = 0;
};

#endif
