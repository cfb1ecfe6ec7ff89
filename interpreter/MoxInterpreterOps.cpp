// Operators, comparisons, element access and references: the slow paths of
// the execution loop. Each works on the stack at sp_ (left operand below the
// top, right operand on top) and leaves sp_ on its result.
#include <cmath>
#include <cstdint>
#include <utility>

#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "interpreter/MoxInterpreter.h"
#include "interpreter/MoxInterpreterImpl.h"

namespace {

bool isObjectKind(MoxValueType k) { return k == MVT_OBJECT || k == MVT_OBJECTREF; }
bool isStringKind(MoxValueType k) { return k == MVT_STRING || k == MVT_STRINGREF; }
bool isNumberKind(MoxValueType k) { return k == MVT_INTEGER || k == MVT_FLOAT || k == MVT_DOUBLE; }

// Messages for operators applied to objects, indexed by opcode.
const MoxChar* operatorMessage(uint8_t op, bool right) {
  switch (op) {
    case OP_ADD: return right ? u"OP_ADD_R" : u"OP_ADD";
    case OP_SUB: return right ? u"OP_SUB_R" : u"OP_SUB";
    case OP_MUL: return right ? u"OP_MUL_R" : u"OP_MUL";
    case OP_DIV: return right ? u"OP_DIV_R" : u"OP_DIV";
    case OP_REM: return right ? u"OP_REM_R" : u"OP_REM";
    case OP_BAND: return right ? u"OP_BAND_R" : u"OP_BAND";
    case OP_BOR: return right ? u"OP_BOR_R" : u"OP_BOR";
    case OP_XOR: return right ? u"OP_XOR_R" : u"OP_XOR";
    case OP_SHL: return right ? u"OP_SHL_R" : u"OP_SHL";
    case OP_SHR: return right ? u"OP_SHR_R" : u"OP_SHR";
    default: return u"";
  }
}

// The right operand of a division is zero: a number equal to zero, or any
// other value with an empty payload (null).
bool isZeroDivisor(const MoxValue& v) {
  switch (v.type()) {
    case MVT_INTEGER: return v.asInt() == 0;
    case MVT_FLOAT: return v.asFloat() == 0.0f;
    case MVT_DOUBLE: return v.asDouble() == 0.0;
    default: return v.asInt64() == 0;
  }
}

template <typename T>
T applyArith(uint8_t op, T a, T b) {
  switch (op) {
    case OP_ADD: return a + b;
    case OP_SUB: return a - b;
    case OP_MUL: return a * b;
    case OP_DIV: return a / b;
    default: return T(std::fmod(double(a), double(b)));  // OP_REM
  }
}

int32_t intArith(uint8_t op, int32_t a, int32_t b) {
  switch (op) {
    case OP_ADD: return int32_t(uint32_t(a) + uint32_t(b));
    case OP_SUB: return int32_t(uint32_t(a) - uint32_t(b));
    case OP_MUL: return int32_t(uint32_t(a) * uint32_t(b));
    case OP_DIV: return moxIntDiv(a, b);
    default: return moxIntRem(a, b);
  }
}

int signOf(double d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

// True when v is an object whose class (or a base) has a "compare" method.
bool hasCompareMethod(const MoxValue& v) {
  if (!isObjectKind(v.type()) || !v.getRef()) return false;
  MoxClass* cls = static_cast<MoxObject*>(v.getRef())->getClass();
  if (!cls) return false;
  MoxDictionaryEntry* e = cls->findWellKnown(MoxClass::kCompareMember);
  return e && e->getSymbolType() == SYM_METHOD;
}

}  // namespace

// The result of a binary operation replaces the left operand; sp_ moves down.
#define MOX_BINARY_RESULT(value)                  \
  do {                                            \
    MoxValue result_ = (value);                   \
    sp_ -= 1;                                     \
    moxSafeMoveIn(sp_.get(), std::move(result_)); \
  } while (0)

bool MoxInterpreter::sendOperator(const MoxChar* name, bool swap) {
  if (swap) {
    MoxValue* t = sp_.get();
    std::swap(t[-1], t[0]);
  }
  return sendFrom(1, name, nullptr);
}

bool MoxInterpreter::nullOperand(MoxValueType kind) {
  return returnError(u"invalid NULL value of type ", getValueTypeName(kind));
}

bool MoxInterpreter::stringConcat() {
  MoxValue* t = sp_.get();
  const MoxValue& l = t[-1];
  const MoxValue& r = t[0];
  const bool ls = isStringKind(l.type());
  const bool rs = isStringKind(r.type());
  if (ls && !l.getRef()) return returnError(u"left string operand is NULL", nullptr);
  if (rs && !r.getRef()) return returnError(u"right string operand is NULL", nullptr);
  // A left string that only this slot holds (the sum just before, as in
  // s + a + b) grows in place: nothing else can see it change, and a chain
  // of additions then copies each piece once instead of the whole string
  // at every step.
  if (l.type() == MVT_STRING) {
    MoxString* a = static_cast<MoxString*>(l.getRef());
    if (a->getRefCnt() == 1 && !MoxRefObject::hasUncounted(a) && r.getRef() != a) {
      if (rs) {
        *a += *static_cast<MoxString*>(r.getRef());
      } else if (const MoxChar ch = MoxChar(uint32_t(r.asInt()) & 0xFFFFu)) {
        *a += ch;
      }
      sp_ -= 1;
      return true;
    }
  }
  // Each result is made in one allocation. A number stands for one
  // character; a 0 code adds nothing, since it would end the string.
  MoxString* s;
  if (ls && rs) {
    const MoxString& a = *static_cast<MoxString*>(l.getRef());
    const MoxString& b = *static_cast<MoxString*>(r.getRef());
    s = MoxString::create(a.c_str(), a.length(), b.c_str(), b.length());
  } else if (ls) {
    const MoxString& a = *static_cast<MoxString*>(l.getRef());
    const MoxChar ch = MoxChar(uint32_t(r.asInt()) & 0xFFFFu);
    s = MoxString::create(a.c_str(), a.length(), &ch, ch ? 1 : 0);
  } else {
    const MoxString& b = *static_cast<MoxString*>(r.getRef());
    const MoxChar ch = MoxChar(uint32_t(l.asInt()) & 0xFFFFu);
    s = MoxString::create(&ch, ch ? 1 : 0, b.c_str(), b.length());
  }
  MOX_BINARY_RESULT(MoxValue(s, false));
  return true;
}

bool MoxInterpreter::doArith(unsigned char op) {
  MoxValue* t = sp_.get();
  moxDropDead(t, 2);
  const MoxValue& l = t[-1];
  const MoxValue& r = t[0];
  if ((op == OP_DIV || op == OP_REM) && isZeroDivisor(r))
    return returnError(u"divide 0 error", nullptr);
  const MoxValueType lk = l.type();
  const MoxValueType rk = r.type();
  if (!isObjectKind(lk) && isObjectKind(rk)) return sendOperator(operatorMessage(op, true), true);
  if (isObjectKind(lk)) return sendOperator(operatorMessage(op, false), false);

  switch (lk) {
    case MVT_INTEGER:
      switch (rk) {
        case MVT_INTEGER:
          MOX_BINARY_RESULT(MoxValue(intArith(op, l.asInt(), r.asInt())));
          return true;
        case MVT_FLOAT:
          MOX_BINARY_RESULT(MoxValue(applyArith<float>(op, float(l.asInt()), r.asFloat())));
          return true;
        case MVT_DOUBLE:
          MOX_BINARY_RESULT(MoxValue(applyArith<double>(op, double(l.asInt()), r.asDouble())));
          return true;
        default:
          if (op == OP_ADD && isStringKind(rk)) return stringConcat();
          return badType(rk, MVT_INTEGER);
      }
    case MVT_FLOAT:
      switch (rk) {
        case MVT_INTEGER:
          MOX_BINARY_RESULT(MoxValue(applyArith<float>(op, l.asFloat(), float(r.asInt()))));
          return true;
        case MVT_FLOAT:
          MOX_BINARY_RESULT(MoxValue(applyArith<float>(op, l.asFloat(), r.asFloat())));
          return true;
        case MVT_DOUBLE:
          MOX_BINARY_RESULT(MoxValue(applyArith<double>(op, double(l.asFloat()), r.asDouble())));
          return true;
        default:
          return badType(rk, MVT_FLOAT);
      }
    case MVT_DOUBLE:
      if (!isNumberKind(rk)) return badType(rk, MVT_DOUBLE);
      MOX_BINARY_RESULT(MoxValue(applyArith<double>(op, l.asDouble(), double(r))));
      return true;
    case MVT_STRING:
    case MVT_STRINGREF:
      if (op != OP_ADD) return badType(lk, MVT_INTEGER);
      if (rk == MVT_INTEGER || isStringKind(rk)) return stringConcat();
      if (!l.getRef()) return returnError(u"left string operand is NULL", nullptr);
      return badType(rk, MVT_STRING);
    default:
      return badType(lk, MVT_INTEGER);
  }
}

bool MoxInterpreter::doBitwise(unsigned char op) {
  MoxValue* t = sp_.get();
  moxDropDead(t, 2);
  const MoxValueType lk = t[-1].type();
  const MoxValueType rk = t[0].type();
  if (!isObjectKind(lk) && isObjectKind(rk)) return sendOperator(operatorMessage(op, true), true);
  if (isObjectKind(lk)) return sendOperator(operatorMessage(op, false), false);
  if (lk != MVT_INTEGER) return badType(lk, MVT_INTEGER);
  if (rk != MVT_INTEGER) return badType(rk, MVT_INTEGER);
  MOX_BINARY_RESULT(MoxValue(moxIntBitwise(op, t[-1].asInt(), t[0].asInt())));
  return true;
}

bool MoxInterpreter::doOP_BNOT() {
  MoxValue* t = sp_.get();
  moxDropDead(t, 1);
  if (isObjectKind(t->type())) return sendFrom(0, u"OP_BNOT", nullptr);
  if (!checkType(*t, MVT_INTEGER)) return false;
  t->setInt(~t->asInt());
  return true;
}

bool MoxInterpreter::doUnary(unsigned char op) {
  MoxValue* t = sp_.get();
  moxDropDead(t, 1);
  switch (t->type()) {
    case MVT_INTEGER: {
      const uint32_t v = uint32_t(t->asInt());
      t->setInt(int32_t(op == OP_NEG ? 0u - v : (op == OP_INC ? v + 1u : v - 1u)));
      return true;
    }
    case MVT_FLOAT: {
      const float v = t->asFloat();
      *t = MoxValue(op == OP_NEG ? -v : (op == OP_INC ? v + 1.0f : v - 1.0f));
      return true;
    }
    case MVT_DOUBLE: {
      const double v = t->asDouble();
      t->setDouble(op == OP_NEG ? -v : (op == OP_INC ? v + 1.0 : v - 1.0));
      return true;
    }
    case MVT_OBJECT:
    case MVT_OBJECTREF:
      return sendFrom(0, op == OP_NEG ? u"OP_NEG" : (op == OP_INC ? u"OP_INC" : u"OP_DEC"),
                      nullptr);
    default:
      return badType(t->type(), MVT_INTEGER);
  }
}

bool MoxInterpreter::doCompare() {
  MoxValue* t = sp_.get();
  moxDropDead(t, 2);
  if (hasCompareMethod(t[-1])) {
    if (!sendFrom(1, u"compare", nullptr)) return false;
    return checkType(*sp_.get(), MVT_INTEGER);
  }
  if (hasCompareMethod(t[0])) {
    std::swap(t[-1], t[0]);
    if (!sendFrom(1, u"compare", nullptr)) return false;
    MoxValue* r = sp_.get();
    if (!checkType(*r, MVT_INTEGER)) return false;
    r->setInt(int32_t(0u - uint32_t(r->asInt())));
    return true;
  }

  const MoxValue& l = t[-1];
  const MoxValue& r = t[0];
  const MoxValueType lk = l.type();
  const MoxValueType rk = r.type();
  int c;
  if (lk == MVT_NULL) {
    if (rk == MVT_NULL) c = 0;
    else if (isNumberKind(rk)) return badType(rk, MVT_VAR);
    else c = -1;
  } else if (lk == MVT_INTEGER) {
    if (rk == MVT_INTEGER) {
      const int32_t a = l.asInt(), b = r.asInt();
      c = a < b ? -1 : (a > b ? 1 : 0);
    } else if (rk == MVT_FLOAT || rk == MVT_DOUBLE) {
      c = signOf(double(l.asInt()) - double(r));
    } else {
      return badType(rk, MVT_INTEGER);
    }
  } else if (lk == MVT_FLOAT || lk == MVT_DOUBLE) {
    if (!isNumberKind(rk)) return badType(rk, MVT_FLOAT);
    c = signOf(double(l) - double(r));
  } else if (lk == MVT_STRING) {
    if (rk == MVT_NULL) {
      c = 1;
    } else if (rk == MVT_STRING) {
      if (!l.getRef()) return returnError(u"left string operand is NULL", nullptr);
      if (!r.getRef()) return returnError(u"right string operand is NULL", nullptr);
      const int d = static_cast<MoxString*>(l.getRef())->compare(*static_cast<MoxString*>(r.getRef()));
      c = d < 0 ? -1 : (d > 0 ? 1 : 0);
    } else {
      return badType(rk, MVT_STRING);
    }
  } else if (rk == MVT_NULL) {
    c = 1;
  } else if (rk == lk) {
    // Identity, ordered by address.
    const uintptr_t a = reinterpret_cast<uintptr_t>(l.ptr());
    const uintptr_t b = reinterpret_cast<uintptr_t>(r.ptr());
    c = a < b ? -1 : (a > b ? 1 : 0);
  } else {
    return badType(lk, rk);
  }
  MOX_BINARY_RESULT(MoxValue(int32_t(c)));
  return true;
}

bool MoxInterpreter::compareValues(const MoxValue& left, const MoxValue& right, int32_t* c) {
  // Copies first: the values may lie on this stack, which may move.
  MoxValue l(left), r(right);
  const ValPtr saved = sp_;
  const unsigned base = size();
  sp_ = last();
  ++sp_;
  moxSafeStore(sp_.get(), l);
  ++sp_;
  moxSafeStore(sp_.get(), r);
  bool ok = doCompare();
  if (ok) {
    const MoxValue* result = sp_.get();
    ok = result && result->type() == MVT_INTEGER;
    if (ok) *c = result->asInt();
  }
  sp_ = ValPtr(this, int(base) - 1);
  trimTo(base);
  sp_ = saved;
  return ok;
}

bool MoxInterpreter::doOP_VREF() {
  MoxValue* t = sp_.get();
  moxDropDead(t, 2);
  const MoxValue& container = t[-1];
  const MoxValue& index = t[0];
  const MoxValueType ck = container.type();
  if (isObjectKind(ck)) return sendFrom(1, u"OP_VREF", nullptr);

  switch (ck) {
    case MVT_DICTIONARY:
    case MVT_DICTIONARYREF: {
      if (!container.getRef()) return nullOperand(ck);
      if (!checkType(index, MVT_STRING)) return false;
      if (!index.getRef()) return nullOperand(MVT_STRING);
      MoxDictionary* d = static_cast<MoxDictionary*>(container.getRef());
      MoxDictionaryEntry& e = (*d)[*static_cast<MoxString*>(index.getRef())];
      MOX_BINARY_RESULT(e.getValue());
      return true;
    }
    case MVT_BUFFER:
    case MVT_BUFFERREF:
    case MVT_CHARBUFFER:
    case MVT_CHARBUFFERREF:
    case MVT_VECTOR:
    case MVT_VECTORREF:
    case MVT_STRING:
    case MVT_STRINGREF:
      break;
    default:
      return checkType(container, MVT_OBJECT);
  }
  if (!container.getRef()) return nullOperand(ck);
  if (!checkType(index, MVT_INTEGER)) return false;
  const int32_t i = index.asInt();
  switch (ck) {
    case MVT_BUFFER:
    case MVT_BUFFERREF: {
      MoxBuffer* b = static_cast<MoxBuffer*>(container.getRef());
      if (i < 0 || uint32_t(i) >= b->size()) break;
      MOX_BINARY_RESULT(MoxValue(int32_t((*b)[uint32_t(i)])));
      return true;
    }
    case MVT_CHARBUFFER:
    case MVT_CHARBUFFERREF: {
      MoxCharBuffer* b = static_cast<MoxCharBuffer*>(container.getRef());
      if (i < 0 || uint32_t(i) >= b->size()) break;
      MOX_BINARY_RESULT(MoxValue(int32_t((*b)[uint32_t(i)])));
      return true;
    }
    case MVT_VECTOR:
    case MVT_VECTORREF: {
      MoxVector* v = static_cast<MoxVector*>(container.getRef());
      if (i < 0 || uint32_t(i) >= v->size()) break;
      MOX_BINARY_RESULT((*v)[uint32_t(i)]);
      return true;
    }
    default: {  // strings
      MoxString* s = static_cast<MoxString*>(container.getRef());
      if (i < 0 || uint32_t(i) >= s->length()) break;
      MOX_BINARY_RESULT(MoxValue(int32_t((*s)[uint32_t(i)])));
      return true;
    }
  }
  return returnError(u"subscript out of range", nullptr);
}

#undef MOX_BINARY_RESULT

bool MoxInterpreter::doOP_VSET() {
  MoxValue* t = sp_.get();
  moxDropDead(t, 3);
  const MoxValue& container = t[-2];
  const MoxValue& index = t[-1];
  const MoxValue& value = t[0];
  const MoxValueType ck = container.type();
  if (isObjectKind(ck)) return sendFrom(2, u"OP_VSET", nullptr);

  // Stores the result into the container's slot and moves sp_ there.
  auto finish = [this](const MoxValue& result) {
    MoxValue keep(result);
    sp_ -= 2;
    moxSafeStore(sp_.get(), keep);
    return true;
  };

  switch (ck) {
    case MVT_DICTIONARY:
    case MVT_DICTIONARYREF: {
      if (!container.getRef()) return nullOperand(ck);
      if (!checkType(index, MVT_STRING)) return false;
      if (!index.getRef()) return nullOperand(MVT_STRING);
      MoxDictionary* d = static_cast<MoxDictionary*>(container.getRef());
      MoxValue keep(value);
      MoxDictionaryEntry& e = (*d)[*static_cast<MoxString*>(index.getRef())];
      moxSafeStore(&e.value(), keep);
      return finish(keep);
    }
    case MVT_BUFFER:
    case MVT_BUFFERREF:
    case MVT_CHARBUFFER:
    case MVT_CHARBUFFERREF:
    case MVT_VECTOR:
    case MVT_VECTORREF:
    case MVT_STRING:
    case MVT_STRINGREF:
      break;
    default:
      return checkType(container, MVT_OBJECT);
  }
  if (!container.getRef()) return nullOperand(ck);
  if (!checkType(index, MVT_INTEGER)) return false;
  const int32_t i = index.asInt();
  switch (ck) {
    case MVT_BUFFER:
    case MVT_BUFFERREF: {
      MoxBuffer* b = static_cast<MoxBuffer*>(container.getRef());
      if (i < 0 || uint32_t(i) >= b->size()) break;
      const uint8_t byte = uint8_t(uint32_t(int32_t(value)) & 0xFFu);
      (*b)[uint32_t(i)] = byte;
      return finish(MoxValue(int32_t(byte)));
    }
    case MVT_CHARBUFFER:
    case MVT_CHARBUFFERREF: {
      MoxCharBuffer* b = static_cast<MoxCharBuffer*>(container.getRef());
      if (i < 0 || uint32_t(i) >= b->size()) break;
      const MoxChar ch = MoxChar(uint32_t(int32_t(value)) & 0xFFFFu);
      (*b)[uint32_t(i)] = ch;
      return finish(MoxValue(int32_t(ch)));
    }
    case MVT_VECTOR:
    case MVT_VECTORREF: {
      MoxVector* v = static_cast<MoxVector*>(container.getRef());
      if (i < 0 || uint32_t(i) >= v->size()) break;
      MoxValue keep(value);
      moxSafeStore(&(*v)[uint32_t(i)], keep);
      return finish(keep);
    }
    default: {  // strings, changed in place
      MoxString* s = static_cast<MoxString*>(container.getRef());
      if (i < 0 || uint32_t(i) >= s->length()) break;
      const MoxChar ch = MoxChar(uint32_t(int32_t(value)) & 0xFFFFu);
      (*s)[uint32_t(i)] = ch;
      return finish(MoxValue(int32_t(ch)));
    }
  }
  return returnError(u"subscript out of range", nullptr);
}

bool MoxInterpreter::doOP_DELETE() {
  MoxValue* t = sp_.get();
  const MoxValueType k = t->type();
  MoxRefObject* victim = nullptr;
  // A dying or dead object is not deleted again.
  if (k >= MVT_BYTECODEREF && k <= MVT_DICTIONARYREF && t->getRef() && !MoxRefObject::isDying(t->getRef()) &&
      t->getRef()->getRefCnt() == 0)
    victim = t->getRef();
  // The slot is cleared first, so a destructor that runs meanwhile finds no
  // reference to the dying object on the stack.
  moxSafeClear(t);
  if (victim) MoxRefObject::destroyUnowned(victim);
  return true;
}

namespace {

// True for a value whose release runs no code whatever else holds it: no
// object, a string or a buffer. (An object that two slots hold may die
// when both let go, however many holders it has.)
MOX_ALWAYS_INLINE bool diesWithoutCode(const MoxValue& v) {
  return !v.mayHoldObject() || v.type() == MVT_STRING || v.type() == MVT_BUFFER;
}

// moxQuietSlotsSlow, with strings and buffers left out of the count when
// stringsDie: they run no code when they die.
MOX_ALWAYS_INLINE bool quietSlots(const MoxValue* const* slots, int n, bool stringsDie) {
  for (int i = 0; i < n; ++i) {
    const MoxValue& v = *slots[i];
    if (!v.isCounted() || !v.getRef()) continue;
    if (stringsDie && diesWithoutCode(v)) continue;
    int held = 0;
    for (int j = 0; j < n; ++j)
      if (slots[j]->isCounted() && slots[j]->getRef() == v.getRef()) ++held;
    if (v.getRef()->getRefCnt() <= held) return false;
  }
  return true;
}

}  // namespace

bool moxQuietSlotsSlow(const MoxValue* a, const MoxValue* b, const MoxValue* c) {
  const MoxValue* slots[3] = {a, b, c};
  return quietSlots(slots, c ? 3 : 2, false);
}

bool moxClearSlotsSlow(MoxValue* a, MoxValue* b, MoxValue* c) {
  // Most often the slots hold numbers and the strings of an expression
  // before (a comparison with a literal leaves it above its result). No
  // release of a string or a buffer runs code, however often the slots
  // hold it, so these need no count of holders.
  if (MOX_LIKELY(diesWithoutCode(*a) && diesWithoutCode(*b) && (!c || diesWithoutCode(*c)))) {
    if (a->mayHoldObject()) a->dispose();
    if (b->mayHoldObject()) b->dispose();
    if (c && c->mayHoldObject()) c->dispose();
    return true;
  }
  MoxValue* slots[3] = {a, b, c};
  const int n = c ? 3 : 2;
  if (!quietSlots(slots, n, true)) return false;
  for (int i = 0; i < n; ++i)
    if (slots[i]->mayHoldObject()) slots[i]->dispose();
  return true;
}
