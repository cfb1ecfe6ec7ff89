// Value kinds, typed construction and conversions, and the deletion of
// reference counted objects.
#include "core/MoxValue.h"

#include <cfloat>
#include <cmath>
#include <vector>

#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "vm/MoxPlatform.h"

namespace {

const MoxChar* const kTypeNames[MVT_COUNT] = {
    u"MVT_NULL",      u"MVT_INTEGER",     u"MVT_FLOAT",         u"MVT_DOUBLE",
    u"MVT_FILE",      u"MVT_CODE",        u"MVT_BYTECODE",      u"MVT_BUFFER",
    u"MVT_CHARBUFFER", u"MVT_CLASS",      u"MVT_OBJECT",        u"MVT_VECTOR",
    u"MVT_STRING",    u"MVT_DICTIONARY",  u"MVT_VAR",           u"MVT_CODEREF",
    u"MVT_BYTECODEREF", u"MVT_BUFFERREF", u"MVT_CHARBUFFERREF", u"MVT_CLASSREF",
    u"MVT_OBJECTREF", u"MVT_VECTORREF",   u"MVT_STRINGREF",     u"MVT_DICTIONARYREF"};

// Deletions nested deeper than this are queued for the outermost deletion.
// Each level of a nested release costs a few native frames (destructor,
// dispose, release); this keeps the recursion shallow whatever the data.
const int kMaxDeleteDepth = 16;

// The nesting of deletions on this thread and what deeper ones queued. One
// thread-local object, so a deletion looks its address up once.
struct Deletions {
  int depth = 0;
  std::vector<MoxRefObject*>* queue = nullptr;
};
// Every release that frees an object reaches this variable. In a shared
// library the default TLS model costs a __tls_get_addr call per access (4%
// of an allocation-heavy script); initial-exec is a plain fs-relative load.
// Its 16 bytes fit the static TLS reserve glibc keeps for libraries that
// are dlopen()ed, so an embedder loading moxlib at run time still works.
__attribute__((tls_model("initial-exec"))) thread_local Deletions deletions;

// Counted constructor helper: the kind is chosen, a reference taken when the
// kind counts and the pointer is set.
inline MoxValueType pick(bool ref, MoxValueType counted) {
  return ref ? MoxValueType(counted + 10) : counted;
}

}  // namespace

const MoxChar* getValueTypeName(MoxValueType type) {
  if (type < 0 || type >= MVT_COUNT) return u"MVT_UNKNOWN";
  return kTypeNames[type];
}

MoxRefObject::~MoxRefObject() {}

void MoxRefObject::destroy() {
  Deletions& d = deletions;
  if (d.depth >= kMaxDeleteDepth) {
    if (!d.queue) d.queue = new std::vector<MoxRefObject*>();
    // Queued means doomed: a script delete must not destroy it first.
    weak_ |= kDying;
    d.queue->push_back(this);
    return;
  }
  ++d.depth;
  kill();
  if (d.depth == 1 && d.queue) {
    // The outermost deletion drains what deeper ones left behind; deleting a
    // queued object may queue more, which this loop picks up in turn.
    while (!d.queue->empty()) {
      MoxRefObject* obj = d.queue->back();
      d.queue->pop_back();
      obj->kill();
    }
    delete d.queue;
    d.queue = nullptr;
  }
  --d.depth;
}

void MoxRefObject::kill() {
  // The destructor holds the block itself, so uncounted values released
  // while it runs cannot free it under its feet. Values copied meanwhile
  // (a script destructor keeping "this") turn null once it has finished.
  weak_ = (weak_ | kDying) + 1;
  // The block starts at the most derived object, which is only known while
  // the object is whole; the unused count keeps the distance afterwards.
  const int32_t offset =
      int32_t(reinterpret_cast<char*>(this) - static_cast<char*>(dynamic_cast<void*>(this)));
  MoxRefObject* block = this;
  this->~MoxRefObject();
  // From here on only the block is left: no member access.
  *countWord(block) = offset;
  *weakWord(block) |= kDead;
  releaseWeak(block);
}

// Object blocks come from the counted allocation of the value model, so the
// machine at work counts them like the text and element blocks they own.
void* MoxRefObject::operator new(size_t size) { return mox::allocmem(size); }

void MoxRefObject::operator delete(void* block) {
  // Every class here has its MoxRefObject part at the start of the block.
  MoxRefObject* o = static_cast<MoxRefObject*>(block);
  uint32_t* weak = weakWord(o);
  if ((*weak & ~kGone) == 0) {
    mox::freemem(block);
    return;
  }
  *countWord(o) = 0;
  *weak |= kGone;
}

void MoxRefObject::freeBlock(MoxRefObject* o) {
  // Every object is made by a plain new of its own class.
  mox::freemem(reinterpret_cast<char*>(o) - *countWord(o));
}

