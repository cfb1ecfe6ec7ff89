// The interpreter object, activation records, execute/call and the
// execution loop.
#include "interpreter/MoxInterpreter.h"

#include <new>

#include <pthread.h>

#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "debugger/MoxDebugger.h"
#include "interpreter/MoxInterpreterImpl.h"
#include "interpreter/MoxOpCodes.h"
#include "interpreter/MoxTranslation.h"
#include "vm/MoxVirtualMachine.h"

// ---------------------------------------------------------------------------
// MoxProcInfo

MoxProcInfo::MoxProcInfo(MoxVector* proc, int nargs, ValPtr bp, ValPtr fp)
    : proc_(proc),
      bp_(bp),
      fp_(fp),
      nargs_(nargs),
      parent_(nullptr),
      ownsParent_(true),
      kind_(kEntry),
      resumeWidth_(1),
      resumePc_(0),
      resumeFp_(0),
      resumeTemps_(0),
      resumeCell_(kMoxNoCell),
      resumeXl_(nullptr),
      resumeEpoch_(0),
      resultSlot_(0) {
  if (proc_) proc_->addRef();
}

MoxProcInfo::MoxProcInfo(const MoxProcInfo& o)
    : proc_(o.proc_),
      bp_(o.bp_),
      fp_(o.fp_),
      nargs_(o.nargs_),
      parent_(o.parent_),
      ownsParent_(false),
      kind_(o.kind_),
      resumeWidth_(o.resumeWidth_),
      resumePc_(o.resumePc_),
      resumeFp_(o.resumeFp_),
      resumeTemps_(o.resumeTemps_),
      resumeCell_(o.resumeCell_),
      resumeXl_(o.resumeXl_),
      resumeEpoch_(o.resumeEpoch_),
      resultSlot_(o.resultSlot_) {
  if (proc_) proc_->addRef();
}

MoxProcInfo& MoxProcInfo::operator=(const MoxProcInfo& o) {
  if (this == &o) return *this;
  if (o.proc_) o.proc_->addRef();
  MoxVector* old = proc_;
  proc_ = o.proc_;
  if (old) old->release();
  bp_ = o.bp_;
  fp_ = o.fp_;
  nargs_ = o.nargs_;
  // The old parent chain stays with whoever owned it before; an owned one is
  // freed here so that nothing leaks.
  if (ownsParent_ && parent_ && parent_ != o.parent_) {
    MoxProcInfo* p = parent_;
    parent_ = nullptr;
    delete p;
  }
  parent_ = o.parent_;
  ownsParent_ = false;
  kind_ = o.kind_;
  resumeWidth_ = o.resumeWidth_;
  resumePc_ = o.resumePc_;
  resumeFp_ = o.resumeFp_;
  resumeTemps_ = o.resumeTemps_;
  resumeCell_ = o.resumeCell_;
  resumeXl_ = o.resumeXl_;
  resumeEpoch_ = o.resumeEpoch_;
  resultSlot_ = o.resultSlot_;
  return *this;
}

MoxProcInfo::~MoxProcInfo() {
  // The chain is freed in a loop, not by recursion, so a long chain cannot
  // exhaust the native stack.
  MoxProcInfo* p = ownsParent_ ? parent_ : nullptr;
  parent_ = nullptr;
  while (p) {
    MoxProcInfo* next = p->ownsParent_ ? p->parent_ : nullptr;
    p->parent_ = nullptr;
    delete p;
    p = next;
  }
  if (proc_) {
    MoxVector* old = proc_;
    proc_ = nullptr;
    old->release();
  }
}

MoxProcInfo::operator unsigned char*() const {
  if (!proc_ || proc_->size() == 0) return nullptr;
  MoxBuffer* code = moxAsBuffer((*proc_)[0]);
  return code ? code->data() : nullptr;
}

unsigned int MoxProcInfo::codeSize() const {
  if (!proc_ || proc_->size() == 0) return 0;
  MoxBuffer* code = moxAsBuffer((*proc_)[0]);
  return code ? code->size() : 0;
}

const MoxChar* MoxProcInfo::getName() const {
  if (proc_ && proc_->size() > 2) {
    const MoxValue& v = (*proc_)[2];
    if (v.type() == MVT_STRING && v.getRef()) return static_cast<MoxString*>(v.getRef())->c_str();
  }
  return u"<unnamed>";
}

// ---------------------------------------------------------------------------
// Construction, reset, tracer

namespace {

// Room kept free below the last check for what runs until the next one
// (a native function, printing, an error report): a quarter of the stack,
// at least 64 KiB and at most 256 KiB.
uintptr_t stackReserve(size_t size) {
  const size_t quarter = size / 4;
  const size_t kMin = 64u * 1024u, kMax = 256u * 1024u;
  return quarter < kMin ? kMin : quarter > kMax ? kMax : quarter;
}

// The lowest address of this thread's stack plus the reserve; 0 when the
// thread cannot tell. Asked once per thread: for the main thread the answer
// comes from reading the process's memory map.
uintptr_t findStackLimit() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
  void* low = nullptr;
  size_t size = 0;
  const bool known = pthread_attr_getstack(&attr, &low, &size) == 0;
  pthread_attr_destroy(&attr);
  const uintptr_t reserve = stackReserve(size);
  if (!known || !low || size <= 2 * reserve) return 0;
  return reinterpret_cast<uintptr_t>(low) + reserve;
}

}  // namespace

uintptr_t moxNativeStackLimit() {
  thread_local uintptr_t limit = findStackLimit();
  return limit;
}

MoxInterpreter::MoxInterpreter(MoxVirtualMachine& vm)
    : MoxVector(),
      classes_(vm.classes()),
      symbols_(vm.symbols()),
      printer_(vm.printer()),
      vm_(vm),
      procInfo_(nullptr),
      debugger_(nullptr),
      trace_(false),
      step_(false),
      hooked_(false),
      depth_(0),
      freeRecords_(nullptr),
      codeEpoch_(0),
      stackBase_(0),
      stackLimit_(moxNativeStackLimit()),
      sendSites_(kSendSites) {
  lines_ = bool(vm.lineHook());
  // The owner deletes the interpreter directly; this reference keeps a
  // stray value that refers to it from ever deleting it.
  addRef();
  // Room for ordinary call depths, so that the stack seldom moves.
  setCapacity(kInitialStack);
  sp_ = last();
  ++sp_;
}

MoxInterpreter::~MoxInterpreter() {
  // Values are released while everything else still works, so destructors
  // of script objects that die here run on a whole interpreter.
  trimTo(0);
  while (procInfo_) leaveProc();
  while (freeRecords_) {
    MoxProcInfo* r = freeRecords_;
    freeRecords_ = r->parent_;
    r->parent_ = nullptr;
    delete r;
  }
}

void MoxInterpreter::setDebugger(MoxDebugger* debugger) {
  if (debugger == debugger_) return;
  if (debugger_) {
    debugger_->setInterpreter(nullptr);
    debugger_->setCurrentProc(nullptr);
    trace_ = false;
    step_ = false;
  }
  debugger_ = debugger;
  if (debugger_) {
    debugger_->setInterpreter(this);
    debugger_->setCurrentProc(nullptr);
    trace_ = debugger_->getTrace();
  }
  updateHooks();
}

void MoxInterpreter::trimTo(unsigned int n) {
  while (size() > n) {
    // The slots from the end down whose release runs no code go at once.
    MoxValue* const keep = data() + n;
    MoxValue* const rest = moxEmptyDown(keep, data() + size());
    dropEmptyFrom(unsigned(rest - data()));
    if (rest == keep) break;
    // sp stays on the last kept slot: a destructor that runs while a value
    // is released pushes above it.
    sp_ = ValPtr(this, int(n) - 1);
    MoxValue last = pop_back();
    last.dispose();
  }
  sp_ = ValPtr(this, int(n) - 1);
}

void MoxInterpreter::reset() {
  while (procInfo_) leaveProc();
  trimFreeRecords();
  trimTo(0);
  push_back(MoxValue());
  sp_ = ValPtr(this, 0);
  errors_.clear();
  depth_ = 0;
  stackBase_ = 0;
  errorTrace_.clear();
  traceErrorLength_ = 0;
  exitRequested_ = false;
  exitCode_ = 0;
  takeDeferredFailure();
}

// ---------------------------------------------------------------------------
// Activations

void MoxInterpreter::enterProcSlow(MoxVector* proc, int argc, ValPtr bp, ValPtr fp) {
  MoxProcInfo* rec = freeRecords_;
  if (rec) {
    freeRecords_ = rec->parent_;
    rec->reuse(proc, argc, bp, fp);
  } else {
    rec = new MoxProcInfo(proc, argc, bp, fp);
  }
  rec->parent_ = procInfo_;
  procInfo_ = rec;
  ++depth_;
  if ((trace_ || step_) && debugger_) debugger_->setCurrentProc(rec);
}

void MoxInterpreter::leaveProcSlow() {
  MoxProcInfo* old = procInfo_;
  if (!old) return;
  procInfo_ = old->parent_;
  old->parent_ = nullptr;
  --depth_;
  if ((trace_ || step_) && debugger_) debugger_->setCurrentProc(procInfo_);
  recycleRecord(old);
}

void MoxInterpreter::trimFreeRecords() {
  // The list keeps no count: a call and a return then touch one word less,
  // and this walk runs once per outermost run.
  MoxProcInfo* last = freeRecords_;
  for (int kept = 1; last && kept < kFreeRecords; ++kept) last = last->parent_;
  if (!last) return;
  MoxProcInfo* r = last->parent_;
  last->parent_ = nullptr;
  while (r) {
    MoxProcInfo* next = r->parent_;
    r->parent_ = nullptr;
    delete r;
    r = next;
  }
}

bool MoxInterpreter::enterBytecodeSlow(MoxVector* callee, int argc, int top,
                                       MoxProcInfo::Kind kind, int resultSlot) {
  if (!moxProcCode(callee)) return returnError(u"invalid procedure: ", u"no code buffer");
  if (!checkCallDepth()) return false;
  if (kind == MoxProcInfo::kEntry && !checkNativeStack()) return false;
  enterProc(callee, argc, ValPtr(this, top - argc), ValPtr(this, top));
  procInfo_->kind_ = kind;
  procInfo_->resultSlot_ = resultSlot;
  return true;
}


bool MoxInterpreter::checkCallDepth() {
  if (depth_ >= kMaxCallDepth) return returnError(u"call depth limit exceeded", nullptr);
  return true;
}

bool MoxInterpreter::takeInstruction() {
  if (budgetLeft_ > 0) {
    --budgetLeft_;
    return true;
  }
  // Reported once: destructors that run while the failure unwinds fail at
  // once too, and would repeat the line for every object.
  if (budgetReported_) return false;
  budgetReported_ = true;
  return returnError(u"instruction limit exceeded", nullptr);
}

void MoxInterpreter::updateHooks() {
  ++codeEpoch_;
  const bool on = trace_ || step_ || budgetOn_ || deferredFailure_ || lines_;
  hooked_.store(on, std::memory_order_seq_cst);
  // interrupt() sets its flag before the hook; reading the flag after the
  // store means an interrupt racing with this update is never lost.
  if (!on && vm_.interruptPending()) hooked_.store(true, std::memory_order_seq_cst);
}

bool MoxInterpreter::interrupted() {
  // Reported once, like the budget: destructors running while the failure
  // unwinds stop at once without repeating the line.
  if (interruptReported_) return false;
  interruptReported_ = true;
  return returnError(u"execution interrupted", nullptr);
}

bool MoxInterpreter::checkWork(uint64_t units) {
  if (vm_.interruptPending()) return interrupted();
  if (!budgetOn_) return true;
  workCarry_ += units;
  while (workCarry_ >= kWorkPerInstruction) {
    workCarry_ -= kWorkPerInstruction;
    if (!takeInstruction()) return false;
  }
  return true;
}

bool MoxInterpreter::checkNativeStack() {
  // The native stack grows downwards. Re-entrant runs (native code and
  // operator methods calling back into scripts, destructors, toString) stop
  // at the limit taken from the thread's own stack, whatever its size and
  // whatever size their frames have.
  const uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (stackLimit_ == 0) {
    // The thread's stack is unknown: bound the distance from where the
    // outermost run started.
    if (stackBase_ == 0) stackBase_ = here;
    if (here < stackBase_ && stackBase_ - here > kMaxNativeStack)
      return returnError(u"call depth limit exceeded", u" (native stack)");
    return true;
  }
  if (here < stackLimit_) return returnError(u"call depth limit exceeded", u" (native stack)");
  return true;
}

// ---------------------------------------------------------------------------
// execute and call

bool MoxInterpreter::execute(const MoxChar* name, int argc, const MoxChar** argv) {
  if (argc < 0 || !argv) argc = 0;
  std::vector<MoxValue> args;
  args.reserve(size_t(argc));
  for (int i = 0; i < argc; ++i) args.push_back(MoxValue(new MoxString(argv[i]), false));
  return executeValues(name, argc, args.data());
}

