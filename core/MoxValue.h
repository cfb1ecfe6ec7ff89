// The tagged value every part of the system passes around, and the reference
// counted base of all heap data.
//
// A MoxValue is 16 bytes: a 32-bit kind and an 8-byte payload. Kinds 6 to 13
// hold a counted reference (the value keeps its object alive); each kind from
// 5 to 13 has an uncounted twin numbered 10 higher.
#ifndef MOX_VALUE_H
#define MOX_VALUE_H

#include <cstddef>
#include <cstdint>

#include "core/MoxConfig.h"

enum MoxValueType : int32_t {
  MVT_NULL = 0,
  MVT_INTEGER = 1,
  MVT_FLOAT = 2,
  MVT_DOUBLE = 3,
  MVT_FILE = 4,
  MVT_CODE = 5,
  MVT_BYTECODE = 6,
  MVT_BUFFER = 7,
  MVT_CHARBUFFER = 8,
  MVT_CLASS = 9,
  MVT_OBJECT = 10,
  MVT_VECTOR = 11,
  MVT_STRING = 12,
  MVT_DICTIONARY = 13,
  MVT_VAR = 14,
  MVT_CODEREF = 15,
  MVT_BYTECODEREF = 16,
  MVT_BUFFERREF = 17,
  MVT_CHARBUFFERREF = 18,
  MVT_CLASSREF = 19,
  MVT_OBJECTREF = 20,
  MVT_VECTORREF = 21,
  MVT_STRINGREF = 22,
  MVT_DICTIONARYREF = 23
};

// Number of kinds; valid kinds are 0 to MVT_COUNT - 1.
const int32_t MVT_COUNT = 24;

// The kind's name ("MVT_NULL" ... "MVT_DICTIONARYREF"); "MVT_UNKNOWN" for a
// number outside the table.
MOX_API const MoxChar* getValueTypeName(MoxValueType type);

// True for the kinds that own a reference (6 to 13).
inline bool moxIsCountedType(MoxValueType t) { return uint32_t(t) - 6u <= 7u; }
// True for the uncounted twins of kinds 5 to 13 (15 to 23).
inline bool moxIsRefType(MoxValueType t) { return uint32_t(t) - 15u <= 8u; }
// True for the uncounted kinds that point at a heap object (16 to 23): they
// hold the object's memory block (not the object) while they exist.
inline bool moxIsWeakType(MoxValueType t) { return uint32_t(t) - 16u <= 7u; }
// Counted or uncounted hold on an object (6 to 13 and 16 to 23).
inline bool moxHoldsObject(MoxValueType t) {
  return uint32_t(t) - 6u <= 17u && uint32_t(t) - 14u > 1u;
}

class MOX_API MoxRefObject {
 public:
  virtual ~MoxRefObject();

  int32_t addRef() { return ++refCnt_; }
  // Drops one reference; the release that brings the count to 0 or below
  // deletes the object. Returns the new count, or 0 after deletion.
  int32_t release() {
    if (--refCnt_ > 0) return refCnt_;
    destroy();
    return 0;
  }
  int32_t getRefCnt() const { return refCnt_; }
  void setRefCnt(int32_t count) { refCnt_ = count; }

  // Uncounted values that point here. An object dies when its reference
  // count says so, but its memory block lives on until the last uncounted
  // value lets go, so such a value never reaches freed or reused memory.
  // These take the object as a plain pointer and reach the counter without
  // a member access: after the destructor there is no object any more, only
  // its block.
  static void addWeak(MoxRefObject* o) { ++*weakWord(o); }
  static void releaseWeak(MoxRefObject* o) {
    if (--*weakWord(o) == kGone) freeBlock(o);
  }
  // True once the destructor has finished: what is left is an empty block
  // that uncounted values read as null.
  static bool isDead(const MoxRefObject* o) { return (*weakWord(o) & kDead) != 0; }
  // True from the start of the destructor on (or from joining the deletion
  // queue).
  static bool isDying(const MoxRefObject* o) { return (*weakWord(o) & kDying) != 0; }
  // True while any uncounted value points here.
  static bool hasUncounted(const MoxRefObject* o) { return (*weakWord(o) & ~kGone) != 0; }
  // Deletes an object that no counted value owns (a script's delete through
  // an uncounted reference); nothing happens when it is already dying.
  static void destroyUnowned(MoxRefObject* o) {
    if (!isDying(o)) o->destroy();
  }
  // A plain delete by native code (of an object it made and never counted)
  // also leaves the block to the uncounted values that still point at it.
  static void operator delete(void* block);
  static void* operator new(size_t size);

