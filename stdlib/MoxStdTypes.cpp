// Constructors of heap values, conversions between kinds and type
// inspection.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxFormat.h"
#include "core/MoxString.h"
#include "core/MoxUtf8.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "stdlib/MoxStdSupport.h"
#include "vm/MoxPlatform.h"

using namespace moxstd;

namespace {

bool isBuffer(const MoxValue& v) { return v.getType() == MVT_BUFFER || v.getType() == MVT_BUFFERREF; }
bool isCharBuffer(const MoxValue& v) {
  return v.getType() == MVT_CHARBUFFER || v.getType() == MVT_CHARBUFFERREF;
}
bool isObject(const MoxValue& v) { return v.getType() == MVT_OBJECT || v.getType() == MVT_OBJECTREF; }

// Scans text like "%lf": returns 1 for a number, 0 for text that does not
// start with one, -1 for empty or blank text.
int scanDouble(const MoxString* s, double& out) {
  out = 0.0;
  std::string narrow;
  if (s) moxUtf8Encode(s->c_str(), s->length(), narrow);
  size_t i = 0;
  while (i < narrow.size() && (narrow[i] == ' ' || (narrow[i] >= '\t' && narrow[i] <= '\r'))) ++i;
  if (i == narrow.size()) return -1;
  return sscanf(narrow.c_str() + i, "%lf", &out) == 1 ? 1 : 0;
}

// Reads a number from text with automatic base, saturating like strtol.
int32_t textToLong(const MoxString* s) {
  if (!s) return 0;
  std::string narrow;
  moxUtf8Encode(s->c_str(), s->length(), narrow);
  long long v = strtoll(narrow.c_str(), nullptr, 0);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

MoxValue newStringValue(MoxString* s) { return MoxValue(s, false); }

// The formatting constructor's text for format and the argc values at
// values, measured before it is made: a text that would not fit, or whose
// widths and precisions ask for more than the formatting engine gives, is
// refused with "not enough memory" instead of coming out cut; the units
// are charged as work up front. Numbers count at their longest form.
bool formatFits(MoxVirtualMachine* vm, const MoxString* format, int argc, const ValPtr& values) {
  if (!format) return true;
  const uint64_t kNumberUnits = 330;  // "%f" of the largest double, sign and point
  bool beyond = false;
  uint64_t units = format->length() + moxFormatFieldUnits(format->c_str(), &beyond);
  for (int i = 0; i < argc; ++i) {
    const MoxValue& v = values[i];
    if (isString(v)) {
      const MoxString* s = static_cast<MoxString*>(v);
      units += s ? s->length() : 0;
    } else if (isBuffer(v)) {
      const MoxBuffer* b = static_cast<MoxBuffer*>(v);
      units += b ? b->size() : 0;
    } else if (isCharBuffer(v)) {
      const MoxCharBuffer* b = static_cast<MoxCharBuffer*>(v);
      units += b ? b->size() : 0;
    } else {
      units += kNumberUnits;
    }
  }
  if (beyond || !mox::blockFits(units + 1, sizeof(MoxChar))) return fail(vm, u"not enough memory");
  return work(vm, units);
}

bool stringOfObject(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  MoxObject* obj = static_cast<MoxObject*>(*args);
  MoxClass* cls = obj ? obj->getClass() : nullptr;
  MoxDictionaryEntry* m = cls ? cls->findMember(MoxString(u"toString"), true) : nullptr;
  if (!m || m->getSymbolType() != SYM_METHOD) return fail(vm, u"invalid argument type");
  MoxInterpreter* interp = vm->interpreter();
  if (!interp) return fail(vm, u"invalid argument type");
  // The object already lies on the top of the stack as the receiver; args is
  // the interpreter's own cursor, so after the send it is on the method's
  // result.
  // A toString that failed has said why; one more line per nested call
  // would bury that under thousands.
  if (!interp->send(0, u"toString")) return false;
  return result(args, argc, MoxValue(*args));
}

}  // namespace

bool MoxDefaultFunctions::Mox_newvector(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 0, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxVector* v;
  if (argc == 0) {
    v = new MoxVector();
  } else {
    int32_t n = static_cast<int32_t>(a[1]);
    bool filled = argc < 2 || static_cast<int32_t>(a[2]) != 0;
    unsigned count = n > 0 ? static_cast<unsigned>(n) : 0;
    if (!mox::blockFits(count, sizeof(MoxValue))) return fail(vm, u"not enough memory");
    // The slots come zeroed at once; the work is charged all the same.
    if (!work(vm, count)) return false;
    v = new MoxVector(count, filled);
  }
  return result(args, argc, MoxValue(v, false, false));
}

bool MoxDefaultFunctions::Mox_newstring(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, -1)) return false;
  ValPtr a = argBase(args, argc);
  const MoxValue& first = a[1];
  MoxString* s = nullptr;
  if (first.getType() == MVT_INTEGER) {
    if (argc > 2) return fail(vm, u"too many arguments");
    int32_t n = static_cast<int32_t>(first);
    MoxChar ch = argc == 2 ? static_cast<MoxChar>(static_cast<int32_t>(a[2]) & 0xFFFF) : u' ';
    if (n > 0 && !mox::blockFits(size_t(n) + 1, sizeof(MoxChar))) return fail(vm, u"not enough memory");
    // The text is filled in one go, in its own block: the work is charged
    // before it.
    if (n > 0 && ch && !work(vm, static_cast<uint64_t>(n))) return false;
    s = new MoxString();
    if (n > 0 && ch) s->insert(0, ch, static_cast<unsigned>(n));
  } else if (isBuffer(first)) {
    if (argc > 1) return fail(vm, u"too many arguments");
    s = new MoxString();
    MoxBuffer* b = static_cast<MoxBuffer*>(first);
    std::u16string text;
    if (b)
      for (unsigned i = 0; i < b->size() && (*b)[i]; ++i) text += static_cast<MoxChar>((*b)[i]);
    *s = MoxString(text.c_str());
  } else if (isCharBuffer(first)) {
    if (argc > 1) return fail(vm, u"too many arguments");
    MoxCharBuffer* b = static_cast<MoxCharBuffer*>(first);
    std::u16string text;
    if (b)
      for (unsigned i = 0; i < b->size() && (*b)[i]; ++i) text += (*b)[i];
    s = new MoxString(text.c_str());
  } else if (isString(first)) {
    MoxString* src = static_cast<MoxString*>(first);
    if (argc == 1) {
      s = src ? new MoxString(*src) : new MoxString();
    } else {
      ValPtr rest(a);
      rest += 2;
      if (!formatFits(vm, src, argc - 1, rest)) return false;
      s = new MoxString(src ? src->c_str() : u"", static_cast<unsigned>(argc - 1), rest);
    }
  } else {
    return fail(vm, u"invalid value type");
  }
  return result(args, argc, newStringValue(s));
}

