// Small helpers shared by the interpreter's source files (not installed,
// not exported).
#ifndef MOX_INTERPRETER_IMPL_H
#define MOX_INTERPRETER_IMPL_H

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"
#include "interpreter/MoxInterpreter.h"
#include "interpreter/MoxOpCodes.h"
#include "interpreter/MoxTranslation.h"

#define MOX_LIKELY(x) __builtin_expect(!!(x), 1)
#define MOX_UNLIKELY(x) __builtin_expect(!!(x), 0)

// Largest OP_TSPACE count accepted (a corrupted operand must not make the
// stack allocate gigabytes).
const uint32_t kMaxTemporaries = 1u << 20;

// The buffer of a MVT_BUFFER or MVT_BUFFERREF value, else null.
inline MoxBuffer* moxAsBuffer(const MoxValue& v) {
  return (v.type() == MVT_BUFFER || v.type() == MVT_BUFFERREF)
             ? static_cast<MoxBuffer*>(v.getRef())
             : nullptr;
}

// The code buffer of a procedure, or null when element 0 is not a buffer.
inline MoxBuffer* moxProcCode(MoxVector* proc) {
  if (!proc || proc->size() == 0) return nullptr;
  return moxAsBuffer((*proc)[0]);
}

// The class a procedure belongs to (element 1), or null.
inline MoxClass* moxProcClass(MoxVector* proc) {
  if (!proc || proc->size() < 2) return nullptr;
  const MoxValue& v = (*proc)[1];
  return (v.type() == MVT_CLASS || v.type() == MVT_CLASSREF) ? static_cast<MoxClass*>(v.getRef())
                                                             : nullptr;
}

// The native function of an MVT_CODE or MVT_CODEREF value.
inline MoxNativeFunction moxNativeOf(const MoxValue& v) {
  return reinterpret_cast<MoxNativeFunction>(v.ptr());
}

// Truth of a condition: the value converted to an integer is not 0. Numbers
// convert as numbers; a pointer kind is true when it refers to something
// (its whole 64-bit address, not only the low half, is tested).
inline bool moxTruth(const MoxValue& v) {
  switch (v.type()) {
    case MVT_INTEGER: return v.asInt() != 0;
    case MVT_FLOAT:
    case MVT_DOUBLE: return int32_t(v) != 0;
    case MVT_NULL: return false;
    default: return v.asInt64() != 0 && !v.isDeadRef();
  }
}

// Integer division and remainder truncating toward zero; the smallest
// integer divided by -1 gives itself (remainder 0) instead of trapping.
inline int32_t moxIntDiv(int32_t a, int32_t b) {
  if (b == -1) return int32_t(0u - uint32_t(a));
  return a / b;
}
inline int32_t moxIntRem(int32_t a, int32_t b) {
  if (b == -1) return 0;
  return a % b;
}

// OP_BAND, OP_BOR, OP_XOR, OP_SHL, OP_SHR on two integers. Shift counts are
// the low 8 bits of the right operand; 32 or more shifts everything out.
inline int32_t moxIntBitwise(uint8_t op, int32_t a, int32_t b) {
  const uint32_t n = uint32_t(b) & 0xFFu;
  switch (op) {
    case OP_BAND: return a & b;
    case OP_BOR: return a | b;
    case OP_XOR: return a ^ b;
    case OP_SHL: return n >= 32 ? 0 : int32_t(uint32_t(a) << n);
    default:  // OP_SHR, arithmetic
      if (n >= 32) return a < 0 ? -1 : 0;
      return a >= 0 ? int32_t(uint32_t(a) >> n) : int32_t(~(~uint32_t(a) >> n));
  }
}

// For two numbers of which at least one is a double and the other a double
// or an integer: both as doubles, true. Other pairs (floats among them) take
// the general path.
MOX_ALWAYS_INLINE bool moxDoublePair(const MoxValue& l, const MoxValue& r, double* a, double* b) {
  const MoxValueType lk = l.type(), rk = r.type();
  if (lk == MVT_DOUBLE) {
    if (rk == MVT_DOUBLE) *b = r.asDouble();
    else if (rk == MVT_INTEGER) *b = double(r.asInt());
    else return false;
    *a = l.asDouble();
    return true;
  }
  if (lk == MVT_INTEGER && rk == MVT_DOUBLE) {
    *a = double(l.asInt());
    *b = r.asDouble();
    return true;
  }
  return false;
}