bool MoxInterpreter::executeValues(const MoxChar* name, int argc, const MoxValue* args) {
  reset();
  if (!name) return false;
  MoxDictionaryEntry* entry = symbols_.find(MoxString(name));
  if (!entry) return false;
  if (argc < 0 || !args) argc = 0;
  for (int i = 0; i < argc; ++i) push_back(args[i]);
  sp_ = last();
  stackBase_ = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  MoxValue fn = entry->getValue();
  switch (fn.type()) {
    case MVT_CODE: {
      MoxNativeFunction f = fn;
      if (!f) return false;
      return f(&vm_, argc, sp_);
    }
    case MVT_BYTECODE:
    case MVT_BYTECODEREF:
      return call(argc, static_cast<MoxVector*>(fn.getRef()));
    default:
      return false;
  }
}

bool MoxInterpreter::call(int argc, MoxVector* proc) {
  if (!proc) return returnError(u"no bytecode: ", u"interpret(MoxVector* byteCode)\n");
  int fp = sp_.current();
  if (argc < 0 || fp - argc < 0) return returnError(u"stack corrupted", u" (argument count)");
  if (!enterBytecode(proc, argc, fp, MoxProcInfo::kEntry, 0)) return false;
  return run();
}

// ---------------------------------------------------------------------------
// The execution loop
//
// The loop keeps the top of the stack (t), the stack block (S, E) and the
// frame in locals. The member sp_ is brought up to date (SYNC) before
// anything that can run other code: a native function, a send, an operator
// helper, and the release of a counted value, whose destructor may run a
// script method that pushes above sp_. Afterwards the locals are reloaded
// (RELOAD), because such code may have grown the stack block.

#define SYNC() (sp_ = ValPtr(this, int(t - S)))
// After code that may have left sp_ anywhere (a failed native function).
#define RELOAD_SAFE()                                   \
  do {                                                  \
    if (sp_.current() < 0) sp_ = ValPtr(this, 0);       \
    RELOAD();                                           \
  } while (0)

#define RELOAD()                   \
  do {                             \
    S = data();                    \
    E = S + size();                \
    t = S + sp_.current();         \
    BASES();                       \
  } while (0)

// The first temporary and the first argument of the activation, kept apart
// so that a cell's operand costs one addition; again after the frame or the
// stack block changes.
#define BASES()          \
  do {                   \
    TB = S + fpi + 1;    \
    AB = S + bpi + 1;    \
  } while (0)

// Makes the k slots above the top part of the stack; slots past its size
// are null, so new ones hold nothing. Returns trim the size to what is in
// use, so most calls take the first branch on their first pushes: the block
// has room, and only the count moves.
#define ROOM(k)                                       \
  do {                                                \
    if (MOX_UNLIKELY(t + (k) >= E)) {                 \
      const unsigned need_ = unsigned(t - S) + (k) + 1; \
      if (MOX_LIKELY(need_ <= capacity())) {          \
        takeNullTo(need_);                            \
        E = S + need_;                                \
      } else {                                        \
        const int ti_ = int(t - S);                   \
        growTo(need_);                                \
        S = data();                                   \
        E = S + size();                               \
        t = S + ti_;                                  \
        BASES();                                      \
      }                                               \
    }                                                 \
  } while (0)

// Opens a new top slot, growing the stack when needed.
#define PUSH_SLOT() \
  do {              \
    ROOM(1);        \
    ++t;            \
  } while (0)

// *dst := src. A counted old value is released with sp_ synchronised.
#define STORE(dst, src)                     \
  do {                                      \
    MoxValue* d_ = (dst);                   \
    if (MOX_LIKELY(!d_->isCounted())) {     \
      *d_ = (src);                          \
    } else {                                \
      SYNC();                               \
      moxSafeStore(d_, (src));              \
      RELOAD();                             \
    }                                       \
  } while (0)

// STORE, and the end of the instruction. A number over a number is two
// plain stores, which run no code of others (NEXT_QUICK).
#define STORE_NEXT(dst, src)                                               \
  do {                                                                     \
    MoxValue* to_ = (dst);                                                 \
    const MoxValue& from_ = (src);                                         \
    if (MOX_LIKELY(!to_->mayHoldObject() && !from_.mayHoldObject())) {     \
      to_->putPlain(from_);                                                \
      NEXT_QUICK();                                                        \
    }                                                                      \
    STORE(to_, from_);                                                     \
    NEXT();                                                                \
  } while (0)

#define STORE_INT(dst, v)                   \
  do {                                      \
    MoxValue* d_ = (dst);                   \
    if (MOX_LIKELY(!d_->isCounted())) {     \
      d_->setInt(v);                        \
    } else {                                \
      SYNC();                               \
      moxSafeStore(d_, MoxValue(int32_t(v))); \
      RELOAD();                             \
    }                                       \
  } while (0)

#define CLEAR(dst)                          \
  do {                                      \
    MoxValue* d_ = (dst);                   \
    if (MOX_LIKELY(!d_->isCounted())) {     \
      d_->dispose();                        \
    } else {                                \
      SYNC();                               \
      moxSafeClear(d_);                     \
      RELOAD();                             \
    }                                       \
  } while (0)

// Reads an index operand: from the cell, or from the bytes with the
// current width.
#define OPERAND(var)                                          \
  do {                                                        \
    if (I) {                                                  \
      var = I->opd[0];                                        \
    } else if (MOX_LIKELY(width == 1)) {                      \
      if (MOX_UNLIKELY(pc >= codeLen)) goto codeEnd;          \
      var = code[pc++];                                       \
    } else {                                                  \
      if (MOX_UNLIKELY(codeLen - pc < width)) goto codeEnd;   \
      var = moxReadOperand(code, pc, width);                  \
      pc += width;                                            \
    }                                                         \
  } while (0)

// The stack must hold at least k slots below the top.
#define NEED(k)                                             \
  do {                                                      \
    if (MOX_UNLIKELY(uint32_t(t - S) < uint32_t(k))) goto underflow; \
  } while (0)

#define FAIL_WITH(msg, detail) \
  do {                         \
    SYNC();                    \
    returnError(msg, detail);  \
    goto fail;                 \
  } while (0)

// Calls an out-of-line helper with sp_ synchronised.
#define HELPER(expr)     \
  do {                   \
    SYNC();              \
    bool ok_ = (expr);   \
    RELOAD();            \
    if (!ok_) goto fail; \
  } while (0)

// The translation in force for the code cb of the activation rec when the
// cell rec waits at still starts where rec goes on; else null.
static const MoxTranslation* callerCellsInForce(const MoxProcInfo* rec, MoxBuffer* cb) {
  const MoxTranslation* x = cb ? static_cast<const MoxTranslation*>(cb->derived()) : nullptr;
  const uint32_t k = rec->resumeCellIndex();
  if (!x || x->literalCount() != rec->getProc()->size() ||
      uint32_t(rec->getNargs()) < x->argsForCells() || k >= x->size() ||
      x->cells()[k].pc != rec->getResumePc())
    return nullptr;
  return x;
}

MOX_ALWAYS_INLINE const MoxTranslation* MoxInterpreter::callerCells(const MoxProcInfo* caller,
                                                                   MoxBuffer** cb) const {
  *cb = moxProcCode(caller->proc_);
  const MoxTranslation* cx = caller->resumeXl_;
  if (MOX_UNLIKELY(caller->resumeEpoch_ != codeEpoch_ || !cx)) cx = callerCellsInForce(caller, *cb);
  if (MOX_LIKELY(cx && *cb && caller->resumeCell_ < cx->size() && caller->resumeWidth_ == 1 &&
                 translation_))
    return cx;
  return nullptr;
}

// The translation of a code buffer for a procedure of litCount elements;
// null when there is no memory for one (the bytes run alone then). A new
// one may replace the one that an activation waiting in it noted, so the
// code epoch moves.
static inline const MoxTranslation* translationFor(MoxBuffer* code, uint32_t litCount,
                                                   uint64_t* epoch,
                                                   const void* const* handlers) {
  const MoxTranslation* kept = static_cast<const MoxTranslation*>(code->derived());
  if (MOX_LIKELY(kept && kept->literalCount() == litCount)) return kept;
  ++*epoch;
  return moxTranslationOf(code, litCount, handlers);
}

// Sets the loop's locals for procedure p with code buffer cb, translation
// x (or null), function slot bp and n arguments.
#define SET_FRAME(p, cb, x, bp, n)       \
  do {                                  \
    proc = (p);                         \
    code = (cb)->data();                \
    codeLen = (cb)->size();             \
    lits = &(*proc)[0];                 \
    litCount = proc->size();            \
    bpi = (bp);                         \
    nargs = (n);                        \
    xl = (x);                           \
    cells = xl ? xl->cells() : nullptr; \
  } while (0)

// Loads the state of the activation rec into the loop's locals, with the
// translation of its code.
#define LOAD_FRAME(rec)                                                     \
  do {                                                                      \
    proc = (rec)->proc_;                                                    \
    MoxBuffer* cb_ = moxProcCode(proc);                                     \
    code = cb_->data();                                                     \
    codeLen = cb_->size();                                                  \
    lits = &(*proc)[0];                                                     \
    litCount = proc->size();                                                \
    bpi = (rec)->bp_.current();                                             \
    nargs = uint32_t((rec)->nargs_);                                        \
    xl = translation_ ? translationFor(cb_, litCount, &codeEpoch_, kHandlers) : nullptr; \
    if (xl && nargs < xl->argsForCells()) xl = nullptr;                     \
    cells = xl ? xl->cells() : nullptr;                                     \
  } while (0)

// After enterBytecode pushed the callee's record: where the caller goes on
// is kept in its record, and the loop takes up the callee, whose
// temporaries start above slot top.
#define ENTER_CALLEE(caller, top)                                  \
  do {                                                             \
    (caller)->resumePc_ = I ? I->next : pc;                        \
    (caller)->resumeWidth_ = static_cast<unsigned char>(width);    \
    (caller)->resumeFp_ = fpi;                                     \
    (caller)->resumeTemps_ = ntemps;                               \
    (caller)->resumeCell_ = I ? I->nextCell : kMoxNoCell;          \
    (caller)->resumeXl_ = I ? xl : nullptr;                        \
    (caller)->resumeEpoch_ = codeEpoch_;                           \
    LOAD_FRAME(procInfo_);                                         \
    fpi = (top);                                                   \
    BASES();                                                       \
    ntemps = 0;                                                    \
    pc = 0;                                                        \
    width = 1;                                                     \
    I = nullptr;                                                   \
  } while (0)

// A call or send from cell I to callee, whose translation cx (code buffer
// cb) moxReadyTranslation found ready for its argc arguments above slot
// top - argc: the caller notes its next cell, the callee's record comes
// from the free list and its first cell runs.
#define ENTER_READY(callee, cb, cx, argc, top, kind)               \
  do {                                                            \
    MoxProcInfo* caller_ = procInfo_;                             \
    caller_->resumePc_ = I->next;                                 \
    caller_->resumeWidth_ = 1;                                    \
    caller_->resumeFp_ = fpi;                                     \
    caller_->resumeTemps_ = ntemps;                               \
    caller_->resumeCell_ = I->nextCell;                           \
    caller_->resumeXl_ = xl;                                      \
    caller_->resumeEpoch_ = codeEpoch_;                           \
    enterFromCell((callee), int(argc), (top), (kind));            \
    SET_FRAME((callee), (cb), (cx), (top) - int(argc), (argc));   \
    fpi = (top);                                                  \
    TB = t + 1; /* top is t's slot */                             \
    AB = TB - int(argc);                                          \
    ntemps = 0;                                                   \
    pc = 0;                                                       \
    width = 1;                                                    \
    I = cells;                                                    \
    DISPATCH_CELL();                                              \
  } while (0)

// After leaveQuietly: the caller goes on at the cell it noted, in its
// translation cx of code buffer cb (callerCells).
#define RESUME_AT_CELL(rec, cb, cx)                                               \
  do {                                                                            \
    SET_FRAME((rec)->proc_, (cb), (cx), (rec)->bp_.current(), uint32_t((rec)->nargs_)); \
    fpi = (rec)->resumeFp_;                                                       \
    BASES();                                                                      \
    ntemps = (rec)->resumeTemps_;                                                 \
    pc = (rec)->resumePc_;                                                        \
    width = 1;                                                                    \
    I = cells + (rec)->resumeCell_;                                               \
    DISPATCH_CELL();                                                              \
  } while (0)

// After returnToCaller: the loop takes up the caller where it stopped.
#define RESUME_CALLER(rec)         \
  do {                             \
    LOAD_FRAME(rec);               \
    fpi = (rec)->resumeFp_;        \
    BASES();                       \
    ntemps = (rec)->resumeTemps_;  \
    pc = (rec)->resumePc_;         \
    width = (rec)->resumeWidth_;   \
    I = nullptr;                   \
  } while (0)

// Dispatch. With GCC's labels as values, every handler ends in its own
// jump to the handler of the next cell, so that a processor can predict
// each handler's successor apart instead of all of them at the one jump of
// the switch; elsewhere, or built with MOX_NO_THREADING to compare, the
// switch serves all (bench/README.md has what each measured).
#if defined(__GNUC__) && !defined(MOX_NO_THREADING)
#define MOX_THREADED_DISPATCH 1
#define CASE(x) \
  case x:       \
  L_##x