bool MoxDefaultFunctions::Mox_newbuffer(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 2)) return false;
  ValPtr a = argBase(args, argc);
  const MoxValue& first = a[1];
  MoxBuffer* b = nullptr;
  if (first.getType() == MVT_INTEGER) {
    int32_t n = static_cast<int32_t>(first);
    unsigned char fill = argc == 2 ? static_cast<unsigned char>(static_cast<int32_t>(a[2]) & 0xFF) : 0;
    const unsigned count = n > 0 ? static_cast<unsigned>(n) : 0;
    if (!mox::blockFits(count, 1)) return fail(vm, u"not enough memory");
    b = new MoxBuffer(count);
    MoxValue made(b, false);
    if (!inChunks(vm, count, [b, fill](unsigned k) { b->appendFill(k, fill); })) return false;
    return result(args, argc, made);
  } else if (isBuffer(first)) {
    MoxBuffer* src = static_cast<MoxBuffer*>(first);
    b = src ? new MoxBuffer(*src) : new MoxBuffer();
  } else if (isCharBuffer(first)) {
    MoxCharBuffer* src = static_cast<MoxCharBuffer*>(first);
    b = new MoxBuffer(src ? src->size() : 0);
    if (src)
      for (unsigned i = 0; i < src->size(); ++i) b->push_back(static_cast<unsigned char>((*src)[i] & 0xFF));
  } else if (isString(first)) {
    MoxString* src = static_cast<MoxString*>(first);
    if (src) {
      b = new MoxBuffer(src->length() + 2);
      for (unsigned i = 0; i < src->length(); ++i) b->push_back(static_cast<unsigned char>((*src)[i] & 0xFF));
      b->push_back(0);
      b->push_back(0);
    } else {
      b = new MoxBuffer();
    }
  } else {
    return fail(vm, u"invalid value type");
  }
  return result(args, argc, MoxValue(b, false));
}