 protected:
  MoxRefObject() : refCnt_(0) {}
  // A copy is a new object: its count starts at 0.
  MoxRefObject(const MoxRefObject&) : refCnt_(0) {}
  // Assigning content never touches either count.
  MoxRefObject& operator=(const MoxRefObject&) { return *this; }

 private:
  // Deletes the object. Deletions nested deeper than a few levels (a vector
  // holding a vector holding ...) are queued and run by the outermost one,
  // so releasing a deep structure does not use deep native recursion.
  void destroy();
  // Runs the destructor; frees the block unless uncounted values hold it.
  // Defined inline in MoxValue.cpp, its one user (an exported member is
  // otherwise never inlined), so that a deletion is one call.
  inline void kill();
  static void freeBlock(MoxRefObject* o);
  static uint32_t* weakWord(const MoxRefObject* o);
  static int32_t* countWord(MoxRefObject* o);

  static const uint32_t kDying = 1u << 30;
  static const uint32_t kDead = 1u << 31;
  static const uint32_t kGone = kDying | kDead;

  int32_t refCnt_;
  // Count of uncounted holders, with the kDying and kDead flags on top.
  uint32_t weak_ = 0;
};

class MOX_API MoxValue {
 public:
  MoxValue() : type_(MVT_NULL) { u_.i64 = 0; }
  MoxValue(int32_t v) : type_(MVT_INTEGER) { u_.i64 = intPayload(v); }
  MoxValue(float v) : type_(MVT_FLOAT) {
    u_.i64 = 0;
    u_.f = v;
  }
  MoxValue(double v) : type_(MVT_DOUBLE) { u_.d = v; }
  // An open stdio stream (MVT_FILE).
  MoxValue(void* file) : type_(MVT_FILE) {
    u_.i64 = 0;
    u_.p = file;
  }
  MoxValue(MoxNativeFunction fn) : type_(MVT_CODE) {
    u_.i64 = 0;
    u_.fn = fn;
  }
  MoxValue(MoxDictionaryEntry* var) : type_(MVT_VAR) {
    u_.i64 = 0;
    u_.p = var;
  }
  MoxValue(MoxBuffer* buf, bool ref = false);
  MoxValue(MoxCharBuffer* buf, bool ref = false);
  MoxValue(MoxClass* cls, bool ref = false);
  MoxValue(MoxObject* obj, bool ref = false);
  MoxValue(MoxString* str, bool ref = false);
  MoxValue(MoxDictionary* dict, bool ref = false);
  MoxValue(MoxVector* vec, bool bytecode = false, bool ref = false);
  // The given kind over an object; a reference is taken for counted kinds.
  MoxValue(MoxRefObject* obj, MoxValueType type) : type_(type) { init(obj); }
  // The same for each heap class, so that (pointer, kind) never competes
  // with (pointer, bool ref).
  MoxValue(MoxBuffer* obj, MoxValueType type);
  MoxValue(MoxCharBuffer* obj, MoxValueType type);
  MoxValue(MoxClass* obj, MoxValueType type);
  MoxValue(MoxObject* obj, MoxValueType type);
  MoxValue(MoxString* obj, MoxValueType type);
  MoxValue(MoxDictionary* obj, MoxValueType type);
  MoxValue(MoxVector* obj, MoxValueType type);

  MoxValue(const MoxValue& o) : type_(o.type_), u_(o.u_) { takeHold(type_, u_); }
  MoxValue(MoxValue&& o) noexcept : type_(o.type_), u_(o.u_) {
    o.type_ = MVT_NULL;
    o.u_.i64 = 0;
  }
  ~MoxValue() { dispose(); }

  // The new reference is taken before the old one is released, and the old
  // content is released only after this value holds the new one, so an
  // assigned value reachable only through the old content stays valid.
  MoxValue& operator=(const MoxValue& o) {
    if (this != &o) {
      MoxValueType newType = o.type_;
      Payload newU = o.u_;
      takeHold(newType, newU);
      MoxValueType oldType = type_;
      MoxRefObject* oldRef = u_.ref;
      type_ = newType;
      u_ = newU;
      letGo(oldType, oldRef);
    }
    return *this;
  }
  MoxValue& operator=(MoxValue&& o) noexcept {
    if (this != &o) {
      MoxValueType oldType = type_;
      MoxRefObject* oldRef = u_.ref;
      type_ = o.type_;
      u_ = o.u_;
      o.type_ = MVT_NULL;
      o.u_.i64 = 0;
      letGo(oldType, oldRef);
    }
    return *this;
  }

