// The Struct class of the plug-in.
#include "plugin/MoxStructClass.h"

#include <cstring>

#include "core/MoxBuffer.h"
#include "core/MoxDictionary.h"
#include "plugin/MoxPluginSupport.h"

using namespace moxplugin;

namespace {

const MoxString& dataMember() {
  static const MoxString name(u"_data");
  return name;
}

const MoxString& dictMember() {
  static const MoxString name(u"_dataDict");
  return name;
}

// The field kinds of the add methods.
enum FieldType {
  kInt,
  kIntPtr,
  kInt8,
  kInt16,
  kDouble,
  kDoublePtr,
  kFloat,
  kFloatPtr,
  kString,
  kCBuffer,
  kBuffer,
  kStruct
};

bool isPointer(FieldType t) {
  return t == kIntPtr || t == kDoublePtr || t == kFloatPtr || t >= kString;
}

// Bytes a field takes in "_data"; a pointer holds a whole 64-bit address.
unsigned int widthOf(FieldType t) {
  switch (t) {
    case kInt8:
      return 1;
    case kInt16:
      return 2;
    case kInt:
    case kFloat:
      return 4;
    default:
      return 8;
  }
}

// The value a field of type t stores, made from argument 3 (the value). The
// numeric kinds convert without a type check; the others check the kind.
bool fieldValue(MoxVirtualMachine* vm, ValPtr& args, int argc, FieldType t, MoxObject* self,
                MoxValue& out) {
  MoxInterpreter* interp = vm->interpreter();
  const MoxValue& v = arg(args, argc, 3);
  switch (t) {
    case kInt:
    case kIntPtr:
      out = MoxValue(int32_t(v));
      return true;
    case kInt8:
      out = MoxValue(int32_t(int8_t(uint8_t(uint32_t(int32_t(v))))));
      return true;
    case kInt16:
      out = MoxValue(int32_t(int16_t(uint16_t(uint32_t(int32_t(v))))));
      return true;
    case kFloat:
    case kFloatPtr:
      out = MoxValue(float(v));
      return true;
    case kDouble:
    case kDoublePtr:
      out = MoxValue(double(v));
      return true;
    case kString: {
      // The field keeps its own copy: the address native code receives stays
      // valid however the script later edits or drops the text it passed.
      MoxString text;
      if (!textArg(vm, args, argc, 3, text)) return false;
      out = MoxValue(new MoxString(text), false);
      return true;
    }
    case kCBuffer:
      if (!interp->checkType(v, MVT_CHARBUFFER)) return false;
      out = MoxValue(static_cast<MoxCharBuffer*>(v), false);
      return true;
    case kBuffer:
      if (!interp->checkType(v, MVT_BUFFER)) return false;
      out = MoxValue(static_cast<MoxBuffer*>(v), false);
      return true;
    case kStruct: {
      if (!interp->checkType(v, MVT_OBJECT)) return false;
      MoxObject* other = static_cast<MoxObject*>(v);
      MoxClass* cls = other ? other->getClass() : nullptr;
      if (!cls || !cls->isSubtypeOf(self->getClass())) {
        MoxString* name = cls ? cls->getClassName() : nullptr;
        return moxstd::fail(vm, u"Object is not of type Struct: ", name ? name->c_str() : u"");
      }
      out = MoxValue(other, false);
      return true;
    }
  }
  return false;
}

// The address a pointer field holds: the payload of a number, the data of a
// string or buffer, the bytes of a nested structure.
void* fieldAddress(FieldType t, MoxValue& stored) {
  if (t != kStruct) return stored.addr();
  MoxValue* data = memberSlot(static_cast<MoxObject*>(stored.getRef()), dataMember());
  return data ? data->addr() : nullptr;
}

// The little-endian bytes of an inline field.
uint64_t inlineBits(FieldType t, const MoxValue& v) {
  if (t == kFloat) {
    float f = v.asFloat();
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    return bits;
  }
  if (t == kDouble) {
    double d = v.asDouble();
    uint64_t bits;
    memcpy(&bits, &d, sizeof bits);
    return bits;
  }
  return uint32_t(v.asInt());
}

void writeBytes(MoxBuffer& buf, unsigned int at, uint64_t bits, unsigned int width) {
  for (unsigned int i = 0; i < width; ++i) buf[at + i] = uint8_t(bits >> (8 * i));
}

// The receiver, the script argument count and the members a method needs,
// checked in that order. The holders keep the members alive while script
// code (a name's "toString") runs.
struct StructCall {
  MoxObject* self = nullptr;
  MoxDictionary* dict = nullptr;
  MoxBuffer* data = nullptr;
  MoxValue selfHolder;
  MoxValue dictHolder;
  MoxValue dataHolder;
};

bool begin(MoxVirtualMachine* vm, int argc, ValPtr& args, int min, int max, bool needDict,
           bool needData, StructCall& call) {
  call.self = receiver(vm, argc, args);
  if (!call.self) return false;
  call.selfHolder = arg(args, argc, 1);
  if (!moxstd::checkCount(vm, scriptArgs(argc), min, max)) return false;
  if (needDict) {
    call.dict = static_cast<MoxDictionary*>(
        memberOfKind(vm, call.self, dictMember(), MVT_DICTIONARY, call.dictHolder));
    if (!call.dict) return false;
  }
  if (needData) {
    call.data = static_cast<MoxBuffer*>(
        memberOfKind(vm, call.self, dataMember(), MVT_BUFFER, call.dataHolder));
    if (!call.data) return false;
  }
  return true;
}

bool alreadyDefined(MoxVirtualMachine* vm, const MoxString& name) {
  return moxstd::fail(vm, u"Struct member already defined: ", name.c_str());
}

bool addField(MoxVirtualMachine* vm, int argc, ValPtr& args, FieldType type) {
  StructCall call;
  if (!begin(vm, argc, args, 2, 3, true, true, call)) return false;
  MoxString name;
  if (!textArg(vm, args, argc, 2, name)) return false;
  if (call.dict->find(name)) return alreadyDefined(vm, name);
  int32_t offset = -1;
  if (scriptArgs(argc) == 3 && !intArg(vm, args, argc, 4, offset)) return false;
  MoxValue value;
  if (!fieldValue(vm, args, argc, type, call.self, value)) return false;
  // A "toString" run for the value may have added the name meanwhile.
  if (call.dict->find(name)) return alreadyDefined(vm, name);

  // Appended by default; an offset inside the bytes overlays what is there.
  MoxBuffer& data = *call.data;
  const unsigned int size = data.size();
  const unsigned int at = (offset < 0 || uint32_t(offset) > size) ? size : uint32_t(offset);
  const unsigned int width = widthOf(type);
  while (data.size() < at + width) data.push_back(0);

  MoxVector* entry = new MoxVector(4, false);
  (*call.dict)[name].setValue(MoxValue(entry));
  entry->push_back(MoxValue(int32_t(at)));
  entry->push_back(value);
  MoxValue& stored = (*entry)[1];
  if (isPointer(type))
    writeBytes(data, at, uint64_t(reinterpret_cast<uintptr_t>(fieldAddress(type, stored))), width);
  else
    writeBytes(data, at, inlineBits(type, stored), width);
  entry->push_back(MoxValue(int32_t(width)));
  entry->push_back(MoxValue(int32_t(isPointer(type) ? 1 : 0)));
  return moxstd::result(args, argc, MoxValue(int32_t(at)));
}

// Reads an inline field back from the bytes into its stored value, the way
// the add method made it (small integers sign-extended). Entries that no
// longer fit the bytes, or whose value no longer matches their size, are
// left alone.
void refreshInline(const MoxBuffer& data, MoxVector& entry) {
  const int32_t at = entry[0].asInt();
  const int32_t size = entry[2].asInt();
  if (entry[0].type() != MVT_INTEGER || entry[2].type() != MVT_INTEGER) return;
  if (at < 0 || size <= 0 || size > 8 || uint64_t(at) + uint64_t(size) > data.size()) return;
  uint64_t bits = 0;
  for (int32_t i = 0; i < size; ++i) bits |= uint64_t(data[uint32_t(at + i)]) << (8 * i);
  MoxValue& stored = entry[1];
  switch (stored.type()) {
    case MVT_INTEGER:
      if (size == 1) stored = MoxValue(int32_t(int8_t(uint8_t(bits))));
      if (size == 2) stored = MoxValue(int32_t(int16_t(uint16_t(bits))));
      if (size == 4) stored = MoxValue(int32_t(uint32_t(bits)));
      break;
    case MVT_FLOAT:
      if (size == 4) {
        float f;
        const uint32_t b = uint32_t(bits);
        memcpy(&f, &b, sizeof f);
        stored = MoxValue(f);
      }
      break;
    case MVT_DOUBLE:
      if (size == 8) {
        double d;
        memcpy(&d, &bits, sizeof d);
        stored = MoxValue(d);
      }
      break;
    default:
      break;
  }
}

}  // namespace