#define DISPATCH_CELL()    \
  do {                     \
    op = I->run;           \
    goto* I->handler;      \
  } while (0)
// The table translations take their cells' handlers from.
#define kHandlers jumpTable_
#else
#define CASE(x) case x
#define DISPATCH_CELL() goto nextInstruction
#define kHandlers nullptr
#endif

// The distance to the cell laid out right after a cell, and that cell.
// Where a cell's successor lies there, the loop tests the distance against
// this constant instead of adding it: the processor predicts the test and
// takes up the next cell at once, where an addition would make every cell
// wait for the load of the distance from the cell before it
// (bench/README.md). The empty asm keeps the compiler from folding the
// constant back into the loaded distance.
const int32_t kOneCell = int32_t(sizeof(MoxCell));
static MOX_ALWAYS_INLINE const MoxCell* cellAfter(const MoxCell* cell) {
  ++cell;
#if defined(__GNUC__)
  asm("" : "+r"(cell));
#endif
  return cell;
}

// The end of an instruction: from a cell, the handler of the next one
// unless the instruction switched a hook on; from the bytes, the top of the
// loop. pc is where the bytes go on.
#define NEXT()                                                                   \
  do {                                                                           \
    if (I) {                                                                     \
      if (MOX_LIKELY(!hooked_.load(std::memory_order_relaxed))) {                \
        if (MOX_LIKELY(I->nextStep == kOneCell)) {                               \
          I = cellAfter(I);                                                      \
          DISPATCH_CELL();                                                       \
        }                                                                        \
        const uint32_t k_ = I->nextCell;                                         \
        if (MOX_LIKELY(k_ != kMoxNoCell)) {                                      \
          I = cells + k_;                                                        \
          DISPATCH_CELL();                                                       \
        }                                                                        \
      }                                                                          \
      pc = I->next;                                                              \
      I = nullptr;                                                               \
    }                                                                            \
    goto nextInstruction;                                                        \
  } while (0)

// After a call or a return, where the frame changed: the cell at pc runs
// next when there is one and no hook is on, else the bytes.
#define ENTER_CELLS()                                                          \
  do {                                                                         \
    if (MOX_LIKELY(xl && width == 1 && !hooked_.load(std::memory_order_relaxed))) { \
      const uint32_t k_ = xl->cellAt(pc);                                      \
      if (MOX_LIKELY(k_ != kMoxNoCell)) {                                      \
        I = cells + k_;                                                        \
        DISPATCH_CELL();                                                       \
      }                                                                        \
    }                                                                          \
    goto nextInstruction;                                                      \
  } while (0)

// After a call: the callee's first cell runs, when its code starts with
// one and no hook is on.
#define ENTER_FIRST_CELL()                                                     \
  do {                                                                         \
    if (MOX_LIKELY(xl && xl->size() && cells->pc == 0 &&                       \
                   !hooked_.load(std::memory_order_relaxed))) {                \
      I = cells;                                                               \
      DISPATCH_CELL();                                                         \
    }                                                                          \
    goto nextInstruction;                                                      \
  } while (0)

// After a return: the cell the caller noted runs next, when it still
// starts where the caller goes on in the translation in force (native code
// may have replaced the code meanwhile); otherwise as above.
#define RESUME_CELLS(rec)                                                      \
  do {                                                                         \
    const uint32_t k_ = (rec)->resumeCell_;                                    \
    if (MOX_LIKELY(xl && k_ < xl->size() && cells[k_].pc == pc && width == 1 && \
                   !hooked_.load(std::memory_order_relaxed))) {                \
      I = cells + k_;                                                          \
      DISPATCH_CELL();                                                         \
    }                                                                          \
    ENTER_CELLS();                                                             \
  } while (0)

// The end of a cell that jumps or runs a sequence: the cell step bytes
// away runs next, or the bytes from offset at where no cell starts there
// (step 0). A later cell follows at once. A jump back, which every loop
// makes, reads the flag of the hooks first: a sequence's handler runs no
// code of others, so only an interrupt from another thread can have
// switched a hook on, and a loop must not run on past it; with a hook on,
// the bytes go on from at.
#define GO_CELL(at, step)                                                      \
  do {                                                                         \
    const int32_t s_ = (step);                                                 \
    if (MOX_LIKELY(s_ == kOneCell)) {                                          \
      I = cellAfter(I);                                                        \
      DISPATCH_CELL();                                                         \
    }                                                                          \
    if (MOX_LIKELY(s_ > 0) ||                                                  \
        (s_ != 0 && !hooked_.load(std::memory_order_relaxed))) {               \
      I = reinterpret_cast<const MoxCell*>(reinterpret_cast<const char*>(I) + s_); \
      DISPATCH_CELL();                                                         \
    }                                                                          \
    pc = (at);                                                                 \
    I = nullptr;                                                               \
    goto nextInstruction;                                                      \
  } while (0)
#define NEXT_CELL() GO_CELL(I->next, I->nextStep)
// The end of an instruction's quick path, which ran no code of others and
// so switched no hook on: from a cell, the next cell as after a sequence;
// from the bytes, the top of the loop.
#define NEXT_QUICK()        \
  do {                      \
    if (I) NEXT_CELL();     \
    goto nextInstruction;   \
  } while (0)
// The cell's branch, taken when yes.
#define BRANCH_CELL(yes)                                          \
  do {                                                            \
    if (yes) GO_CELL(I->target, I->targetStep);                   \
    NEXT_CELL();                                                  \
  } while (0)

// A check of a sequence's handler failed: its first instruction runs from
// the bytes, which go on through the rest of the sequence until a cell
// starts again.
#define FALLBACK()         \
  do {                     \
    op = code[I->pc];      \
    pc = I->pc + 1;        \
    I = nullptr;           \
    goto dispatch;         \
  } while (0)

// Slots a sequence's room takes beyond its need: the null slots a return
// leaves above the top cost one test each, a growth by one slot at each of
// the next pushes costs more.
const unsigned kCellSlack = 4;

// ROOM for a sequence. When growing the stack went over the memory limit
// (which fails the run at the next instruction), the bytes take over from
// the sequence's first instruction, so that the failure comes where they
// report it.
#define CELL_ROOM(k)                                                 \
  do {                                                               \
    if (MOX_UNLIKELY(t + (k) >= E)) {                                \
      const unsigned need_ = unsigned(t - S) + (k) + 1;              \
      if (MOX_LIKELY(need_ + kCellSlack <= capacity())) {            \
        takeNullTo(need_ + kCellSlack);                              \
        E = S + need_ + kCellSlack;                                  \
      } else if (need_ <= capacity()) {                              \
        takeNullTo(need_);                                           \
        E = S + need_;                                               \
      } else {                                                       \
        ROOM(k);                                                     \
        if (hooked_.load(std::memory_order_relaxed)) FALLBACK();     \
      }                                                              \
    }                                                                \
  } while (0)

// The temporary j and the argument j of the activation, and value operand k
// of the cell (a temporary, an argument or a literal). Cells run only in an
// activation of framed code with the arguments they read
// (MoxTranslation::argsForCells): its translation has proved that every
// temporary and argument a sequence reads lies in the frame, below the
// first slot the handler writes.
#define TEMP(j) (TB + (j))
#define ARG(j) (AB + (j))
#define CELL_VALUE(k) CELL_VALUE_FROM(I->src[k], k)
#define CELL_VALUE_FROM(source, k)                              \
  ((source) == MOS_LIT    ? lits + I->opd[k]                    \
   : (source) == MOS_TEMP ? TEMP(I->opd[k])                     \
   : (source) == MOS_ARG  ? ARG(I->opd[k])                      \
                          : cellValue(I, k, TEMP(0), ARG(0), lits))

// The handlers of the sequences in MOX_SPECIAL_FORM_LIST, for value
// operands X and V from sources A and B: constants in the handler of each
// pair, MOS_ANY (the cell's own, elements among them) in the form's
// handler. NUM_STEP is their numeric step: a op b into top (the slot above
// keeps b) and into dst unless null; ROOM_FOR(B, k) makes room for k slots
// and for the one above an element b.
#define MOS_ANY 0xFF
#define NUM_STEP(A, B, top, dst, ops)                                                        \
  ((A) == MOS_ANY ? anyStep(nullptr, I, TEMP(0), ARG(0), lits, top, dst, &res, ops)           \
                  : numberStep(I->op, *CELL_VALUE_FROM(A, 0), *CELL_VALUE_FROM(B, 1), top, dst, \
                               &res, ops))
#define ROOM_FOR(B, k) CELL_ROOM((k) + ((B) == MOS_ANY && I->src[1] >= MOS_ELEM_TEMP ? 1 : 0))
// a; PUSH; b; compare; BRT|BRF
#define MF_NUM_COMPARE_BRANCH_HANDLER(A, B)                   \
  {                                                           \
    ROOM_FOR(B, 1);                                           \
    NumberResult res;                                         \
    if (!NUM_STEP(A, B, t, nullptr, kCompareOps)) FALLBACK(); \
    BRANCH_CELL(res.i == int32_t(I->jumpIfTrue));             \
  }
// a; PUSH; b; operator; TSET c
#define MF_NUM_ARITH_SET_HANDLER(A, B)                        \
  {                                                           \
    ROOM_FOR(B, 1);                                           \
    NumberResult res;                                         \
    if (!NUM_STEP(A, B, t, slotOf(TEMP(I->opd[2])), kArithOps)) FALLBACK(); \
    NEXT_CELL();                                              \
  }
// a; PUSH; b; operator
#define MF_NUM_OP_HANDLER(A, B)                               \
  {                                                           \
    ROOM_FOR(B, 1);                                           \
    NumberResult res;                                         \
    if (!NUM_STEP(A, B, t, nullptr, kAnyOps)) FALLBACK();     \
    NEXT_CELL();                                              \
  }
// The same two after a PUSH: one slot higher.
#define MF_PUSH_NUM_COMPARE_BRANCH_HANDLER(A, B)              \
  {                                                           \
    ROOM_FOR(B, 2);                                           \
    NumberResult res;                                         \
    if (!NUM_STEP(A, B, t + 1, nullptr, kCompareOps)) FALLBACK(); \
    ++t;                                                      \
    BRANCH_CELL(res.i == int32_t(I->jumpIfTrue));             \
  }
#define MF_PUSH_NUM_OP_HANDLER(A, B)                          \
  {                                                           \
    ROOM_FOR(B, 2);                                           \
    NumberResult res;                                         \
    if (!NUM_STEP(A, B, t + 1, nullptr, kAnyOps)) FALLBACK(); \
    ++t;                                                      \
    NEXT_CELL();                                              \
  }
// A value in a new top.
#define MF_PUSH_VALUE_HANDLER(A)                              \
  {                                                           \
    CELL_ROOM(1);                                             \
    const MoxValue* v = CELL_VALUE_FROM(A, 0);                \
    if (MOX_LIKELY(!v->mayHoldObject() && !t[1].mayHoldObject())) { \
      (++t)->putPlain(*v);                                    \
      NEXT_CELL();                                            \
    }                                                         \
    if (!moxReleaseIsHarmless(t[1])) FALLBACK();              \
    *++t = *v;                                                \
    NEXT_CELL();                                              \
  }
// The top := top op value, and into dst unless null; the slot above keeps
// the value. Declares the step's result, res, and tells whether it ran.
#define VALUE_STEP(A, dst, ops)                                                  \
  CELL_ROOM(1 + ((A) == MOS_ANY && I->src[0] >= MOS_ELEM_TEMP ? 1 : 0));         \
  NumberResult res;                                                              \
  const bool stepped_ =                                                          \
      (A) == MOS_ANY ? anyStep(t, I, TEMP(0), ARG(0), lits, t, dst, &res, ops)   \
                     : numberStep(I->op, *t, *CELL_VALUE_FROM(A, 0), t, dst, &res, ops);
#define MF_PUSH_VALUE_OP_HANDLER(A)        \
  {                                        \
    VALUE_STEP(A, nullptr, kArithOps);     \
    if (!stepped_) FALLBACK();             \
    NEXT_CELL();                           \
  }
// The same into temporary k as well.
#define MF_PUSH_VALUE_OP_SET_HANDLER(A)            \
  {                                                \
    VALUE_STEP(A, TEMP(I->opd[1]), kArithOps);     \
    if (!stepped_) FALLBACK();                     \
    NEXT_CELL();                                   \
  }