  // Releases a counted reference (or the hold of an uncounted one) and
  // leaves MVT_NULL with a zero payload.
  void dispose() {
    MoxValueType oldType = type_;
    MoxRefObject* oldRef = u_.ref;
    type_ = MVT_NULL;
    u_.i64 = 0;
    letGo(oldType, oldRef);
  }

  // Keeps the kind and replaces the pointer payload (counting for counted
  // kinds, plain store otherwise).
  void assignRef(MoxRefObject* obj) {
    if (moxIsCountedType(type_)) {
      if (obj) obj->addRef();
      MoxRefObject* old = u_.ref;
      u_.i64 = 0;
      u_.ref = obj;
      if (old) old->release();
    } else if (moxIsWeakType(type_)) {
      MoxRefObject* old = u_.ref;
      u_.i64 = 0;
      u_.ref = obj;
      takeHold(type_, u_);
      if (old) MoxRefObject::releaseWeak(old);
    } else {
      u_.i64 = 0;
      u_.ref = obj;
    }
  }

  // Hot-path accessors: no checks beyond what the name says.
  MoxValueType type() const { return type_; }
  MoxValueType getType() const { return type_; }
  bool isNull() const { return type_ == MVT_NULL; }
  bool isInt() const { return type_ == MVT_INTEGER; }
  bool isCounted() const { return moxIsCountedType(type_); }
  // Counted, or uncounted over a heap object: overwriting it has to let go.
  bool holdsObject() const { return moxHoldsObject(type_); }
  // The same by one comparison with a constant (true also for kinds 14 and
  // 15, whose dispose has nothing to release, and for any number past the
  // last kind): cheap enough for every number store, and one instruction
  // with its branch where the kind is read from memory.
  bool mayHoldObject() const { return uint32_t(type_) > uint32_t(MVT_CODE); }
  // An uncounted value whose object has died: it behaves as null.
  bool isDeadRef() const { return moxIsWeakType(type_) && u_.ref && MoxRefObject::isDead(u_.ref); }
  // Turns a dead uncounted value into null.
  void dropDead() {
    if (isDeadRef()) dispose();
  }
  // The first 32 bits of the payload as an integer.
  int32_t asInt() const { return u_.i; }
  float asFloat() const { return u_.f; }
  double asDouble() const { return u_.d; }
  // The whole payload (an MVT_INTEGER that carries a 64-bit address).
  int64_t asInt64() const { return u_.i64; }
  MoxRefObject* getRef() const { return u_.ref; }
  void* ptr() const { return u_.p; }

  // Stores a number in place, releasing what the value held. The
  // interpreter's loop stores numbers on most steps; left to itself the
  // compiler stops inlining into a function that large.
  MOX_ALWAYS_INLINE void setInt(int32_t v) {
    if (mayHoldObject()) dispose();
    type_ = MVT_INTEGER;
    u_.i64 = intPayload(v);
  }
  MOX_ALWAYS_INLINE void setDouble(double v) {
    if (mayHoldObject()) dispose();
    type_ = MVT_DOUBLE;
    u_.d = v;
  }
  // The same over a value known to hold no object (mayHoldObject() is
  // false), which has nothing to release: the loop's steps that have
  // cleared their slots beforehand store with these.
  MOX_ALWAYS_INLINE void putInt(int32_t v) {
    type_ = MVT_INTEGER;
    u_.i64 = intPayload(v);
  }
  MOX_ALWAYS_INLINE void putNull() {
    type_ = MVT_NULL;
    u_.i64 = 0;
  }
  MOX_ALWAYS_INLINE void putDouble(double v) {
    type_ = MVT_DOUBLE;
    u_.d = v;
  }
  // A copy of o, which holds no object (o.mayHoldObject() is false), into a
  // value known to hold none either: nothing to count or release.
  MOX_ALWAYS_INLINE void putPlain(const MoxValue& o) {
    type_ = o.type_;
    u_ = o.u_;
  }
  // A copy of any o into a value known to hold no object: o's hold is
  // taken, and there is nothing to release.
  MOX_ALWAYS_INLINE void putCopy(const MoxValue& o) {
    type_ = o.type_;
    u_ = o.u_;
    takeHold(type_, u_);
  }
  // An MVT_INTEGER whose payload holds a whole 64-bit number (an address or
  // a handle); its integer conversion gives the low 32 bits.
  static MoxValue fromInt64(int64_t v) {
    MoxValue r;
    r.type_ = MVT_INTEGER;
    r.u_.i64 = v;
    return r;
  }