// 1 or 0 for a comparison opcode (OP_LT .. OP_GT) and the three-way result
// c. Each opcode has three bits, which answer for c < 0, c == 0 and c > 0;
// a shift picks the answer without a branch.
inline int32_t moxCompareResult(uint8_t op, int32_t c) {
  static_assert(OP_LE == OP_LT + 1 && OP_EQ == OP_LT + 2 && OP_NE == OP_LT + 3 &&
                    OP_GE == OP_LT + 4 && OP_GT == OP_LT + 5,
                "comparison opcodes in this order");
  const uint32_t kAnswers = 01u | 03u << 3 | 02u << 6 | 05u << 9 | 06u << 12 | 04u << 15;
  const unsigned which = c < 0 ? 0u : (c == 0 ? 1u : 2u);
  return int32_t((kAnswers >> (unsigned(op - OP_LT) * 3u + which)) & 1u);
}

// Uncounted values among the top n slots whose object has died become null,
// before an operation reads them in place.
inline void moxDropDead(MoxValue* top, int n) {
  for (int i = 0; i < n; ++i) top[-i].dropDead();
}

// *dst := src where the old content of dst may be the last reference to an
// object whose destructor runs script code (and may grow the stack block
// that dst or src lie in). src is copied first; dst is not touched after the
// old content is released.
__attribute__((always_inline)) inline void moxSafeStore(MoxValue* dst, const MoxValue& src) {
  MoxValue copy(src);
  MoxValue old(std::move(*dst));
  *dst = std::move(copy);
  old.dispose();
}

// The same for a value that nobody else needs (a local result): it moves
// in without count changes.
inline void moxSafeMoveIn(MoxValue* dst, MoxValue&& src) {
  MoxValue old(std::move(*dst));
  *dst = std::move(src);
  old.dispose();
}

// The three-way comparison of null with null or with an object whose class
// has no compare method (`p == null` in a loop), decided as the general
// path decides it; false for any other pair.
inline bool moxNullComparison(const MoxValue& l, const MoxValue& r, int* c) {
  auto plainObject = [](const MoxValue& v) {
    if (v.type() != MVT_OBJECT || !v.getRef()) return false;
    const MoxClass* cls = static_cast<MoxObject*>(v.getRef())->getClass();
    if (!cls) return true;
    const MoxDictionaryEntry* e = cls->findWellKnown(MoxClass::kCompareMember);
    return !e || e->getSymbolType() != SYM_METHOD;
  };
  if (l.type() == MVT_NULL) {
    if (r.type() == MVT_NULL) *c = 0;
    else if (plainObject(r)) *c = -1;
    else return false;
    return true;
  }
  if (r.type() != MVT_NULL || !plainObject(l)) return false;
  *c = 1;
  return true;
}

// The three-way comparison that needs no method and no conversion: two
// integers, numbers of which one is a double (by the sign of the
// difference, as the general path decides), and null with null or with a
// plain object. False for any other pair.
inline bool moxQuickCompare(const MoxValue& l, const MoxValue& r, int* c) {
  if (MOX_LIKELY(l.isInt() && r.isInt())) {
    const int32_t a = l.asInt(), b = r.asInt();
    *c = a < b ? -1 : (a > b ? 1 : 0);
    return true;
  }
  double a, b;
  if (moxDoublePair(l, r, &a, &b)) {
    const double d = a - b;
    *c = d < 0 ? -1 : (d > 0 ? 1 : 0);
    return true;
  }
  return moxNullComparison(l, r, c);
}

// True when releasing v cannot delete an object (and so cannot run a
// destructor): it holds no counted reference, or not the last one.
inline bool moxReleaseIsQuiet(const MoxValue& v) {
  return !v.isCounted() || !v.getRef() || v.getRef()->getRefCnt() > 1;
}

