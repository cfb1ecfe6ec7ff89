// The String class of the plug-in.
#include "plugin/MoxStringClass.h"

#include <cstring>

#include "core/MoxBuffer.h"
#include "plugin/MoxPluginSupport.h"

using namespace moxplugin;

namespace {

const MoxString& strMember() {
  static const MoxString name(u"_str");
  return name;
}

// What every method but the constructor resolves first. The holders keep the
// receiver and its string alive while script code (an argument's "toString")
// runs and might replace "_str".
struct StringCall {
  MoxObject* self = nullptr;
  MoxString* str = nullptr;
  MoxValue selfHolder;
  MoxValue strHolder;
};

// The receiver, the script argument count (min to max) and the string in
// "_str", checked in that order.
bool begin(MoxVirtualMachine* vm, int argc, ValPtr& args, int min, int max, StringCall& call) {
  call.self = receiver(vm, argc, args);
  if (!call.self) return false;
  call.selfHolder = arg(args, argc, 1);
  if (!moxstd::checkCount(vm, scriptArgs(argc), min, max)) return false;
  call.str =
      static_cast<MoxString*>(memberOfKind(vm, call.self, strMember(), MVT_STRING, call.strHolder));
  return call.str != nullptr;
}

MoxChar unitOf(const MoxValue& v) { return MoxChar(uint32_t(v.asInt()) & 0xFFFFu); }

// Argument i as a text, or as the one unit an integer stands for.
bool textOrUnit(MoxVirtualMachine* vm, ValPtr& args, int argc, int i, MoxString& out) {
  const MoxValue& v = arg(args, argc, i);
  if (v.type() != MVT_INTEGER) return textArg(vm, args, argc, i, out);
  out = MoxString();
  out += unitOf(v);
  return true;
}

// A new object of the receiver's own class (derived classes stay derived)
// holding text, stored as the result.
bool resultNewString(ValPtr& args, int argc, MoxObject* self, MoxString* text) {
  MoxValue textValue(text, false);
  MoxValue object(MoxObject::create(self->getClass()), false);
  MoxValue* slot = memberSlot(static_cast<MoxObject*>(object.getRef()), strMember());
  if (slot) *slot = textValue;
  return moxstd::result(args, argc, object);
}

bool add(MoxVirtualMachine* vm, int argc, ValPtr& args, bool inFront) {
  StringCall call;
  if (!begin(vm, argc, args, 1, 1, call)) return false;
  MoxString other;
  if (!textOrUnit(vm, args, argc, 2, other)) return false;
  MoxString* text = new MoxString(inFront ? other : *call.str);
  *text += inFront ? *call.str : other;
  return resultNewString(args, argc, call.self, text);
}

// "compare" and "icompare" report a missing text with the kind of "_str".
bool compareWith(MoxVirtualMachine* vm, int argc, ValPtr& args, bool ignoreCase) {
  StringCall call;
  if (!begin(vm, argc, args, 1, 1, call)) return false;
  MoxInterpreter* interp = vm->interpreter();
  MoxString* other = interp->getStringFromValue(arg(args, argc, 2));
  if (!other) return interp->badType(call.strHolder.type(), MVT_STRING);
  const int c = ignoreCase ? call.str->icompare(*other) : call.str->compare(*other);
  return moxstd::result(args, argc, MoxValue(int32_t(c)));
}

// The index of "OP_VREF" and "OP_VSET", checked against the length.
bool subscript(MoxVirtualMachine* vm, const MoxString& str, int32_t index) {
  if (index >= 0 && uint32_t(index) < str.length()) return true;
  return moxstd::fail(vm, u"subscript out of range");
}

}  // namespace

bool MoxStringClass::Mox_String(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  MoxObject* self = receiver(vm, argc, args);
  if (!self) return false;
  MoxValue selfHolder(arg(args, argc, 1));
  const int n = scriptArgs(argc);
  MoxString* text = new MoxString();
  MoxValue textValue(text, false);
  if (n == 1) {
    if (!textArg(vm, args, argc, 2, *text)) return false;
  } else if (n > 1) {
    MoxString format;
    if (!textArg(vm, args, argc, 2, format)) return false;
    ValPtr values(args.vector(), args.current() - argc + 3);
    *text = MoxString(format.c_str(), unsigned(n - 1), values);
  }
  MoxValue* slot = memberSlot(self, strMember());
  if (!slot) return vm->interpreter()->badType(MVT_NULL, MVT_STRING);
  *slot = textValue;
  return resultSelf(args, argc);
}