  // The address of the value's data for native code: the payload itself for
  // numbers, the data of buffers and strings, else the pointer payload.
  void* addr();

  // Typed reads; the wrong kind gives null or the fixed numbers below.
  operator MoxClass*() const;
  operator MoxObject*() const;
  operator MoxString*() const;
  operator MoxBuffer*() const;
  operator MoxCharBuffer*() const;
  operator MoxDictionary*() const;
  // MVT_VECTOR, MVT_VECTORREF, MVT_BYTECODE and MVT_BYTECODEREF.
  operator MoxVector*() const;
  operator MoxDictionaryEntry*() const {
    return type_ == MVT_VAR ? static_cast<MoxDictionaryEntry*>(u_.p) : nullptr;
  }
  // MVT_CODE only.
  operator MoxNativeFunction() const { return type_ == MVT_CODE ? u_.fn : nullptr; }
  // MVT_FILE only.
  operator void*() const { return type_ == MVT_FILE ? u_.p : nullptr; }
  // Floats and doubles truncate toward zero (saturating outside the 32-bit
  // range); every other kind gives the first 32 bits of the payload.
  operator int32_t() const;
  // Non-numbers give the largest finite float.
  operator float() const;
  // Non-numbers give the largest finite double.
  operator double() const;

 private:
  union Payload {
    int32_t i;
    float f;
    double d;
    int64_t i64;
    void* p;
    MoxRefObject* ref;
    MoxNativeFunction fn;
  };

  // The whole payload of an integer, written as one 8-byte store: two
  // stores (zero, then the low half) cannot be forwarded to the next 8-byte
  // load of the slot, and that stall dominated tight integer loops.
  static int64_t intPayload(int32_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return int64_t(uint64_t(uint32_t(v)));
#else
    Payload u;
    u.i64 = 0;
    u.i = v;
    return u.i64;
#endif
  }

  void init(MoxRefObject* obj) {
    u_.i64 = 0;
    u_.ref = obj;
    takeHold(type_, u_);
  }
  // For a fresh copy (type, u): a counted kind takes a reference, an
  // uncounted one a hold on the block, or becomes null when its object is
  // dead. A single range test (6 to 23) lets numbers and null through at
  // once; 14 and 15 fail both inner tests.
  static void takeHold(MoxValueType& type, Payload& u) {
    if (uint32_t(type) - 6u > 17u || !u.ref) return;
    if (moxIsCountedType(type)) {
      u.ref->addRef();
    } else if (moxIsWeakType(type)) {
      if (MoxRefObject::isDead(u.ref)) {
        type = MVT_NULL;
        u.i64 = 0;
      } else {
        MoxRefObject::addWeak(u.ref);
      }
    }
  }
  static void letGo(MoxValueType type, MoxRefObject* ref) {
    if (uint32_t(type) - 6u > 17u || !ref) return;
    if (moxIsCountedType(type))
      ref->release();
    else if (moxIsWeakType(type))
      MoxRefObject::releaseWeak(ref);
  }

  MoxValueType type_;
  alignas(8) Payload u_;
};

// The counters of an object by address arithmetic (the class is not
// standard-layout, but it has no virtual base, so the offsets are fixed).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
inline uint32_t* MoxRefObject::weakWord(const MoxRefObject* o) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(const_cast<MoxRefObject*>(o)) +
                                     offsetof(MoxRefObject, weak_));
}
inline int32_t* MoxRefObject::countWord(MoxRefObject* o) {
  return reinterpret_cast<int32_t*>(reinterpret_cast<char*>(o) + offsetof(MoxRefObject, refCnt_));
}
#pragma GCC diagnostic pop

static_assert(sizeof(MoxValue) == 16, "a MoxValue is 16 bytes");
static_assert(sizeof(MoxValueType) == 4, "the kind is 32 bits");

#endif