// The same, or the last reference to a string or buffer: they hold no
// values, so deleting one runs no script code either. For the loads over a
// slot above the top, which most often holds the last string of an
// expression before.
MOX_ALWAYS_INLINE bool moxReleaseIsHarmless(const MoxValue& v) {
  return moxReleaseIsQuiet(v) || v.type() == MVT_STRING || v.type() == MVT_BUFFER;
}

// Empties the slots [from, end) from the end down, as a return or the end of
// a send empties what lies above its result; the first release that could
// run a destructor stops it. Returns the new end: from when all are empty,
// else one past the slot that stopped it.
MOX_ALWAYS_INLINE MoxValue* moxEmptyDown(MoxValue* from, MoxValue* end) {
  for (; end > from; --end) {
    MoxValue& v = end[-1];
    if (MOX_UNLIKELY(v.mayHoldObject()) && !moxReleaseIsQuiet(v)) break;
    v.dispose();
  }
  return end;
}

// The same for a step that overwrites several slots: true when releasing
// what the distinct slots a, b and c (c may be null) hold cannot delete an
// object. An object that two of them hold must have a reference besides
// both, since both are released. A slot that holds nothing counted costs
// one test.
bool moxQuietSlotsSlow(const MoxValue* a, const MoxValue* b, const MoxValue* c);
MOX_ALWAYS_INLINE bool moxQuietSlots(const MoxValue& a, const MoxValue& b,
                                     const MoxValue* c = nullptr) {
  if (c) {
    if (MOX_LIKELY(!a.isCounted() && !b.isCounted() && !c->isCounted())) return true;
    return moxQuietSlotsSlow(&a, &b, c);
  }
  if (!moxReleaseIsQuiet(a) || !moxReleaseIsQuiet(b)) return false;
  return !(a.isCounted() && b.isCounted() && a.getRef() == b.getRef() &&
           a.getRef()->getRefCnt() <= 2);
}

// Before plain stores (putInt, putDouble) into the distinct slots a, b and
// c (c may be null): true when none of them holds an object, one test each;
// otherwise when moxQuietSlots allows their release, a string or buffer
// counting as harmless (moxReleaseIsHarmless), which is done then. False,
// with nothing changed, when a release could delete another object.
// Numbers are left as they are, so a value operand that is also one of the
// slots can still be read.
bool moxClearSlotsSlow(MoxValue* a, MoxValue* b, MoxValue* c);
MOX_ALWAYS_INLINE bool moxClearSlots(MoxValue* a, MoxValue* b, MoxValue* c = nullptr) {
  if (MOX_LIKELY(!a->mayHoldObject() && !b->mayHoldObject() && (!c || !c->mayHoldObject())))
    return true;
  return moxClearSlotsSlow(a, b, c);
}

// Releases the content of dst under the same rules.
inline void moxSafeClear(MoxValue* dst) {
  MoxValue old(std::move(*dst));
  old.dispose();
}

// OP_MKREF: a value of kinds MVT_CODE to MVT_DICTIONARY becomes its uncounted
// twin. For the counted kinds the count drops by one without the object
// being deleted: the value no longer owns its reference.
inline void moxMakeRef(MoxValue* v) {
  const MoxValueType k = v->type();
  if (k < MVT_CODE || k > MVT_DICTIONARY) return;
  MoxRefObject* obj = static_cast<MoxRefObject*>(v->ptr());
  const MoxValueType twin = MoxValueType(k + 10);
  if (k == MVT_CODE) {
    *v = MoxValue(obj, twin);  // same payload bits, uncounted kind
    return;
  }
  // Move the counted reference into storage that is never destroyed, so its
  // reference is dropped without a release; the count is lowered by hand.
  alignas(MoxValue) unsigned char hold[sizeof(MoxValue)];
  new (hold) MoxValue(std::move(*v));
  *v = MoxValue(obj, twin);
  if (obj && obj->getRefCnt() >= 1) obj->setRefCnt(obj->getRefCnt() - 1);
}