// The top := top compared with a value, and a branch on it. Other than
// numbers (a test for null, most often) are loaded as MF_PUSH_VALUE loads
// them, and the cell of the comparison takes over.
#define MF_PUSH_VALUE_COMPARE_BRANCH_HANDLER(A)                                \
  {                                                                            \
    VALUE_STEP(A, nullptr, kCompareOps);                                       \
    if (!stepped_) {                                                           \
      if (I->src[0] >= MOS_ELEM_TEMP) FALLBACK();                              \
      const MoxValue* v = cellValue(I, 0, TEMP(0), ARG(0), lits);              \
      if (MOX_LIKELY(!v->mayHoldObject() && !t[1].mayHoldObject())) {         \
        (++t)->putPlain(*v);                                                   \
      } else {                                                                 \
        if (!moxReleaseIsHarmless(t[1])) FALLBACK();                           \
        *++t = *v;                                                             \
      }                                                                        \
      /* The comparison follows the PUSH (one byte) and the value (two). */    \
      pc = I->pc + 3;                                                          \
      I = nullptr;                                                             \
      goto nextInstruction;                                                    \
    }                                                                          \
    BRANCH_CELL(res.i == int32_t(I->jumpIfTrue));                              \
  }
// A value as the top, and into data member j of the receiver.
#define MF_VALUE_MEMBER_SET_HANDLER(A)                                    \
  {                                                                       \
    const MoxValue* v = CELL_VALUE_FROM(A, 0);                            \
    MoxVector* m = const_cast<MoxVector*>(selfMembers(S + bpi, E));       \
    const uint32_t j = I->opd[1];                                         \
    if (!m || j >= m->size() || !moxQuietSlots(*t, (*m)[j])) FALLBACK();  \
    *t = *v;                                                              \
    (*m)[j] = *t;                                                         \
    NEXT_CELL();                                                          \
  }
// A value, or an element (in the form's own handler), as the top and into
// temporary k; an element's index stays in the slot above.
#define MF_VALUE_SET_HANDLER(A)                                                   \
  {                                                                               \
    MoxValue* const dst = TEMP(I->opd[1]);                                        \
    if ((A) == MOS_ANY) {                                                         \
      CELL_ROOM(elementSlots(I, 0));                                              \
      if (!storeAny(I, TEMP(0), ARG(0), lits, t, dst)) FALLBACK();                \
      NEXT_CELL();                                                                \
    }                                                                             \
    const MoxValue* v = CELL_VALUE_FROM(A, 0);                                    \
    if (MOX_LIKELY(!v->mayHoldObject() && !t->mayHoldObject() && !dst->mayHoldObject())) { \
      t->putPlain(*v);                                                            \
      dst->putPlain(*v);                                                          \
      NEXT_CELL();                                                                \
    }                                                                             \
    if (!moxQuietSlots(*t, *dst)) FALLBACK();                                     \
    *t = *v;                                                                      \
    *dst = *t;                                                                    \
    NEXT_CELL();                                                                  \
  }
// A value as the top.
#define MF_VALUE_HANDLER(A)                                   \
  {                                                           \
    const MoxValue* v = CELL_VALUE_FROM(A, 0);                \
    if (MOX_LIKELY(!v->mayHoldObject() && !t->mayHoldObject())) { \
      t->putPlain(*v);                                        \
      NEXT_CELL();                                            \
    }                                                         \
    if (!moxReleaseIsHarmless(*t)) FALLBACK();                \
    *t = *v;                                                  \
    NEXT_CELL();                                              \
  }
// A new top, element i of a temporary or argument c, read where it lies
// (its count does not move); the slot above keeps the index.
#define MF_PUSH_ELEM_HANDLER(A)                                            \
  {                                                                        \
    CELL_ROOM(2);                                                          \
    const MoxValue* from = CELL_VALUE_FROM(A, 0);                          \
    const MoxValue* i = TEMP(I->opd[1]);                                   \
    if (!i->isInt() || !moxQuietSlots(t[1], t[2]) ||                       \
        !elementLoad(*from, i->asInt(), t + 1))                            \
      FALLBACK();                                                          \
    ++t;                                                                   \
    t[1].setInt(i->asInt());                                               \
    NEXT_CELL();                                                           \
  }
// The same for element i +/- k; the slots above keep the index and k.
#define MF_PUSH_ELEM_OFFSET_HANDLER(A)                                     \
  {                                                                        \
    CELL_ROOM(3);                                                          \
    const MoxValue* from = CELL_VALUE_FROM(A, 0);                          \
    const MoxValue* i = TEMP(I->opd[1]);                                   \
    const MoxValue& k = lits[I->opd[2]];                                   \
    if (!i->isInt() || !k.isInt() || !moxQuietSlots(t[1], t[2], t + 3))    \
      FALLBACK();                                                          \
    const int32_t index = intResult(I->op, i->asInt(), k.asInt());         \
    if (!elementLoad(*from, index, t + 1)) FALLBACK();                     \
    ++t;                                                                   \
    t[1].setInt(index);                                                    \
    t[2] = k;                                                              \
    NEXT_CELL();                                                           \
  }
// The top becomes element i of c.
#define MF_LOAD_ELEM_HANDLER(A)                                            \
  {                                                                        \
    CELL_ROOM(1);                                                          \
    const MoxValue* from = CELL_VALUE_FROM(A, 0);                          \
    const MoxValue* i = TEMP(I->opd[1]);                                   \
    if (!i->isInt() || !moxQuietSlots(*t, t[1]) ||                         \
        !elementLoad(*from, i->asInt(), t))                                \
      FALLBACK();                                                          \
    t[1].setInt(i->asInt());                                               \
    NEXT_CELL();                                                           \
  }
// The top := value a, then a new top := value b.
#define MF_LOAD_PAIR_HANDLER(A, B)                            \
  {                                                           \
    CELL_ROOM(1);                                             \
    const MoxValue* va = CELL_VALUE_FROM(A, 0);               \
    const MoxValue* vb = CELL_VALUE_FROM(B, 1);               \
    if (!moxQuietSlots(*t, t[1])) FALLBACK();                 \
    *t = *va;                                                 \
    /* the index, most often: a number over a number */       \
    if (MOX_LIKELY(!vb->mayHoldObject() && !t[1].mayHoldObject())) \
      (++t)->putPlain(*vb);                                   \
    else                                                      \
      *++t = *vb;                                             \
    NEXT_CELL();                                              \
  }

// The value of a global variable (a literal the translation has checked)
// as the top, or as a new top when push is 1.
#define GLOBAL_HANDLER(push)                                                      \
  {                                                                               \
    CELL_ROOM(push);                                                              \
    const MoxValue& var = lits[I->opd[0]];                                        \
    if (var.type() != MVT_VAR || !var.ptr() || !moxReleaseIsHarmless(t[push]))    \
      FALLBACK();                                                                 \
    t += (push);                                                                  \
    const MoxValue& value_ = static_cast<const MoxDictionaryEntry*>(var.ptr())->getValue(); \
    /* Most often a procedure over a number or nothing. */                        \
    if (MOX_LIKELY(!t->mayHoldObject())) t->putCopy(value_);                      \
    else *t = value_;                                                             \
    NEXT_CELL();                                                                  \
  }

// `x += s` on a string temporary: OP_ADD with the left operand a string held
// only by temporary k and this slot, then OP_TSET k. The string is appended
// to in place, which nobody can tell from a new string: no other value,
// counted or uncounted, refers to it. The result is left in t[-1] as the
// pair of instructions leaves it.
static bool appendInPlace(MoxValue* t, uint32_t k, MoxValue* temps, uint32_t ntemps) {
  MoxValue& l = t[-1];
  if (k >= ntemps || l.type() != MVT_STRING || !l.getRef()) return false;
  MoxString* s = static_cast<MoxString*>(l.getRef());
  MoxValue& x = temps[k];
  if (&x == t || &x == &l || x.type() != MVT_STRING || x.getRef() != s) return false;
  if (s->getRefCnt() != 2 || MoxRefObject::hasUncounted(s)) return false;
  if (t->type() == MVT_INTEGER) {
    *s += MoxChar(uint32_t(t->asInt()) & 0xFFFFu);
  } else if (t->type() == MVT_STRING && t->getRef() && t->getRef() != s) {
    *s += *static_cast<MoxString*>(t->getRef());
  } else {
    return false;
  }
  // The right operand stays in the slot above the new top, as OP_ADD leaves it.
  return true;
}

// a op b for ADD, SUB and MUL (wrapping).
static MOX_ALWAYS_INLINE int32_t arithResult(uint8_t op, int32_t a, int32_t b) {
  if (op == OP_ADD) return int32_t(uint32_t(a) + uint32_t(b));
  if (op == OP_SUB) return int32_t(uint32_t(a) - uint32_t(b));
  return int32_t(uint32_t(a) * uint32_t(b));
}

// The same and the comparisons (1 or 0).
static MOX_ALWAYS_INLINE int32_t intResult(uint8_t op, int32_t a, int32_t b) {
  if (op >= OP_LT) return moxCompareResult(op, a < b ? -1 : (a > b ? 1 : 0));
  return arithResult(op, a, b);
}

// a op b on doubles for ADD, SUB and MUL.
static MOX_ALWAYS_INLINE double doubleResult(uint8_t op, double a, double b) {
  return op == OP_ADD ? a + b : (op == OP_SUB ? a - b : a * b);
}

// The result of ADD, SUB, MUL or a comparison on two numbers that need no
// method and no conversion, computed as the general path computes it:
// integers wrap, an integer with a double is a double, comparisons give 1
// or 0 (which a branch reads).
struct NumberResult {
  bool isDouble;
  int32_t i;
  double d;
};

// *dst := the number n (an integer or a double); dst holds no object.
static MOX_ALWAYS_INLINE void putNumber(MoxValue* dst, const MoxValue& n) {
  if (n.isInt()) dst->putInt(n.asInt());
  else dst->putDouble(n.asDouble());
}

// What a handler knows of its operator: any of ADD, SUB, MUL and the
// comparisons, or only comparisons (a C token), or only ADD, SUB and MUL
// (an A token). Known, the step leaves out the test of which.
enum NumberOps { kAnyOps, kCompareOps, kArithOps };

// A slot of the stack, never null: said so, the steps that take a slot or
// null as their destination leave out their tests of null.
static MOX_ALWAYS_INLINE MoxValue* slotOf(MoxValue* slot) {
#if defined(__GNUC__)
  if (!slot) __builtin_unreachable();
#endif
  return slot;
}

// Two strings in a numeric sequence's comparison: compared as the byte loop
// compares them, and stored as it stores: the result over top, the right
// string in the slot above. a may be top itself: both are read before the
// stores. Returns the result, 0 or 1; -1, with nothing changed, for any
// other pair, for a step that also stores elsewhere, or where releasing
// what the two slots hold could run code. (The result comes back as a
// value, not through the caller's NumberResult, so that the caller's
// result can stay in registers.)
static MOX_NOINLINE int32_t stringCompareStep(uint8_t op, const MoxValue& a, const MoxValue& b,
                                              MoxValue* top, MoxValue* dst) {
  if (a.type() != MVT_STRING || b.type() != MVT_STRING || !a.getRef() || !b.getRef() || dst ||
      !moxReleaseIsHarmless(top[0]) || !moxReleaseIsHarmless(top[1]))
    return -1;
  const int d = static_cast<MoxString*>(a.getRef())->compare(*static_cast<MoxString*>(b.getRef()));
  const int32_t r = moxCompareResult(op, d < 0 ? -1 : (d > 0 ? 1 : 0));
  // b is held first: what the slots held may be its last other holds.
  MoxValue right(b);
  top[1] = std::move(right);
  *top = MoxValue(r);
  return r;
}

// The numeric sequences: *top := a op b for two numbers, b in the slot
// above it (as the operator leaves it) and, unless dst is null, the result
// also in *dst. False, with nothing changed, for other values and when a
// release could delete an object. a and b may be dst, not top or the slot
// above it.
static MOX_ALWAYS_INLINE bool numberStep(uint8_t op, const MoxValue& a, const MoxValue& b,
                                         MoxValue* top, MoxValue* dst, NumberResult* res,
                                         NumberOps ops = kAnyOps) {
  const bool compare = ops == kCompareOps || (ops == kAnyOps && op >= OP_LT);
  // Two integers, most often: the kinds of every store are known.
  if (MOX_LIKELY(a.isInt() && b.isInt())) {
    if (!moxClearSlots(top, top + 1, dst)) return false;
    const int32_t x = a.asInt(), y = b.asInt();
    const int32_t r =
        compare ? moxCompareResult(op, x < y ? -1 : (x > y ? 1 : 0)) : arithResult(op, x, y);
    top[1].putInt(y);
    top->putInt(r);
    if (dst) dst->putInt(r);
    res->isDouble = false;
    res->i = r;
    return true;
  }
  // A double with a double or an integer: a comparison gives an integer.
  double x, y;
  if (!moxDoublePair(a, b, &x, &y)) {
    const int32_t r = compare ? stringCompareStep(op, a, b, top, dst) : -1;
    if (r < 0) return false;
    res->isDouble = false;
    res->i = r;
    return true;
  }
  if (!moxClearSlots(top, top + 1, dst)) return false;
  putNumber(top + 1, b);
  if (compare) {
    const double diff = x - y;
    res->isDouble = false;
    res->i = moxCompareResult(op, diff < 0 ? -1 : (diff > 0 ? 1 : 0));
    top->putInt(res->i);
    if (dst) dst->putInt(res->i);
  } else {
    res->isDouble = true;
    res->d = doubleResult(op, x, y);
    top->putDouble(res->d);
    if (dst) dst->putDouble(res->d);
  }
  return true;
}