bool MoxStringClass::Mox_OP_ADD(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return add(vm, argc, args, false);
}

bool MoxStringClass::Mox_OP_ADD_R(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return add(vm, argc, args, true);
}

bool MoxStringClass::Mox_OP_VREF(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  int32_t index = 0;
  if (!begin(vm, argc, args, 1, 1, call) || !intArg(vm, args, argc, 2, index)) return false;
  if (!subscript(vm, *call.str, index)) return false;
  return moxstd::result(args, argc, MoxValue(int32_t((*call.str)[uint32_t(index)])));
}

bool MoxStringClass::Mox_OP_VSET(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  int32_t index = 0, unit = 0;
  if (!begin(vm, argc, args, 2, 2, call) || !intArg(vm, args, argc, 2, index) ||
      !intArg(vm, args, argc, 3, unit))
    return false;
  if (!subscript(vm, *call.str, index)) return false;
  const MoxChar ch = MoxChar(uint32_t(unit) & 0xFFFFu);
  // A zero unit ends the text there; the block stays exactly sized.
  if (ch == 0)
    *call.str = call.str->substr(0, index);
  else
    (*call.str)[uint32_t(index)] = ch;
  return moxstd::resultNull(args, argc);
}

bool MoxStringClass::Mox_compare(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return compareWith(vm, argc, args, false);
}

bool MoxStringClass::Mox_icompare(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return compareWith(vm, argc, args, true);
}

bool MoxStringClass::Mox_length(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  if (!begin(vm, argc, args, 0, 0, call)) return false;
  return moxstd::result(args, argc, MoxValue(int32_t(call.str->length())));
}

bool MoxStringClass::Mox_c_str(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  if (!begin(vm, argc, args, 0, 0, call)) return false;
  // Native code may write through the address: the string must re-measure.
  MoxValue text(call.str, MVT_STRINGREF);
  const intptr_t address = reinterpret_cast<intptr_t>(text.addr());
  return moxstd::result(args, argc, MoxValue::fromInt64(int64_t(address)));
}

bool MoxStringClass::Mox_c_buf(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  if (!begin(vm, argc, args, 0, 0, call)) return false;
  const unsigned int len = call.str->length();
  MoxCharBuffer* buf = new MoxCharBuffer(len + 1);
  MoxValue value(buf, false);
  memcpy(buf->data(), call.str->c_str(), (len + 1) * sizeof(MoxChar));
  buf->adjustSize();
  return moxstd::result(args, argc, value);
}

bool MoxStringClass::Mox_a_buf(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  if (!begin(vm, argc, args, 0, 0, call)) return false;
  // UTF-8 may take more bytes than there are units: size by the encoding.
  const char* narrow = call.str->a_str();
  const unsigned int n = unsigned(strlen(narrow)) + 1;
  MoxBuffer* buf = new MoxBuffer(n);
  MoxValue value(buf, false);
  for (unsigned int i = 0; i < n; ++i) buf->push_back(uint8_t(narrow[i]));
  return moxstd::result(args, argc, value);
}

bool MoxStringClass::Mox_w_buf(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  if (!begin(vm, argc, args, 0, 0, call)) return false;
  const unsigned int n = call.str->length() + 1;
  MoxBuffer* buf = new MoxBuffer(n * 2);
  MoxValue value(buf, false);
  const MoxChar* text = call.str->c_str();
  for (unsigned int i = 0; i < n; ++i) buf->push_backW(uint16_t(text[i]));
  return moxstd::result(args, argc, value);
}

bool MoxStringClass::Mox_clear(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  if (!begin(vm, argc, args, 0, 0, call)) return false;
  call.str->clear();
  return moxstd::resultNull(args, argc);
}