bool MoxStructClass::Mox_Struct(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StructCall call;
  if (!begin(vm, argc, args, 0, 0, false, false, call)) return false;
  MoxValue* dict = memberSlot(call.self, dictMember());
  MoxValue* data = memberSlot(call.self, dataMember());
  if (!dict) return vm->interpreter()->badType(MVT_NULL, MVT_DICTIONARY);
  if (!data) return vm->interpreter()->badType(MVT_NULL, MVT_BUFFER);
  *dict = MoxValue(new MoxDictionary(false), false);
  *data = MoxValue(new MoxBuffer(), false);
  return resultSelf(args, argc);
}

bool MoxStructClass::Mox_addInt(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return addField(vm, argc, args, kInt);
}
bool MoxStructClass::Mox_addIntPtr(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return addField(vm, argc, args, kIntPtr);
}
bool MoxStructClass::Mox_addInt8(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return addField(vm, argc, args, kInt8);
}
bool MoxStructClass::Mox_addInt16(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return addField(vm, argc, args, kInt16);
}
bool MoxStructClass::Mox_addDouble(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return addField(vm, argc, args, kDouble);
}
bool MoxStructClass::Mox_addDoublePtr(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return addField(vm, argc, args, kDoublePtr);
}
bool MoxStructClass::Mox_addFloat(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return addField(vm, argc, args, kFloat);
}
bool MoxStructClass::Mox_addFloatPtr(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return addField(vm, argc, args, kFloatPtr);
}
bool MoxStructClass::Mox_addString(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return addField(vm, argc, args, kString);
}
bool MoxStructClass::Mox_addCBuffer(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return addField(vm, argc, args, kCBuffer);
}
bool MoxStructClass::Mox_addBuffer(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return addField(vm, argc, args, kBuffer);
}
bool MoxStructClass::Mox_addStruct(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return addField(vm, argc, args, kStruct);
}