// Element access that the loop does itself: a vector, buffer or string
// (counted kinds only) with an index in range, where no release can delete
// anything. The result replaces the container in *c. False, with nothing
// changed, leaves the case to doOP_VREF / doOP_VSET.
static MOX_ALWAYS_INLINE bool elementRead(MoxValue* c, int32_t i) {
  if (!moxReleaseIsQuiet(*c) || !c->getRef() || i < 0) return false;
  switch (c->type()) {
    case MVT_VECTOR: {
      MoxVector* v = static_cast<MoxVector*>(c->getRef());
      if (uint32_t(i) >= v->size()) return false;
      const MoxValue& e = (*v)[uint32_t(i)];
      if (e.mayHoldObject()) {
        *c = e;
      } else {
        // The vector keeps another reference: the element stays valid.
        c->dispose();
        c->putPlain(e);
      }
      return true;
    }
    case MVT_BUFFER: {
      MoxBuffer* b = static_cast<MoxBuffer*>(c->getRef());
      if (uint32_t(i) >= b->size()) return false;
      c->setInt(int32_t((*b)[uint32_t(i)]));
      return true;
    }
    case MVT_STRING: {
      MoxString* s = static_cast<MoxString*>(c->getRef());
      if (uint32_t(i) >= s->length()) return false;
      c->setInt(int32_t((*s)[uint32_t(i)]));
      return true;
    }
    default:
      return false;
  }
}

// *c := value stored at element i of *c. The value slot above keeps its
// copy, as the general path leaves it (a trace shows reference counts).
static MOX_ALWAYS_INLINE bool elementWrite(MoxValue* c, int32_t i, MoxValue* value) {
  if (!moxReleaseIsQuiet(*c) || !c->getRef() || i < 0) return false;
  switch (c->type()) {
    case MVT_VECTOR: {
      MoxVector* v = static_cast<MoxVector*>(c->getRef());
      if (uint32_t(i) >= v->size()) return false;
      // The old element must not be the vector itself, whose count the
      // container slot's release below relies on.
      MoxValue& slot = (*v)[uint32_t(i)];
      if (!moxReleaseIsQuiet(slot) || (slot.isCounted() && slot.getRef() == v)) return false;
      if (value->mayHoldObject()) {
        slot = *value;
        *c = *value;
      } else {
        // Mostly numbers: both releases are quiet, the copies count nothing.
        if (slot.mayHoldObject()) slot.dispose();
        slot.putPlain(*value);
        c->dispose();
        c->putPlain(*value);
      }
      return true;
    }
    case MVT_BUFFER: {
      MoxBuffer* b = static_cast<MoxBuffer*>(c->getRef());
      if (!value->isInt() || uint32_t(i) >= b->size()) return false;
      const uint8_t byte = uint8_t(uint32_t(value->asInt()) & 0xFFu);
      (*b)[uint32_t(i)] = byte;
      c->setInt(int32_t(byte));
      return true;
    }
    case MVT_STRING: {
      MoxString* s = static_cast<MoxString*>(c->getRef());
      if (!value->isInt() || uint32_t(i) >= s->length()) return false;
      const MoxChar ch = MoxChar(uint32_t(value->asInt()) & 0xFFFFu);
      (*s)[uint32_t(i)] = ch;
      c->setInt(int32_t(ch));
      return true;
    }
    default:
      return false;
  }
}

// *dst := element i of container, which stays where it is (its count does
// not move). dst holds nothing counted. False, with nothing changed, for
// anything but a counted vector, buffer or string and an index in range.
static MOX_ALWAYS_INLINE bool elementLoad(const MoxValue& container, int32_t i, MoxValue* dst) {
  if (!container.getRef() || i < 0) return false;
  switch (container.type()) {
    case MVT_VECTOR: {
      const MoxVector* v = static_cast<const MoxVector*>(container.getRef());
      if (uint32_t(i) >= v->size()) return false;
      const MoxValue& e = (*v)[uint32_t(i)];
      if (e.mayHoldObject() || dst->mayHoldObject()) *dst = e;
      else dst->putPlain(e);
      return true;
    }
    case MVT_BUFFER: {
      const MoxBuffer* b = static_cast<const MoxBuffer*>(container.getRef());
      if (uint32_t(i) >= b->size()) return false;
      dst->setInt(int32_t((*b)[uint32_t(i)]));
      return true;
    }
    case MVT_STRING: {
      const MoxString* s = static_cast<const MoxString*>(container.getRef());
      if (uint32_t(i) >= s->length()) return false;
      dst->setInt(int32_t((*s)[uint32_t(i)]));
      return true;
    }
    default:
      return false;
  }
}

// Element i of a counted vector, buffer or string, for a number operand: a
// vector's element where it lies, a byte or a character unit in *scratch.
// Null where VREF would not simply read it (another kind, no object, an
// index out of range): the bytes then run it.
static MOX_ALWAYS_INLINE const MoxValue* elementAt(const MoxValue& c, int32_t i,
                                                   MoxValue* scratch) {
  if (i < 0 || !c.getRef()) return nullptr;
  const uint32_t k = uint32_t(i);
  switch (c.type()) {
    case MVT_VECTOR: {
      const MoxVector* v = static_cast<const MoxVector*>(c.getRef());
      return k < v->size() ? &(*v)[k] : nullptr;
    }
    case MVT_BUFFER: {
      const MoxBuffer* b = static_cast<const MoxBuffer*>(c.getRef());
      if (k >= b->size()) return nullptr;
      scratch->putInt(int32_t((*b)[k]));
      return scratch;
    }
    case MVT_STRING: {
      const MoxString* s = static_cast<const MoxString*>(c.getRef());
      if (k >= s->length()) return nullptr;
      scratch->putInt(int32_t((*s)[k]));
      return scratch;
    }
    default:
      return nullptr;
  }
}

// Value operand k of a cell, a temporary, an argument or a literal.
static MOX_ALWAYS_INLINE const MoxValue* cellValue(const MoxCell* I, unsigned k,
                                                   const MoxValue* temps, const MoxValue* args,
                                                   const MoxValue* lits) {
  const uint8_t s = I->src[k];
  return (s == MOS_LIT ? lits : s == MOS_TEMP ? temps : args) + I->opd[k];
}

// The index of element operand k: the integer its index temporary holds,
// or that plus or minus the integer literal of its offset, wrapping as ADD
// and SUB do. False where the bytes must compute it.
static MOX_ALWAYS_INLINE bool elementIndex(const MoxCell* I, unsigned k, const MoxValue* temps,
                                           const MoxValue* lits, int32_t* index) {
  const MoxValue& i = temps[I->index[k]];
  if (!i.isInt()) return false;
  *index = i.asInt();
  if (!I->offsetOp[k]) return true;
  const MoxValue& d = lits[I->offset[k]];
  if (!d.isInt()) return false;
  *index = arithResult(I->offsetOp[k], *index, d.asInt());
  return true;
}

// Room for a byte or a character unit that elementAt reads as a number.
// It only ever holds an integer, so it is never destroyed: that spares the
// release test of a MoxValue's destructor on every way out of a step.
union UnitScratch {
  MoxValue value;
  UnitScratch() : value() {}
  ~UnitScratch() {}
};

// The same, or an element (elementAt), whose index goes to *index. Null
// where the bytes must read it.
static MOX_ALWAYS_INLINE const MoxValue* cellOperand(const MoxCell* I, unsigned k,
                                                     const MoxValue* temps, const MoxValue* args,
                                                     const MoxValue* lits, MoxValue* scratch,
                                                     int32_t* index) {
  const uint8_t s = I->src[k];
  if (s < MOS_ELEM_TEMP) return cellValue(I, k, temps, args, lits);
  const MoxValue* from = s == MOS_ELEM_TEMP ? temps : args;
  if (!elementIndex(I, k, temps, lits, index)) return nullptr;
  return elementAt(from[I->opd[k]], *index, scratch);
}

// The slots that value operand k, an element, leaves written above its
// own: its index, and above that the literal of its offset.
static MOX_ALWAYS_INLINE unsigned elementSlots(const MoxCell* I, unsigned k) {
  if (I->src[k] < MOS_ELEM_TEMP) return 0;
  return I->offsetOp[k] ? 2 : 1;
}

// The integers of those slots in rest[0 .. elementSlots), given the index
// cellOperand read (an element's offset is then an integer).
static MOX_ALWAYS_INLINE unsigned elementRest(const MoxCell* I, unsigned k, const MoxValue* lits,
                                              int32_t index, int32_t rest[2]) {
  const unsigned n = elementSlots(I, k);
  rest[0] = index;
  if (n > 1) rest[1] = lits[I->offset[k]].asInt();
  return n;
}

// Can the slot above a step's slots give up what it holds? Only if that
// cannot delete an object, also after the step released the same object
// from top, top + 1 and dst (which may be null).
static bool aboveIsQuiet(const MoxValue& above, const MoxValue* top, const MoxValue* dst) {
  if (!above.mayHoldObject()) return true;
  if (!moxReleaseIsQuiet(above)) return false;
  if (!above.isCounted() || !above.getRef()) return true;
  const MoxRefObject* o = above.getRef();
  auto holds = [o](const MoxValue* v) { return v && v->isCounted() && v->getRef() == o; };
  const int released = 1 + holds(top) + holds(top + 1) + holds(dst);
  return o->getRefCnt() > released;
}

// The numeric step of a cell with an element among its value operands
// (the form's own handler runs it, out of the loop's code): a op b into
// top, the slot above keeping b, and into dst unless null. a is the top
// for MF_PUSH_VALUE_OP, whose b is operand 0; for the others a is operand 0
// and b operand 1 (a null). An element's container has passed through the
// slot its value takes and its index through the slot above: b's index
// stays there, above b, as VREF leaves it (a's is overwritten by b). These
// cells have no element at an offset (Y and Z tokens). False, with nothing
// changed, where the bytes must run the sequence.
static MOX_NOINLINE bool elementStep(const MoxValue* a, const MoxCell* I, const MoxValue* temps,
                                     const MoxValue* args, const MoxValue* lits, MoxValue* top,
                                     MoxValue* dst, NumberResult* res) {
  UnitScratch scratchA, scratchB;
  const unsigned kb = a ? 0 : 1;
  // The index is read before the step, which may store into its temporary.
  int32_t index[2] = {0, 0};
  if (!a) a = cellOperand(I, 0, temps, args, lits, &scratchA.value, &index[0]);
  const MoxValue* b = cellOperand(I, kb, temps, args, lits, &scratchB.value, &index[kb]);
  if (!a || !b) return false;
  MoxValue* const above = I->src[kb] >= MOS_ELEM_TEMP ? top + 2 : nullptr;
  if (above && !aboveIsQuiet(*above, top, dst)) return false;
  if (!numberStep(I->op, *a, *b, top, dst, res)) return false;
  if (above) {
    if (above->mayHoldObject()) above->dispose();
    above->putInt(index[kb]);
  }
  return true;
}

// The same, or an element of a vector: null for any other element.
static MOX_ALWAYS_INLINE const MoxValue* vectorOperand(const MoxCell* I, unsigned k,
                                                       const MoxValue* temps,
                                                       const MoxValue* args,
                                                       const MoxValue* lits) {
  const uint8_t s = I->src[k];
  if (s < MOS_ELEM_TEMP) return cellValue(I, k, temps, args, lits);
  const MoxValue& c = (s == MOS_ELEM_TEMP ? temps : args)[I->opd[k]];
  const MoxValue& i = temps[I->index[k]];
  if (c.type() != MVT_VECTOR || !c.getRef() || !i.isInt()) return nullptr;
  const MoxVector* v = static_cast<const MoxVector*>(c.getRef());
  return uint32_t(i.asInt()) < v->size() ? &(*v)[uint32_t(i.asInt())] : nullptr;
}

// elementStep where its common case runs inline: the elements are a
// vector's, and the slot above an element b holds no object.
static MOX_ALWAYS_INLINE bool anyStep(const MoxValue* top_a, const MoxCell* I,
                                      const MoxValue* temps, const MoxValue* args,
                                      const MoxValue* lits, MoxValue* top, MoxValue* dst,
                                      NumberResult* res, NumberOps ops) {
  const unsigned kb = top_a ? 0 : 1;
  const MoxValue* a = top_a ? top_a : vectorOperand(I, 0, temps, args, lits);
  const MoxValue* b = vectorOperand(I, kb, temps, args, lits);
  MoxValue* const above = I->src[kb] >= MOS_ELEM_TEMP ? top + 2 : nullptr;
  if (MOX_UNLIKELY(!a || !b || (above && above->mayHoldObject())))
    return elementStep(top_a, I, temps, args, lits, top, dst, res);
  const int32_t index = above ? temps[I->index[kb]].asInt() : 0;
  if (!numberStep(I->op, *a, *b, top, dst, res, ops)) return false;
  if (above) above->putInt(index);
  return true;
}