bool MoxStringClass::Mox_substr(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  int32_t start = 0, count = -1;
  if (!begin(vm, argc, args, 1, 2, call) || !intArg(vm, args, argc, 2, start)) return false;
  if (scriptArgs(argc) == 2 && !intArg(vm, args, argc, 3, count)) return false;
  // A negative start lies past every end and gives the empty text.
  MoxString* text = new MoxString(call.str->substr(uint32_t(start), count));
  return resultNewString(args, argc, call.self, text);
}

bool MoxStringClass::Mox_find(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  if (!begin(vm, argc, args, 1, 2, call)) return false;
  const bool unitForm = arg(args, argc, 2).type() == MVT_INTEGER;
  const MoxChar unit = unitOf(arg(args, argc, 2));
  MoxString text;
  int32_t start = 0;
  if (!unitForm && !textArg(vm, args, argc, 2, text)) return false;
  if (scriptArgs(argc) == 2 && !intArg(vm, args, argc, 3, start)) return false;
  const int32_t at =
      unitForm ? call.str->find(unit, uint32_t(start)) : call.str->find(text, uint32_t(start));
  return moxstd::result(args, argc, MoxValue(at));
}

bool MoxStringClass::Mox_replace(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  if (!begin(vm, argc, args, 2, 2, call)) return false;
  if (arg(args, argc, 2).type() == MVT_INTEGER) {
    int32_t to = 0;
    if (!intArg(vm, args, argc, 3, to)) return false;
    call.str->replace(unitOf(arg(args, argc, 2)), MoxChar(uint32_t(to) & 0xFFFFu));
  } else {
    MoxString from, to;
    if (!textArg(vm, args, argc, 2, from) || !textArg(vm, args, argc, 3, to)) return false;
    call.str->replace(from, to);
  }
  return resultSelf(args, argc);
}

bool MoxStringClass::Mox_insert(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  int32_t pos = 0;
  if (!begin(vm, argc, args, 2, 3, call) || !intArg(vm, args, argc, 2, pos)) return false;
  const int n = scriptArgs(argc);
  if (arg(args, argc, 3).type() == MVT_INTEGER) {
    const MoxChar unit = unitOf(arg(args, argc, 3));
    int32_t count = 1;
    if (n == 3 && !intArg(vm, args, argc, 4, count)) return false;
    // Negative positions and counts are far out of range: nothing changes.
    call.str->insert(uint32_t(pos), unit, uint32_t(count));
  } else {
    MoxString text;
    if (!textArg(vm, args, argc, 3, text)) return false;
    if (n == 3) return moxstd::fail(vm, u"too many arguments");
    call.str->insert(uint32_t(pos), text);
  }
  return resultSelf(args, argc);
}

bool MoxStringClass::Mox_append(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  MoxString text;
  if (!begin(vm, argc, args, 1, 1, call) || !textOrUnit(vm, args, argc, 2, text)) return false;
  *call.str += text;
  return resultSelf(args, argc);
}

bool MoxStringClass::Mox_toString(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StringCall call;
  if (!begin(vm, argc, args, 0, 0, call)) return false;
  return moxstd::result(args, argc, MoxValue(new MoxString(*call.str), false));
}

bool MoxStringClass::registerClass(MoxVirtualMachine& vm) {
  static const MoxChar* const members[] = {u"_str"};
  static const MethodDef methods[] = {
      {u"String", Mox_String},     {u"OP_ADD", Mox_OP_ADD},   {u"OP_ADD_R", Mox_OP_ADD_R},
      {u"OP_VREF", Mox_OP_VREF},   {u"OP_VSET", Mox_OP_VSET}, {u"compare", Mox_compare},
      {u"icompare", Mox_icompare}, {u"length", Mox_length},   {u"c_str", Mox_c_str},
      {u"c_buf", Mox_c_buf},       {u"a_buf", Mox_a_buf},     {u"w_buf", Mox_w_buf},
      {u"clear", Mox_clear},       {u"substr", Mox_substr},   {u"find", Mox_find},
      {u"replace", Mox_replace},   {u"insert", Mox_insert},   {u"append", Mox_append},
      {u"toString", Mox_toString}};
  return moxplugin::registerClass(vm, u"String", members, 1, methods,
                                  int(sizeof(methods) / sizeof(methods[0])));
}