bool MoxDefaultFunctions::Mox_newcbuffer(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 2)) return false;
  ValPtr a = argBase(args, argc);
  const MoxValue& first = a[1];
  MoxCharBuffer* b = nullptr;
  if (first.getType() == MVT_INTEGER) {
    int32_t n = static_cast<int32_t>(first);
    MoxChar fill = argc == 2 ? static_cast<MoxChar>(static_cast<int32_t>(a[2]) & 0xFFFF) : 0;
    const unsigned count = n > 0 ? static_cast<unsigned>(n) : 0;
    if (!mox::blockFits(count, sizeof(MoxChar))) return fail(vm, u"not enough memory");
    b = new MoxCharBuffer(count);
    MoxValue made(b, false);
    if (!inChunks(vm, count, [b, fill](unsigned k) { b->appendFill(k, fill); })) return false;
    return result(args, argc, made);
  } else if (isBuffer(first)) {
    MoxBuffer* src = static_cast<MoxBuffer*>(first);
    b = new MoxCharBuffer(src ? src->size() : 0);
    if (src)
      for (unsigned i = 0; i < src->size(); ++i) b->push_back(static_cast<MoxChar>((*src)[i]));
  } else if (isCharBuffer(first)) {
    MoxCharBuffer* src = static_cast<MoxCharBuffer*>(first);
    b = src ? new MoxCharBuffer(*src) : new MoxCharBuffer();
  } else if (isString(first)) {
    MoxString* src = static_cast<MoxString*>(first);
    if (src) {
      b = new MoxCharBuffer(src->length() + 2);
      for (unsigned i = 0; i < src->length(); ++i) b->push_back((*src)[i]);
      b->push_back(0);
      b->push_back(0);
    } else {
      b = new MoxCharBuffer();
    }
  } else {
    return fail(vm, u"invalid argument type");
  }
  return result(args, argc, MoxValue(b, false));
}

bool MoxDefaultFunctions::Mox_newdict(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 0, 1)) return false;
  bool sorted = argc == 1 && static_cast<int32_t>(*args) != 0;
  return result(args, argc, MoxValue(new MoxDictionary(sorted), false));
}

bool MoxDefaultFunctions::Mox_T(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 0, -1)) return false;
  ValPtr a = argBase(args, argc);
  MoxVector* v = new MoxVector(static_cast<unsigned>(argc), false);
  for (int i = 1; i <= argc; ++i) v->push_back(a[i]);
  return result(args, argc, MoxValue(v, false, false));
}

bool MoxDefaultFunctions::Mox_CBuf(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 0, -1)) return false;
  ValPtr a = argBase(args, argc);
  MoxCharBuffer* b = new MoxCharBuffer(static_cast<unsigned>(argc));
  for (int i = 1; i <= argc; ++i) {
    const MoxValue& v = a[i];
    if (v.getType() == MVT_INTEGER) {
      b->push_back(static_cast<MoxChar>(static_cast<int32_t>(v) & 0xFFFF));
    } else if (isBuffer(v)) {
      if (MoxBuffer* src = static_cast<MoxBuffer*>(v))
        for (unsigned k = 0; k < src->size(); ++k) b->push_back(static_cast<MoxChar>((*src)[k]));
    } else if (isCharBuffer(v)) {
      if (MoxCharBuffer* src = static_cast<MoxCharBuffer*>(v))
        for (unsigned k = 0; k < src->size(); ++k) b->push_back((*src)[k]);
    } else if (isString(v)) {
      if (MoxString* src = static_cast<MoxString*>(v))
        for (unsigned k = 0; k < src->length(); ++k) b->push_back((*src)[k]);
    }
  }
  return result(args, argc, MoxValue(b, false));
}

bool MoxDefaultFunctions::Mox_int(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  const MoxValue& v = *args;
  int32_t n = 0;
  switch (v.getType()) {
    case MVT_STRING:
    case MVT_STRINGREF:
      n = textToLong(static_cast<MoxString*>(v));
      break;
    case MVT_INTEGER:
    case MVT_FLOAT:
    case MVT_DOUBLE:
      n = static_cast<int32_t>(v);
      break;
    case MVT_BUFFER:
    case MVT_BUFFERREF: {
      MoxBuffer* b = static_cast<MoxBuffer*>(v);
      if (b && b->size() == 2)
        n = static_cast<int16_t>(b->getW(0));
      else if (b && b->size() == 4)
        n = static_cast<int32_t>(b->getDW(0));
      else
        return fail(vm, u"invalid argument type");
      break;
    }
    default:
      return fail(vm, u"invalid argument type");
  }
  return result(args, argc, MoxValue(n));
}

namespace {

// Shared by "float" and "double": the argument as a double, or false after
// reporting the failure.
bool numberArgument(MoxVirtualMachine* vm, const MoxValue& v, bool asFloat, double& out) {
  switch (v.getType()) {
    case MVT_STRING:
    case MVT_STRINGREF: {
      MoxString* s = static_cast<MoxString*>(v);
      if (scanDouble(s, out) == 0) return fail(vm, u"invalid argument format: ", s ? s->c_str() : u"");
      return true;
    }
    case MVT_INTEGER:
    case MVT_FLOAT:
    case MVT_DOUBLE:
      out = asFloat ? static_cast<double>(static_cast<float>(v)) : static_cast<double>(v);
      return true;
    case MVT_BUFFER:
    case MVT_BUFFERREF: {
      MoxBuffer* b = static_cast<MoxBuffer*>(v);
      if (b && b->size() == 4) {
        float f;
        memcpy(&f, b->data(), 4);
        out = f;
        return true;
      }
      if (b && b->size() == 8) {
        double d;
        memcpy(&d, b->data(), 8);
        out = d;
        return true;
      }
      return fail(vm, u"invalid argument type");
    }
    default:
      return fail(vm, u"invalid argument type");
  }
}

}  // namespace