// MF_VALUE_SET of operand 0 from any source, elements among them: top and
// dst take the value, and an element's index (and offset) stays in the
// slots above the top. False, with nothing changed, where the bytes must
// run it.
static MOX_NOINLINE bool storeAny(const MoxCell* I, const MoxValue* temps, const MoxValue* args,
                                  const MoxValue* lits, MoxValue* top, MoxValue* dst) {
  UnitScratch scratch;
  int32_t index = 0, rest[2] = {0, 0};
  const MoxValue* v = cellOperand(I, 0, temps, args, lits, &scratch.value, &index);
  if (!v) return false;
  const unsigned n = elementRest(I, 0, lits, index, rest);
  MoxValue* const above = top + 1;
  if (n ? !moxQuietSlots(*top, *above, dst) : !moxQuietSlots(*top, *dst)) return false;
  if (n > 1 && above[1].mayHoldObject()) return false;
  *top = *v;
  for (unsigned j = 0; j < n; ++j) above[j].setInt(rest[j]);
  *dst = *top;
  return true;
}

// The end of an element store whose loads are made but the container's:
// the value in t[2] goes into element at of c, and the top becomes it. A
// number into a vector over a slot that holds no object goes the short way;
// otherwise c takes the top, as its load leaves it, and elementWrite
// stores. The release of the top is quiet.
static MOX_ALWAYS_INLINE bool finishElementStore(const MoxValue& c, int32_t at, MoxValue* t) {
  if (c.type() == MVT_VECTOR && c.getRef() && !t[2].mayHoldObject() &&
      uint32_t(at) < static_cast<const MoxVector*>(c.getRef())->size()) {
    MoxValue& slot = (*static_cast<MoxVector*>(c.getRef()))[uint32_t(at)];
    if (!slot.mayHoldObject()) {
      slot.putPlain(t[2]);
      if (t[0].mayHoldObject()) t[0].dispose();
      t[0].putPlain(t[2]);
      return true;
    }
  }
  t[0] = c;
  return elementWrite(t, at, t + 2);
}

// MF_ELEM_STORE, c[i] = z: the loads leave c in the top, i above it and z
// above that (an element z's index above z), then elementWrite stores and
// the top becomes z. A number into a vector, over slots that hold no
// object but the top, goes the short way with the same effect. A load that
// could delete an object, and z of an element the loop does not read,
// leave it all to the bytes; so does a store elementWrite declines, after
// the loads, which the bytes then make again to the same effect.
static MOX_NOINLINE bool storeElement(const MoxCell* I, const MoxValue* temps,
                                      const MoxValue* args, const MoxValue* lits, MoxValue* t) {
  const MoxValue& c = (I->src[0] == MOS_ELEM_TEMP ? temps : args)[I->opd[0]];
  const MoxValue& i = temps[I->index[0]];
  UnitScratch scratch;
  int32_t zIndex = 0;
  const MoxValue* z = cellOperand(I, 1, temps, args, lits, &scratch.value, &zIndex);
  const bool element = I->src[1] >= MOS_ELEM_TEMP;
  const bool offset = I->offsetOp[1] != 0;
  if (!z || !i.isInt() || !moxReleaseIsQuiet(t[0]) || t[1].mayHoldObject() ||
      t[2].mayHoldObject() || (element && t[3].mayHoldObject()) ||
      (offset && t[4].mayHoldObject()))
    return false;
  const int32_t at = i.asInt();
  const int32_t k = offset ? lits[I->offset[1]].asInt() : 0;
  // z is read before anything is stored: it may be an element of c.
  if (z->mayHoldObject()) t[2] = *z;
  else t[2].putPlain(*z);
  t[1].putInt(at);
  if (element) t[3].putInt(zIndex);
  if (offset) t[4].putInt(k);
  return finishElementStore(c, at, t);
}

// MF_ELEM_STORE_OP, c[i] = a op k: the loads leave c in the top and i above
// it, the step a op k above that with k above it (and where a is an
// element at an offset, its literal above k), then elementWrite stores and
// the top becomes the result. As for storeElement, a number into a vector
// goes the short way, and whatever the loop does not do itself is left to
// the bytes, also after the loads.
static MOX_NOINLINE bool storeElementOp(const MoxCell* I, const MoxValue* temps,
                                        const MoxValue* args, const MoxValue* lits, MoxValue* t) {
  const MoxValue& c = (I->src[0] == MOS_ELEM_TEMP ? temps : args)[I->opd[0]];
  const MoxValue& i = temps[I->index[0]];
  UnitScratch scratch;
  int32_t index = 0;
  const MoxValue* a = cellOperand(I, 1, temps, args, lits, &scratch.value, &index);
  const bool offset = I->src[1] >= MOS_ELEM_TEMP && I->offsetOp[1];
  if (!a || !i.isInt() || !moxReleaseIsQuiet(t[0]) || t[1].mayHoldObject() ||
      t[2].mayHoldObject() || t[3].mayHoldObject() || (offset && t[4].mayHoldObject()))
    return false;
  const int32_t at = i.asInt();
  const int32_t k = offset ? lits[I->offset[1]].asInt() : 0;
  NumberResult res;
  if (!numberStep(I->op, *a, lits[I->opd[2]], t + 2, nullptr, &res, kArithOps)) return false;
  if (offset) t[4].putInt(k);
  t[1].putInt(at);
  return finishElementStore(c, at, t);
}

// The member data of the live object in slot self (a method's receiver),
// or null for anything else.
static inline const MoxVector* selfMembers(const MoxValue* self, const MoxValue* E) {
  if (self >= E || (self->type() != MVT_OBJECT && self->type() != MVT_OBJECTREF) ||
      !self->getRef() || self->isDeadRef())
    return nullptr;
  return static_cast<MoxObject*>(self->getRef())->getMemberData();
}

// OP_CALL of anything but bytecode or an object: a native function, whose
// arguments lie above base, or an error. sp_ is up to date.
bool MoxInterpreter::callNative(int argc, int basei) {
  const MoxValue& base = data()[basei];
  if (base.type() != MVT_CODE && base.type() != MVT_CODEREF)
    return returnError(u"call to non-procedure, type ", getValueTypeName(base.type()));
  MoxNativeFunction f = moxNativeOf(base);
  if (MOX_UNLIKELY(!f))
    return returnError(u"call to non-procedure, type ", u"NULL native function");
  moxDropDead(sp_.get(), argc);
  if (!checkNativeStack()) return false;
  ++codeEpoch_;
  if (!f(&vm_, argc, sp_)) {
    noteNativeFrame(f);
    return false;
  }
  return finishCall(basei);
}

// What is due before one instruction runs from the bytes while a hook is
// on: an interrupt, a deferred failure, the instruction budget, the tracer
// (and single-stepping) and the line hook. sp_ is up to date; whatever runs
// behind the tracer may run script code above it.
MoxInterpreter::HookOutcome MoxInterpreter::takeHooks(const MoxVector* proc, const uint8_t* code,
                                                      uint32_t codeLen, uint32_t pc,
                                                      uint32_t width, int bpi, int fpi) {
  if (MOX_UNLIKELY(vm_.interruptPending())) {
    interrupted();
    return kHookFail;
  }
  if (deferredFailure_ && takeDeferredFailure()) {
    // An activation that has not run an instruction yet did not cause the
    // failure: the trace starts at the code that did.
    return pc == 0 ? kHookUnwind : kHookFail;
  }
  if (budgetOn_ && !takeInstruction()) return kHookFail;
  if (debugger_ && (trace_ || step_)) {
    debugger_->traceInstruction(sp_, ValPtr(this, bpi), ValPtr(this, fpi),
                                static_cast<unsigned char>(width),
                                const_cast<unsigned char*>(code), pc, codeLen);
    if (step_) step_ = vm_.dbgWait();
  }
  if (lines_) noteLine(proc, pc);
  updateHooks();
  return kHookGo;
}