MoxValue::MoxValue(MoxBuffer* buf, bool ref) : type_(pick(ref, MVT_BUFFER)) { init(buf); }
MoxValue::MoxValue(MoxCharBuffer* buf, bool ref) : type_(pick(ref, MVT_CHARBUFFER)) {
  init(buf);
}
MoxValue::MoxValue(MoxClass* cls, bool ref) : type_(pick(ref, MVT_CLASS)) { init(cls); }
MoxValue::MoxValue(MoxObject* obj, bool ref) : type_(pick(ref, MVT_OBJECT)) { init(obj); }
MoxValue::MoxValue(MoxString* str, bool ref) : type_(pick(ref, MVT_STRING)) { init(str); }
MoxValue::MoxValue(MoxDictionary* dict, bool ref) : type_(pick(ref, MVT_DICTIONARY)) {
  init(dict);
}
MoxValue::MoxValue(MoxVector* vec, bool bytecode, bool ref)
    : type_(pick(ref, bytecode ? MVT_BYTECODE : MVT_VECTOR)) {
  init(vec);
}

MoxValue::MoxValue(MoxBuffer* obj, MoxValueType type) : type_(type) { init(obj); }
MoxValue::MoxValue(MoxCharBuffer* obj, MoxValueType type) : type_(type) { init(obj); }
MoxValue::MoxValue(MoxClass* obj, MoxValueType type) : type_(type) { init(obj); }
MoxValue::MoxValue(MoxObject* obj, MoxValueType type) : type_(type) { init(obj); }
MoxValue::MoxValue(MoxString* obj, MoxValueType type) : type_(type) { init(obj); }
MoxValue::MoxValue(MoxDictionary* obj, MoxValueType type) : type_(type) { init(obj); }
MoxValue::MoxValue(MoxVector* obj, MoxValueType type) : type_(type) { init(obj); }

namespace {

// Native code may write into the characters it is given, so the string
// stops trusting its stored length. The empty string has no block of its
// own; it hands out its shared empty text.
MoxChar* exposedText(MoxString* s) {
  MoxChar* text = s->exposeText();
  return text ? text : const_cast<MoxChar*>(s->c_str());
}

}  // namespace

void* MoxValue::addr() {
  if (isDeadRef()) return nullptr;
  switch (type_) {
    case MVT_INTEGER:
    case MVT_FLOAT:
    case MVT_DOUBLE:
      return &u_;
    case MVT_BUFFER:
    case MVT_BUFFERREF:
      return u_.ref ? static_cast<MoxBuffer*>(u_.ref)->data() : nullptr;
    case MVT_CHARBUFFER:
    case MVT_CHARBUFFERREF:
      return u_.ref ? static_cast<MoxCharBuffer*>(u_.ref)->data() : nullptr;
    case MVT_STRING:
    case MVT_STRINGREF:
      return u_.ref ? exposedText(static_cast<MoxString*>(u_.ref)) : nullptr;
    default:
      return u_.p;
  }
}

namespace {
template <typename T>
T* refAs(MoxValueType type, MoxValueType want, MoxRefObject* ref) {
  if (type == want) return static_cast<T*>(ref);
  // A dead object reads as null.
  return (type == want + 10 && !(ref && MoxRefObject::isDead(ref))) ? static_cast<T*>(ref) : nullptr;
}
}  // namespace

MoxValue::operator MoxClass*() const { return refAs<MoxClass>(type_, MVT_CLASS, u_.ref); }
MoxValue::operator MoxObject*() const { return refAs<MoxObject>(type_, MVT_OBJECT, u_.ref); }
MoxValue::operator MoxString*() const { return refAs<MoxString>(type_, MVT_STRING, u_.ref); }
MoxValue::operator MoxBuffer*() const { return refAs<MoxBuffer>(type_, MVT_BUFFER, u_.ref); }
MoxValue::operator MoxCharBuffer*() const {
  return refAs<MoxCharBuffer>(type_, MVT_CHARBUFFER, u_.ref);
}
MoxValue::operator MoxDictionary*() const {
  return refAs<MoxDictionary>(type_, MVT_DICTIONARY, u_.ref);
}
MoxValue::operator MoxVector*() const {
  MoxVector* v = refAs<MoxVector>(type_, MVT_VECTOR, u_.ref);
  return v ? v : refAs<MoxVector>(type_, MVT_BYTECODE, u_.ref);
}

namespace {
// Truncation toward zero that stays defined for every double: NaN gives 0,
// values beyond the 32-bit range saturate.
int32_t truncToInt(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 2147483647.0) return INT32_MAX;
  if (d <= -2147483648.0) return INT32_MIN;
  return int32_t(d);
}
}  // namespace

MoxValue::operator int32_t() const {
  switch (type_) {
    case MVT_FLOAT:
      return truncToInt(u_.f);
    case MVT_DOUBLE:
      return truncToInt(u_.d);
    default:
      return u_.i;
  }
}

MoxValue::operator float() const {
  switch (type_) {
    case MVT_FLOAT:
      return u_.f;
    case MVT_INTEGER:
      return float(u_.i);
    case MVT_DOUBLE:
      return float(u_.d);
    default:
      return FLT_MAX;
  }
}

MoxValue::operator double() const {
  switch (type_) {
    case MVT_DOUBLE:
      return u_.d;
    case MVT_FLOAT:
      return double(u_.f);
    case MVT_INTEGER:
      return double(u_.i);
    default:
      return DBL_MAX;
  }
}