// Two zero-terminated texts are equal.
inline bool moxSameText(const MoxChar* a, const MoxChar* b) {
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

// ---------------------------------------------------------------------------
// Sends through the cache of their site.

inline bool MoxInterpreter::SendSite::holds(const MoxClass* c, const MoxClass* bc,
                                            const MoxChar* text) const {
  return epoch == MoxClass::methodEpoch() && cls == c && bcClass == bc &&
         moxSameText(text, selector.c_str());
}

// n units at a and at b are equal; four at a time, as selectors are short.
inline bool moxSameUnits(const MoxChar* a, const MoxChar* b, size_t n) {
  for (; n >= 4; n -= 4, a += 4, b += 4) {
    uint64_t x, y;
    memcpy(&x, a, sizeof x);
    memcpy(&y, b, sizeof y);
    if (x != y) return false;
  }
  for (; n; --n)
    if (*a++ != *b++) return false;
  return true;
}

inline bool MoxInterpreter::SendSite::holds(const MoxClass* c, const MoxClass* bc,
                                            const MoxString* text) const {
  const size_t n = text->length();
  return epoch == MoxClass::methodEpoch() && cls == c && bcClass == bc &&
         n == selector.size() && moxSameUnits(text->c_str(), selector.data(), n);
}

inline MoxInterpreter::SendSite* MoxInterpreter::sendSiteFor(const MoxVector* proc, uint32_t pc) {
  const uintptr_t h = (reinterpret_cast<uintptr_t>(proc) >> 4) * 31u + pc;
  return &sendSites_[(h ^ (h >> 8)) % kSendSites];
}

// The receiver's class takes part in this hash, so that a site that sends
// to objects of several classes keeps a lookup for each of them. The slot
// has a partner (its number with the last bit flipped) that may hold the
// lookup instead, so that two lookups whose hashes meet do not take turns.
inline MoxInterpreter::SendSite* MoxInterpreter::classSiteFor(const MoxVector* proc, uint32_t pc,
                                                              const MoxClass* cls) {
  uintptr_t h = (reinterpret_cast<uintptr_t>(proc) >> 4) * 31u + pc;
  h ^= (reinterpret_cast<uintptr_t>(cls) >> 4) * 0x9E3779B1u;
  return &sendSites_[(h ^ (h >> 8) ^ (h >> 16)) % kSendSites];
}

inline MoxInterpreter::SendSite* MoxInterpreter::partnerOf(SendSite* site) {
  return &sendSites_[size_t(site - sendSites_.data()) ^ 1u];
}

// ---------------------------------------------------------------------------
// The common case of entering and leaving an activation, inline: a record
// from the free list, no tracer to tell, releases that cannot run a
// destructor. Everything else takes the out-of-line versions, which do the
// same work in the same order.

MOX_ALWAYS_INLINE void MoxInterpreter::enterProc(MoxVector* proc, int argc, ValPtr bp,
                                                 ValPtr fp) {
  MoxProcInfo* rec = freeRecords_;
  if (MOX_UNLIKELY(!rec || trace_ || step_)) {
    enterProcSlow(proc, argc, bp, fp);
    return;
  }
  freeRecords_ = rec->parent_;
  rec->reuse(proc, argc, bp, fp);
  rec->parent_ = procInfo_;
  procInfo_ = rec;
  ++depth_;
}

inline void MoxInterpreter::leaveProc() {
  MoxProcInfo* old = procInfo_;
  if (MOX_UNLIKELY(!old || trace_ || step_)) {
    leaveProcSlow();
    return;
  }
  procInfo_ = old->parent_;
  --depth_;
  recycleRecord(old);
}

inline void MoxInterpreter::recycleRecord(MoxProcInfo* old) {
  MoxVector* proc = old->proc_;
  old->proc_ = nullptr;
  old->parent_ = freeRecords_;
  freeRecords_ = old;
  if (proc) proc->release();
}

MOX_ALWAYS_INLINE bool MoxInterpreter::enterBytecode(MoxVector* callee, int argc, int top,
                                                     MoxProcInfo::Kind kind, int resultSlot) {
  if (MOX_UNLIKELY(kind == MoxProcInfo::kEntry || depth_ >= kMaxCallDepth || !moxProcCode(callee)))
    return enterBytecodeSlow(callee, argc, top, kind, resultSlot);
  enterProc(callee, argc, ValPtr(this, top - argc), ValPtr(this, top));
  procInfo_->kind_ = kind;
  procInfo_->resultSlot_ = resultSlot;
  return true;
}

MOX_ALWAYS_INLINE void MoxInterpreter::enterFromCell(MoxVector* callee, int argc, int top,
                                                     MoxProcInfo::Kind kind) {
  MoxProcInfo* rec = freeRecords_;
  freeRecords_ = rec->parent_;
  rec->reuseForCell(callee, argc, ValPtr(this, top - argc), ValPtr(this, top), kind, top - argc);
  rec->parent_ = procInfo_;
  procInfo_ = rec;
  ++depth_;
}

MOX_ALWAYS_INLINE bool MoxInterpreter::returnsQuietly(const MoxProcInfo* rec, const MoxValue* S,
                                                      const MoxValue* t) const {
  const int result = rec->resultSlot_;
  return rec->kind_ != MoxProcInfo::kEntry && result >= 0 && t > S + result &&
         moxReleaseIsQuiet(S[result]) && rec->proc_ &&
         rec->proc_->getRefCnt() > 1 && !hooked_.load(std::memory_order_relaxed);
}

MOX_ALWAYS_INLINE bool MoxInterpreter::leaveQuietly(MoxProcInfo* rec, MoxValue* S, MoxValue* R,
                                                    MoxValue* t, MoxValue* end) {
  procInfo_ = rec->parent_;
  --depth_;
  recycleRecord(rec);
  *R = std::move(*t);
  MoxValue* const rest = moxEmptyDown(R + 1, end);
  dropEmptyFrom(unsigned(rest - S));
  if (MOX_LIKELY(rest == R + 1)) return true;
  sp_ = ValPtr(this, int(R - S));
  return false;
}

// The translation an activation of proc with argc arguments starts in at
// its first cell: kept for the procedure's literals, framed for argc
// arguments, with a cell at offset 0. Null when the bytes must start it (a
// first run, code that is not framed, too few arguments, a width prefix
// first). *code is the procedure's code buffer.
MOX_ALWAYS_INLINE const MoxTranslation* moxReadyTranslation(MoxVector* proc, uint32_t argc,
                                                            MoxBuffer** code) {
  *code = moxProcCode(proc);
  const MoxTranslation* x =
      *code ? static_cast<const MoxTranslation*>((*code)->derived()) : nullptr;
  if (!x || x->literalCount() != proc->size() || argc < x->argsToEnter()) return nullptr;
  return x;
}

// The result on top moves into base and the slots above base are emptied
// from the end down, as finishSendSlow does; the first release that could
// run a destructor hands the rest over to it.
MOX_ALWAYS_INLINE void MoxInterpreter::finishSend(int base) {
  const int cur = sp_.current();
  MoxValue* S = data();
  const unsigned n = size();
  if (MOX_UNLIKELY(base < 0 || cur <= base || unsigned(cur) >= n ||
                   !moxReleaseIsQuiet(S[base]))) {
    finishSendSlow(base);
    return;
  }
  S[base] = std::move(S[cur]);
  MoxValue* const rest = moxEmptyDown(S + base + 1, S + n);
  dropEmptyFrom(unsigned(rest - S));
  sp_ = ValPtr(this, base);
  // The result is in place: the slow path only empties what is left.
  if (MOX_UNLIKELY(rest > S + base + 1)) finishSendSlow(base);
}

// The end of an activation this loop started: its record goes, and the
// result takes the place of what was called (a function and its arguments,
// or a receiver, selector and arguments). Inline, as the common case of
// every return.
MOX_ALWAYS_INLINE bool MoxInterpreter::returnToCaller() {
  const bool wasCall = procInfo_->kind_ == MoxProcInfo::kLoopCall;
  const int result = procInfo_->resultSlot_;
  leaveProc();
  if (!wasCall) {
    finishSend(result);
    return true;
  }
  // finishCall, whose common case is this.
  if (MOX_LIKELY(sp_.current() > result)) {
    finishSend(result);
    return true;
  }
  return finishCall(result);
}

#endif