bool MoxInterpreter::run() {
  MoxVector* proc;
  const uint8_t* code;
  uint32_t codeLen;
  const MoxValue* lits;
  uint32_t litCount;
  int bpi;
  uint32_t nargs;
  int fpi = procInfo_->fp_.current();
  uint32_t ntemps = 0;
  uint32_t pc = 0;
  uint32_t width = 1;
  const MoxTranslation* xl;
  const MoxCell* cells;
  const MoxCell* I = nullptr;

  MoxValue* S = data();
  MoxValue* E = S + size();
  MoxValue* t = S + sp_.current();

  // Operands of the shared send path.
  int sendArgc = 0;
  const MoxChar* sendSelector = nullptr;
  // Translations made below take their handlers from the table.
#ifdef MOX_THREADED_DISPATCH
  if (MOX_UNLIKELY(!jumpTable_[0])) {
    for (const void*& j : jumpTable_) j = &&L_OP_NOP;
#define MOX_JUMP_OPCODE(op, byte, kind, effect, label) jumpTable_[op] = &&L_##op;
    MOX_OPCODE_LIST(MOX_JUMP_OPCODE)
#undef MOX_JUMP_OPCODE
#define MOX_JUMP_FORM(form, pattern, low) jumpTable_[form] = &&L_##form;
    MOX_FORM_LIST(MOX_JUMP_FORM)
#undef MOX_JUMP_FORM
#define MOX_JUMP_RUN(form, pair, a, b) jumpTable_[form##_##pair] = &&L_##form##_##pair;
#define MOX_JUMP_RUNS(form, pairs) pairs(MOX_JUMP_RUN, form)
    MOX_SPECIAL_FORM_LIST(MOX_JUMP_RUNS)
#undef MOX_JUMP_RUNS
#undef MOX_JUMP_RUN
#define MOX_JUMP_RUN(form, source, a) jumpTable_[form##_##source] = &&L_##form##_##source;
#define MOX_JUMP_RUNS(form, sources) sources(MOX_JUMP_RUN, form)
    MOX_SINGLE_FORM_LIST(MOX_JUMP_RUNS)
#undef MOX_JUMP_RUNS
#undef MOX_JUMP_RUN
    jumpTable_[MR_CALL] = &&L_MR_CALL;
    jumpTable_[MR_SEND] = &&L_MR_SEND;
    jumpTable_[MR_RETURN] = &&L_MR_RETURN;
  }
#endif
  LOAD_FRAME(procInfo_);
  MoxValue* TB;
  MoxValue* AB;
  BASES();

  for (;;) {
  nextInstruction:
    uint8_t op;
    if (MOX_LIKELY(I != nullptr)) {
      // A cell: its run is the opcode of its one instruction or the
      // handler of the sequence it stands for. While cells run, pc is not
      // kept: where the bytes go on after a cell is I->next.
      op = I->run;
    } else {
      if (MOX_UNLIKELY(pc >= codeLen)) goto codeEnd;
      if (MOX_LIKELY(!hooked_.load(std::memory_order_relaxed))) {
        // With no hook on and width 1, the cell that starts here runs.
        if (MOX_LIKELY(width == 1 && xl)) {
          const uint32_t k = xl->cellAt(pc);
          if (MOX_LIKELY(k != kMoxNoCell)) {
            I = cells + k;
            DISPATCH_CELL();
          }
        }
      } else {
        SYNC();
        const HookOutcome h = takeHooks(proc, code, codeLen, pc, width, bpi, fpi);
        RELOAD();
        if (MOX_UNLIKELY(h != kHookGo)) {
          if (h == kHookUnwind) goto unwind;
          goto fail;
        }
      }
      op = code[pc++];
      // Bytes outside the opcode set run as OP_NOP; among them are the
      // values of the sequences' handlers, which bytes must not reach.
      if (MOX_UNLIKELY((op >= MF_FIRST && op <= MF_LAST) || (op >= MR_FIRST && op <= MR_LAST)))
        op = OP_NOP;
    }
  dispatch:
    switch (op) {
      CASE(OP_RBYTE): width = 1; NEXT();
      CASE(OP_RWORD): width = 2; NEXT();
      CASE(OP_RDWORD): width = 4; NEXT();

      CASE(OP_BRT):
      CASE(OP_BRF):
      CASE(OP_BR): {
        const bool jump = op == OP_BR || (moxTruth(*t) == (op == OP_BRT));
        if (I) BRANCH_CELL(jump);
        if (MOX_UNLIKELY(codeLen - pc < 4)) goto codeEnd;
        pc = jump ? moxReadBranch(code, pc) : pc + 4;
        NEXT();
      }

      CASE(OP_NIL): CLEAR(t); NEXT();
      CASE(OP_PUSH):
        PUSH_SLOT();
        NEXT();
      CASE(OP_NOT): STORE_INT(t, moxTruth(*t) ? 0 : 1); NEXT();

      CASE(OP_NEG):
        if (MOX_LIKELY(t->isInt())) { t->setInt(int32_t(0u - uint32_t(t->asInt()))); NEXT(); }
        HELPER(doUnary(op));
        NEXT();
      CASE(OP_INC):
        if (MOX_LIKELY(t->isInt())) { t->putInt(int32_t(uint32_t(t->asInt()) + 1u)); NEXT_QUICK(); }
        HELPER(doUnary(op));
        NEXT();
      CASE(OP_DEC):
        if (MOX_LIKELY(t->isInt())) { t->putInt(int32_t(uint32_t(t->asInt()) - 1u)); NEXT_QUICK(); }
        HELPER(doUnary(op));
        NEXT();

      CASE(OP_ADD):
      CASE(OP_SUB):
      CASE(OP_MUL): {
        NEED(1);
        double a, b;
        if (MOX_LIKELY(t[-1].isInt() && t->isInt())) {
          t[-1].putInt(intResult(op, t[-1].asInt(), t->asInt()));
          --t;
          NEXT_QUICK();
        }
        if (moxDoublePair(t[-1], *t, &a, &b)) {
          t[-1].putDouble(doubleResult(op, a, b));
          --t;
          NEXT_QUICK();
        }
        HELPER(doArith(op));
        NEXT();
      }
      CASE(OP_DIV):
      CASE(OP_REM):
        NEED(1);
        if (MOX_LIKELY(t[-1].isInt() && t->isInt() && t->asInt() != 0)) {
          t[-1].putInt(op == OP_DIV ? moxIntDiv(t[-1].asInt(), t->asInt())
                                    : moxIntRem(t[-1].asInt(), t->asInt()));
          --t;
          NEXT_QUICK();
        }
        if (op == OP_DIV) {
          double a, b;
          if (moxDoublePair(t[-1], *t, &a, &b) && b != 0.0) {
            t[-1].putDouble(a / b);
            --t;
            NEXT_QUICK();
          }
        }
        HELPER(doArith(op));
        NEXT();
      CASE(OP_BAND):
      CASE(OP_BOR):
      CASE(OP_XOR):
      CASE(OP_SHL):
      CASE(OP_SHR):
        NEED(1);
        if (MOX_LIKELY(t[-1].isInt() && t->isInt())) {
          t[-1].setInt(moxIntBitwise(op, t[-1].asInt(), t->asInt()));
          --t;
          NEXT();
        }
        HELPER(doBitwise(op));
        NEXT();
      CASE(OP_BNOT):
        if (MOX_LIKELY(t->isInt())) { t->setInt(~t->asInt()); NEXT(); }
        HELPER(doOP_BNOT());
        NEXT();

      CASE(OP_LT):
      CASE(OP_LE):
      CASE(OP_EQ):
      CASE(OP_NE):
      CASE(OP_GE):
      CASE(OP_GT): {
        NEED(1);
        int c;
        if (moxQuickCompare(t[-1], *t, &c)) {
          --t;
        } else {
          HELPER(doCompare());
          c = t->asInt();
        }
        STORE_INT(t, moxCompareResult(op, c));
        NEXT();
      }

      CASE(OP_LIT): {
        uint32_t i;
        OPERAND(i);
        if (MOX_UNLIKELY(i >= litCount)) FAIL_WITH(u"literal index out of range", nullptr);
        STORE_NEXT(t, lits[i]);
      }

      CASE(OP_REF):
      CASE(OP_SET): {
        uint32_t i;
        OPERAND(i);
        if (MOX_UNLIKELY(i >= litCount)) FAIL_WITH(u"invalid variable reference ", u"(index out of range)");
        const MoxValue& lit = lits[i];
        if (MOX_UNLIKELY(lit.type() != MVT_VAR || !lit.ptr()))
          FAIL_WITH(u"invalid variable reference ", getValueTypeName(lit.type()));
        MoxDictionaryEntry* entry = static_cast<MoxDictionaryEntry*>(lit.ptr());
        if (op == OP_REF) {
          STORE(t, entry->getValue());
        } else {
          STORE(&entry->value(), *t);
        }
        NEXT();
      }

      CASE(OP_MREF):
      CASE(OP_MSET): {
        MoxValue* self = S + bpi;
        // The object of a running method may have been deleted meanwhile.
        if (MOX_UNLIKELY(self >= E || (self->type() != MVT_OBJECT && self->type() != MVT_OBJECTREF) ||
                         !self->getRef() || self->isDeadRef()))
          FAIL_WITH(u"object expected", nullptr);
        MoxVector* members = static_cast<MoxObject*>(self->getRef())->getMemberData();
        if (MOX_UNLIKELY(!members)) FAIL_WITH(u"member data expected", nullptr);
        uint32_t i;
        OPERAND(i);
        if (MOX_UNLIKELY(i >= members->size())) FAIL_WITH(u"member index out of range", nullptr);
        if (op == OP_MREF) STORE_NEXT(t, (*members)[i]);
        STORE_NEXT(&(*members)[i], *t);
      }

      CASE(OP_AREF):
      CASE(OP_ASET): {
        uint32_t i;
        OPERAND(i);
        if (MOX_UNLIKELY(i >= uint32_t(procInfo_->nargs_))) FAIL_WITH(u"too few arguments", nullptr);
        MoxValue* a = S + bpi + 1 + i;
        if (MOX_UNLIKELY(a >= E)) FAIL_WITH(u"stack corrupted", u" (argument slot)");
        if (op == OP_AREF) STORE_NEXT(t, *a);
        STORE_NEXT(a, *t);
      }

      CASE(OP_TREF):
      CASE(OP_TSET): {
        uint32_t i;
        OPERAND(i);
        if (MOX_UNLIKELY(i >= ntemps)) FAIL_WITH(u"temporary index out of range", nullptr);
        MoxValue* v = S + fpi + 1 + i;
        if (MOX_UNLIKELY(v >= E)) FAIL_WITH(u"stack corrupted", u" (temporary slot)");
        if (op == OP_TREF) STORE_NEXT(t, *v);
        STORE_NEXT(v, *t);
      }

      CASE(OP_TSPACE): {
        uint32_t n;
        OPERAND(n);
        if (MOX_UNLIKELY(n > kMaxTemporaries)) FAIL_WITH(u"too many temporaries", nullptr);
        fpi = int(t - S);
        BASES();
        ntemps = n;
        // Room for all at once; the slots that hold no object (most often
        // all: nulls, or numbers an earlier call left) are emptied in
        // place, and from the first that may hold one on, each goes as
        // CLEAR empties it, which may run a destructor.
        ROOM(n);
        uint32_t k = 0;
        while (k < n && !t[1].mayHoldObject()) (++t)->putNull(), ++k;
        for (; k < n; ++k) {
          PUSH_SLOT();
          CLEAR(t);
        }
        NEXT();
      }

      CASE(OP_DUP):
        PUSH_SLOT();
        STORE(t, t[-1]);
        NEXT();
      CASE(OP_DUP2):
        NEED(1);
        PUSH_SLOT();
        PUSH_SLOT();
        STORE(t - 1, t[-3]);
        STORE(t, t[-2]);
        NEXT();
      CASE(OP_DUPX2):
        // a b c -> c a b c
        NEED(2);
        PUSH_SLOT();
        STORE(t, t[-1]);
        // a and b only move up; the slots they leave held values that live
        // on elsewhere on the stack, so nothing is deleted meanwhile.
        t[-1] = std::move(t[-2]);
        t[-2] = std::move(t[-3]);
        STORE(t - 3, t[0]);
        NEXT();
      CASE(OP_POP):
        if (MOX_UNLIKELY(t == S)) goto underflow;
        CLEAR(t);
        --t;
        NEXT();

      CASE(OP_VREF):
        NEED(1);
        if (t->isInt() && elementRead(t - 1, t->asInt())) {
          --t;
          NEXT();
        }
        HELPER(doOP_VREF());
        NEXT();
      CASE(OP_VSET):
        NEED(2);
        if (t[-1].isInt() && elementWrite(t - 2, t[-1].asInt(), t)) {
          t -= 2;
          NEXT();
        }
        HELPER(doOP_VSET());
        NEXT();
      CASE(OP_MKREF):
        moxMakeRef(t);
        NEXT();
      CASE(OP_DELETE):
        HELPER(doOP_DELETE());
        NEXT();

      CASE(OP_NEW): {
        SYNC();
        if (!checkType(*t, MVT_CLASS)) goto fail;
        MoxClass* cls = static_cast<MoxClass*>(t->getRef());
        STORE(t, MoxValue(MoxObject::create(cls), false));
        NEXT();
      }

      CASE(MR_CALL): {
        // A call from a cell to a script procedure whose cells are ready:
        // its record comes from the free list and its first cell runs. A
        // native function, an object, a first run, a hook or the depth
        // limit takes OP_CALL's way.
        const uint32_t argc = I->opd[0];
        if (MOX_UNLIKELY(uint32_t(t - S) < argc)) goto anyCall;
        const MoxValue& fn = *(t - argc);
        MoxVector* callee =
            fn.type() == MVT_BYTECODE ? static_cast<MoxVector*>(fn.getRef()) : nullptr;
        MoxBuffer* cb;
        const MoxTranslation* cx = moxReadyTranslation(callee, argc, &cb);
        if (MOX_UNLIKELY(!cx || !freeRecords_ || depth_ >= kMaxCallDepth || !translation_ ||
                         hooked_.load(std::memory_order_relaxed))) {
          if (fn.type() != MVT_CODE) goto anyCall;
          // A native function, as OP_CALL calls one.
          const int basei = int(t - S) - int(argc);
          SYNC();
          const bool ok = callNative(int(argc), basei);
          RELOAD_SAFE();
          if (!ok) goto fail;
          NEXT();
        }
        // Entering runs no code of others: sp_ can wait for the callee's
        // first instruction that needs it.
        ENTER_READY(callee, cb, cx, argc, int(t - S), MoxProcInfo::kLoopCall);
      }

      CASE(OP_CALL):
      anyCall: {
        uint32_t argc;
        OPERAND(argc);
        NEED(argc);
        MoxValue* base = t - argc;
        const int basei = int(base - S);
        base->dropDead();
        const MoxValueType kind = base->type();
        if (kind == MVT_BYTECODE || kind == MVT_BYTECODEREF) {
          MoxVector* callee = static_cast<MoxVector*>(base->getRef());
          if (!callee) FAIL_WITH(u"no bytecode: ", u"interpret(MoxVector* byteCode)\n");
          SYNC();
          MoxProcInfo* caller = procInfo_;
          if (!enterBytecode(callee, int(argc), int(t - S), MoxProcInfo::kLoopCall, basei))
            goto fail;
          ENTER_CALLEE(caller, sp_.current());
          ENTER_FIRST_CELL();
        }
        if (kind == MVT_OBJECT || kind == MVT_OBJECTREF) {
          sendArgc = int(argc);
          sendSelector = u"OP_CALL";
          goto doSend;
        }
        SYNC();
        const bool ok = callNative(int(argc), basei);
        RELOAD_SAFE();
        if (!ok) goto fail;
        NEXT();
      }

      CASE(MR_SEND): {
        // A send from a cell that the site's cache answers: a script
        // method whose cells are ready is entered as MR_CALL enters a
        // procedure, any other the way OP_SEND enters it. A miss takes
        // OP_SEND's way from the start.
        const uint32_t argc = I->opd[0];
        if (MOX_UNLIKELY(uint32_t(t - S) < argc)) goto anySend;
        SYNC();
        const int top = int(t - S);
        MoxVector* callee = cachedSendTarget(proc, I->next, top - int(argc), int(argc));
        if (!callee) goto anySend;
        MoxProcInfo* caller = procInfo_;
        MoxBuffer* cb;
        const MoxTranslation* cx = moxReadyTranslation(callee, argc, &cb);
        if (MOX_UNLIKELY(!cx || !freeRecords_ || depth_ >= kMaxCallDepth || !translation_ ||
                         hooked_.load(std::memory_order_relaxed))) {
          if (!enterBytecode(callee, int(argc), top, MoxProcInfo::kLoopSend, top - int(argc))) {
            RELOAD_SAFE();
            goto fail;
          }
          ENTER_CALLEE(caller, top);
          RELOAD();
          ENTER_FIRST_CELL();
        }
        ENTER_READY(callee, cb, cx, argc, top, MoxProcInfo::kLoopSend);
      }

      CASE(OP_SEND):
      anySend: {
        uint32_t n;
        OPERAND(n);
        NEED(n);
        sendArgc = int(n);
        sendSelector = nullptr;
        goto doSend;
      }

      CASE(MR_RETURN): {
        // A return from a cell that needs no general work (returnsQuietly).
        // Where a release stops the emptying, finishSendSlow does the rest;
        // otherwise the caller goes on at the cell it noted.
        MoxProcInfo* const rec = procInfo_;
        if (MOX_UNLIKELY(!returnsQuietly(rec, S, t))) goto anyReturn;
        MoxProcInfo* const caller = rec->parent_;
        MoxValue* const R = S + rec->resultSlot_;
        if (MOX_UNLIKELY(!leaveQuietly(rec, S, R, t, E))) {
          finishSendSlow(int(R - S));
          RESUME_CALLER(caller);
          RELOAD();
          RESUME_CELLS(caller);
        }
        t = R;
        E = R + 1;
        MoxBuffer* cb;
        const MoxTranslation* cx = callerCells(caller, &cb);
        if (MOX_LIKELY(cx)) RESUME_AT_CELL(caller, cb, cx);
        RESUME_CALLER(caller);
        RESUME_CELLS(caller);
      }

      CASE(OP_RETURN):
      anyReturn: {
        SYNC();
        if (procInfo_->kind_ == MoxProcInfo::kEntry) {
          leaveProc();
          if (!procInfo_) trimFreeRecords();
          return true;
        }
        const bool ok = returnToCaller();
        RESUME_CALLER(procInfo_);
        RELOAD();
        if (!ok) goto fail;
        RESUME_CELLS(procInfo_);
      }

      CASE(OP_TRON):
        if (debugger_) debugger_->onTraceOn(trace_, step_, procInfo_);
        updateHooks();
        NEXT();
      CASE(OP_TROFF):
        trace_ = false;
        updateHooks();
        NEXT();
      CASE(OP_TRSTEP):
        if (debugger_) debugger_->onStepOn(trace_, step_, procInfo_);
        updateHooks();
        NEXT();

      // ---- Sequences (see MoxTranslation.h), reached only from cells. A
      // handler checks what the bytes cannot prove and otherwise leaves the
      // sequence to the bytes (FALLBACK). It releases no value whose release
      // could run a destructor (a slot it overwrites may hold a reference,
      // but not the last one, and where it overwrites several, moxQuietSlots
      // counts an object two of them hold twice), and leaves every slot as
      // the instructions would, the slots above the top included.
      CASE(MF_PUSH_TEMP_ELEM): {
        CELL_ROOM(1);
        // The index stays in the slot above, as VREF leaves it.
        const MoxValue* i = TEMP(I->opd[0]);
        if (!i->isInt() || !moxQuietSlots(*t, t[1]) || !elementRead(t, i->asInt()))
          FALLBACK();
        t[1].setInt(i->asInt());
        NEXT_CELL();
      }
      CASE(MF_PUSH_TEMP_LIT_ELEM): {
        CELL_ROOM(2);
        // t[i +/- k]: the slots above keep the index and the literal.
        const MoxValue* i = TEMP(I->opd[0]);
        const MoxValue& k = lits[I->opd[1]];
        if (!i->isInt() || !k.isInt() || !moxQuietSlots(*t, t[1], t + 2))
          FALLBACK();
        const int32_t index = intResult(I->op, i->asInt(), k.asInt());
        if (!elementRead(t, index)) FALLBACK();
        t[1].setInt(index);
        t[2].setInt(k.asInt());
        NEXT_CELL();
      }
      CASE(MF_TEMP_STEP): {
        CELL_ROOM(1);
        // `a++;`: the top takes the old value, the slot above ends empty.
        MoxValue* v = TEMP(I->opd[0]);
        if (!v->isInt() || !moxClearSlots(t, t + 1)) FALLBACK();
        const uint32_t old = uint32_t(v->asInt());
        t->putInt(int32_t(old));
        v->putInt(int32_t(I->op == OP_INC ? old + 1u : old - 1u));
        t[1].putNull();
        NEXT_CELL();
      }
      // The sequences with a handler for each pair of sources, and the
      // form's own handler for any pair (see the *_HANDLER macros above).
#define MOX_FORM_CASE(form, pairs) CASE(form) : form##_HANDLER(MOS_ANY, MOS_ANY)
      MOX_SPECIAL_FORM_LIST(MOX_FORM_CASE)
#undef MOX_FORM_CASE
#define MOX_PAIR_CASE(form, pair, a, b) CASE(form##_##pair) : form##_HANDLER(a, b)
#define MOX_PAIR_CASES(form, pairs) pairs(MOX_PAIR_CASE, form)
      MOX_SPECIAL_FORM_LIST(MOX_PAIR_CASES)
#undef MOX_PAIR_CASES
#undef MOX_PAIR_CASE
#define MOX_FORM_CASE(form, sources) CASE(form) : form##_HANDLER(MOS_ANY)
      MOX_SINGLE_FORM_LIST(MOX_FORM_CASE)
#undef MOX_FORM_CASE
#define MOX_SOURCE_CASE(form, source, a) CASE(form##_##source) : form##_HANDLER(a)
#define MOX_SOURCE_CASES(form, sources) sources(MOX_SOURCE_CASE, form)
      MOX_SINGLE_FORM_LIST(MOX_SOURCE_CASES)
#undef MOX_SOURCE_CASES
#undef MOX_SOURCE_CASE
      CASE(MF_GLOBAL):
        GLOBAL_HANDLER(0);
      CASE(MF_PUSH_GLOBAL):
        GLOBAL_HANDLER(1);
      CASE(MF_PUSH_MEMBER): {
        CELL_ROOM(1);
        const MoxVector* m = selfMembers(S + bpi, E);
        const uint32_t j = I->opd[0];
        if (!m || j >= m->size() || !moxReleaseIsQuiet(t[1])) FALLBACK();
        *++t = (*m)[j];
        NEXT_CELL();
      }
      CASE(MF_MEMBER): {
        const MoxVector* m = selfMembers(S + bpi, E);
        const uint32_t j = I->opd[0];
        if (!m || j >= m->size() || !moxReleaseIsQuiet(*t)) FALLBACK();
        *t = (*m)[j];
        NEXT_CELL();
      }
      CASE(MF_ELEM_STORE): {
        CELL_ROOM(2 + elementSlots(I, 1));
        // Most often a number from a temporary, an argument or a literal
        // into a vector's element that holds none, over slots that hold no
        // object: storeElement's short way, without its general loads.
        const MoxValue* z =
            I->src[1] < MOS_ELEM_TEMP ? cellValue(I, 1, TEMP(0), ARG(0), lits) : nullptr;
        if (z && !z->mayHoldObject() && !t[0].mayHoldObject() && !t[1].mayHoldObject() &&
            !t[2].mayHoldObject()) {
          const MoxValue& c = (I->src[0] == MOS_ELEM_TEMP ? TEMP(0) : ARG(0))[I->opd[0]];
          const MoxValue& i = *TEMP(I->index[0]);
          MoxVector* v = c.type() == MVT_VECTOR ? static_cast<MoxVector*>(c.getRef()) : nullptr;
          if (v && i.isInt() && uint32_t(i.asInt()) < v->size() &&
              !(*v)[uint32_t(i.asInt())].mayHoldObject()) {
            (*v)[uint32_t(i.asInt())].putPlain(*z);
            t[0].putPlain(*z);
            t[1].putInt(i.asInt());
            t[2].putPlain(*z);
            NEXT_CELL();
          }
        }
        if (!storeElement(I, TEMP(0), ARG(0), lits, t)) FALLBACK();
        NEXT_CELL();
      }
      CASE(MF_ELEM_STORE_OP):
        CELL_ROOM(I->offsetOp[1] ? 4 : 3);
        if (!storeElementOp(I, TEMP(0), ARG(0), lits, t)) FALLBACK();
        NEXT_CELL();
      CASE(MF_ELEM_SET):
        if (t - S < 2 || !t[-1].isInt() || !elementWrite(t - 2, t[-1].asInt(), t)) FALLBACK();
        t -= 2;
        NEXT_CELL();
      CASE(MF_NOT_BRANCH): {
        // The top becomes 1 or 0 as OP_NOT leaves it, and the branch
        // tests that.
        const bool truth = moxTruth(*t);
        if (MOX_LIKELY(!t->mayHoldObject())) {
          t->putInt(truth ? 0 : 1);
        } else {
          if (!moxReleaseIsQuiet(*t)) FALLBACK();
          t->setInt(truth ? 0 : 1);
        }
        BRANCH_CELL(truth != I->jumpIfTrue);
      }
      CASE(MF_COMPARE_BRANCH): {
        int c;
        if (t == S || !moxQuickCompare(t[-1], *t, &c) || !moxReleaseIsQuiet(t[-1])) FALLBACK();
        --t;
        const bool yes = moxCompareResult(I->op, c) != 0;
        t->setInt(yes ? 1 : 0);
        BRANCH_CELL(yes == I->jumpIfTrue);
      }
      CASE(MF_ARITH_SET): {
        // A result stored into temporary k; the slot above keeps the right
        // operand, as the operator leaves it.
        const uint32_t k = I->opd[0];
        MoxValue* dst = TEMP(k);
        if (t == S) FALLBACK();
        double a, b;
        if (t[-1].isInt() && t->isInt() && moxReleaseIsQuiet(*dst)) {
          const int32_t res = intResult(I->op, t[-1].asInt(), t->asInt());
          t[-1].setInt(res);
          dst->setInt(res);
        } else if (moxDoublePair(t[-1], *t, &a, &b) && moxReleaseIsQuiet(*dst)) {
          const double res = doubleResult(I->op, a, b);
          t[-1].setDouble(res);
          dst->setDouble(res);
        } else if (I->op == OP_ADD && appendInPlace(t, k, S + fpi + 1, ntemps)) {
          // Growing the string may have gone over the memory limit: the
          // bytes fail at the TSET, where they would have noticed it.
          if (MOX_UNLIKELY(hooked_.load(std::memory_order_relaxed))) {
            --t;
            pc = I->pc + 1;
            I = nullptr;
            goto nextInstruction;
          }
        } else {
          FALLBACK();
        }
        --t;
        NEXT_CELL();
      }
      // OP_NOP and the bytes outside the opcode set run as one-byte
      // instructions without effect.
      CASE(OP_NOP):
      default:
        NEXT();
    }
  doSend: {
    // Message send from this activation: the receiver lies sendArgc slots
    // below the top. A bytecode method runs in this loop, found by the
    // site's cache or by startSend, which does anything else itself.
    SYNC();
    const int basei = sp_.current() - sendArgc;
    MoxValue method;  // keeps the method alive until its activation does
    int methodArgc = sendArgc;
    const uint32_t at = I ? I->next : pc;
    MoxVector* callee = sendSelector ? nullptr : cachedSendTarget(proc, at, basei, sendArgc);
    if (!callee) {
      const SendStep step =
          startSend(proc, at, sendArgc, sendSelector, basei, &method, &methodArgc, &callee);
      if (step != kSendEnter) {
        RELOAD_SAFE();
        if (step == kSendStepFailed) goto fail;
        goto sendDone;
      }
    }
    MoxProcInfo* caller = procInfo_;
    const int top = sp_.current();
    if (!enterBytecode(callee, methodArgc, top, MoxProcInfo::kLoopSend, basei)) {
      RELOAD_SAFE();
      goto fail;
    }
    ENTER_CALLEE(caller, top);
    RELOAD();
    goto sendEntered;
  }
  // Outside the block above, whose values must have ended before a jump
  // to the next handler.
  sendDone:
    NEXT();
  sendEntered:
    ENTER_FIRST_CELL();
  }

codeEnd:
  SYNC();
  returnError(u"bytecode ends without return", nullptr);
  goto fail;
underflow:
  SYNC();
  returnError(u"stack corrupted", u" (stack underflow)");
fail:
  noteFailure(I ? I->next : pc);
unwind:
  // Unwind every activation this loop started, down to its entry record.
  while (procInfo_ && procInfo_->kind_ != MoxProcInfo::kEntry) leaveProc();
  leaveProc();
  if (!procInfo_) trimFreeRecords();
  return false;
}