bool MoxStructClass::Mox_getValue(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StructCall call;
  if (!begin(vm, argc, args, 1, 1, true, false, call)) return false;
  MoxString name;
  if (!textArg(vm, args, argc, 2, name)) return false;
  MoxDictionaryEntry* entry = call.dict->find(name);
  if (!entry) return moxstd::fail(vm, u"Struct member not found: ", name.c_str());
  MoxVector* field = entry->getValue();
  MoxValue value = field && field->size() >= 2 ? (*field)[1] : MoxValue();
  return moxstd::result(args, argc, value);
}

bool MoxStructClass::Mox_getData(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StructCall call;
  if (!begin(vm, argc, args, 0, 0, false, true, call)) return false;
  return moxstd::result(args, argc, call.dataHolder);
}

bool MoxStructClass::Mox_update(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  StructCall call;
  if (!begin(vm, argc, args, 0, 0, true, true, call)) return false;
  // Pointer fields need nothing: native code wrote into their values.
  for (MoxDictionaryEntry* e = call.dict->getFirst(); e; e = e->getNext()) {
    MoxVector* field = e->getValue();
    if (!field || field->size() < 4) continue;
    const MoxValue& kind = (*field)[3];
    if (kind.type() == MVT_INTEGER && kind.asInt() == 0) refreshInline(*call.data, *field);
  }
  return resultSelf(args, argc);
}

bool MoxStructClass::registerClass(MoxVirtualMachine& vm) {
  static const MoxChar* const members[] = {u"_data", u"_dataDict"};
  static const MethodDef methods[] = {{u"Struct", Mox_Struct},
                                      {u"addInt", Mox_addInt},
                                      {u"addIntPtr", Mox_addIntPtr},
                                      {u"addInt8", Mox_addInt8},
                                      {u"addInt16", Mox_addInt16},
                                      {u"addDouble", Mox_addDouble},
                                      {u"addDoublePtr", Mox_addDoublePtr},
                                      {u"addFloat", Mox_addFloat},
                                      {u"addFloatPtr", Mox_addFloatPtr},
                                      {u"addString", Mox_addString},
                                      {u"addCBuffer", Mox_addCBuffer},
                                      {u"addBuffer", Mox_addBuffer},
                                      {u"addStruct", Mox_addStruct},
                                      {u"getValue", Mox_getValue},
                                      {u"getData", Mox_getData},
                                      {u"update", Mox_update}};
  return moxplugin::registerClass(vm, u"Struct", members, 2, methods,
                                  int(sizeof(methods) / sizeof(methods[0])));
}