bool MoxDefaultFunctions::Mox_float(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  double d;
  if (!numberArgument(vm, *args, true, d)) return false;
  return result(args, argc, MoxValue(static_cast<float>(d)));
}

bool MoxDefaultFunctions::Mox_double(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  double d;
  if (!numberArgument(vm, *args, false, d)) return false;
  return result(args, argc, MoxValue(d));
}

bool MoxDefaultFunctions::Mox_string(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  const MoxValue& v = *args;
  switch (v.getType()) {
    case MVT_INTEGER: {
      MoxChar text[kMoxIntTextUnits];
      const unsigned len = moxIntText(v.asInt(), text);
      return result(args, argc, newStringValue(MoxString::create(text, len)));
    }
    case MVT_FLOAT:
    case MVT_DOUBLE:
      // The text is formed at its full length: large magnitudes are never cut.
      return result(args, argc, newStringValue(new MoxString(MoxString::format(u"%f", static_cast<double>(v)))));
    case MVT_STRING:
    case MVT_STRINGREF:
      return result(args, argc, v);
    case MVT_CHARBUFFER:
    case MVT_CHARBUFFERREF: {
      MoxCharBuffer* b = static_cast<MoxCharBuffer*>(v);
      std::u16string text;
      if (b)
        for (unsigned i = 0; i < b->size() && (*b)[i]; ++i) text += (*b)[i];
      return result(args, argc, newStringValue(new MoxString(text.c_str())));
    }
    case MVT_OBJECT:
    case MVT_OBJECTREF:
      return stringOfObject(vm, argc, args);
    default:
      return fail(vm, u"invalid argument type");
  }
}

bool MoxDefaultFunctions::Mox_buffer(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  const MoxValue& v = *args;
  MoxBuffer* b = nullptr;
  switch (v.getType()) {
    case MVT_INTEGER: {
      b = new MoxBuffer(4);
      b->push_backDW(static_cast<uint32_t>(static_cast<int32_t>(v)));
      break;
    }
    case MVT_FLOAT: {
      float f = static_cast<float>(v);
      uint32_t bits;
      memcpy(&bits, &f, 4);
      b = new MoxBuffer(4);
      b->push_backDW(bits);
      break;
    }
    case MVT_DOUBLE: {
      double d = static_cast<double>(v);
      unsigned char bytes[8];
      memcpy(bytes, &d, 8);
      b = new MoxBuffer(8);
      for (unsigned char c : bytes) b->push_back(c);
      break;
    }
    case MVT_BUFFER:
    case MVT_BUFFERREF:
      return result(args, argc, v);
    default:
      return fail(vm, u"invalid argument type");
  }
  return result(args, argc, MoxValue(b, false));
}

bool MoxDefaultFunctions::Mox_gettype(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  return result(args, argc, MoxValue(static_cast<int32_t>(args->getType())));
}

bool MoxDefaultFunctions::Mox_gettypename(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  if (args->getType() != MVT_INTEGER) return fail(vm, u"invalid argument type");
  const MoxChar* name = getValueTypeName(static_cast<MoxValueType>(static_cast<int32_t>(*args)));
  return result(args, argc, newStringValue(new MoxString(name ? name : u"")));
}

bool MoxDefaultFunctions::Mox_getclassname(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  if (!isObject(*args)) return fail(vm, u"invalid argument type");
  MoxObject* obj = static_cast<MoxObject*>(*args);
  MoxClass* cls = obj ? obj->getClass() : nullptr;
  MoxString* name = cls ? cls->getClassName() : nullptr;
  if (!name) return resultNull(args, argc);
  return result(args, argc, MoxValue(name, false));
}

bool MoxDefaultFunctions::Mox_dynamic_cast(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  const MoxValue& k = a[1];
  MoxClass* cls = nullptr;
  if (k.getType() == MVT_CLASS || k.getType() == MVT_CLASSREF) {
    cls = static_cast<MoxClass*>(k);
  } else if (isString(k)) {
    MoxString* name = static_cast<MoxString*>(k);
    MoxDictionaryEntry* e = name ? vm->classes().find(*name) : nullptr;
    if (e) cls = static_cast<MoxClass*>(e->getValue());
  }
  if (!cls) return fail(vm, u"first argument is not a class");
  const MoxValue& x = a[2];
  MoxObject* obj = isObject(x) ? static_cast<MoxObject*>(x) : nullptr;
  MoxClass* objClass = obj ? obj->getClass() : nullptr;
  if (objClass && objClass->isSubtypeOf(cls)) return result(args, argc, x);
  return resultNull(args, argc);
}