// The loop's shorthands end with it.
#undef SYNC
#undef RELOAD_SAFE
#undef RELOAD
#undef PUSH_SLOT
#undef STORE
#undef STORE_INT
#undef CLEAR
#undef OPERAND
#undef NEED
#undef FAIL_WITH
#undef HELPER
#undef LOAD_FRAME
#undef SET_FRAME
#undef ENTER_READY
#undef TEMP
#undef CASE
#undef DISPATCH_CELL
#undef kHandlers
#undef NEXT
#undef GO_CELL
#undef NEXT_CELL
#undef ENTER_CELLS
#undef ENTER_FIRST_CELL
#undef RESUME_CELLS
#undef BRANCH_CELL
#undef FALLBACK
#undef ENTER_CALLEE
#undef RESUME_CALLER
#undef RESUME_AT_CELL
#undef ROOM
#undef CELL_ROOM
#undef ARG
#undef CELL_VALUE
#undef CELL_VALUE_FROM
#undef NUM_STEP
#undef MOS_ANY
#undef ROOM_FOR
#undef MF_NUM_COMPARE_BRANCH_HANDLER
#undef MF_NUM_ARITH_SET_HANDLER
#undef MF_NUM_OP_HANDLER
#undef MF_PUSH_NUM_COMPARE_BRANCH_HANDLER
#undef MF_PUSH_NUM_OP_HANDLER
#undef MF_LOAD_PAIR_HANDLER
#undef GLOBAL_HANDLER
#undef MF_PUSH_VALUE_HANDLER
#undef MF_VALUE_HANDLER
#undef MF_VALUE_SET_HANDLER
#undef MF_PUSH_VALUE_OP_HANDLER
#undef MF_PUSH_VALUE_OP_SET_HANDLER
#undef MF_PUSH_VALUE_COMPARE_BRANCH_HANDLER
#undef VALUE_STEP
#undef MF_VALUE_MEMBER_SET_HANDLER
#undef MF_PUSH_ELEM_HANDLER
#undef MF_PUSH_ELEM_OFFSET_HANDLER
#undef MF_LOAD_ELEM_HANDLER
