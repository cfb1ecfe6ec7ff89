// Module file writer: dictionary blocks and values in the layout described
// in MoxDictionaryIOState.h.
#include <cstring>

#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"
#include "modules/MoxDictionaryIO.h"
#include "modules/MoxDictionaryIOState.h"

bool MoxDictionaryIOState::writeObjectId(const void* p, bool* seen) {
  auto it = ids_.find(p);
  *seen = it != ids_.end();
  uint32_t id = *seen ? it->second : ++nextId_;
  if (!*seen) ids_.emplace(p, id);
  return writeInt(id);
}

bool MoxDictionaryIOState::writeUnits(const MoxChar* s, size_t n) {
  unsigned char buf[512];
  while (n) {
    size_t k = n < sizeof(buf) / 2 ? n : sizeof(buf) / 2;
    for (size_t i = 0; i < k; ++i) {
      buf[2 * i] = uint8_t(s[i]);
      buf[2 * i + 1] = uint8_t(s[i] >> 8);
    }
    if (!writeBytes(buf, 2 * k)) return false;
    s += k;
    n -= k;
  }
  return true;
}

bool MoxDictionaryIOState::writeString(const MoxChar* s) {
  if (!writeByte(kWrittenWidth)) return false;
  size_t n = 0;
  if (s)
    while (s[n]) ++n;
  static const MoxChar zero = 0;
  return writeUnits(s, n) && writeUnits(&zero, 1);
}

const MoxChar* MoxDictionaryIOState::findSymbolNameFromFuncPtr(const MoxValue& v) const {
  if (!v.ptr()) return u"";
  for (MoxDictionaryEntry* e = symbols_.getFirst(); e; e = e->getNext()) {
    const MoxValue& sv = e->getValue();
    bool sameKind = v.getType() == MVT_FILE ? sv.getType() == MVT_FILE
                                            : (sv.getType() == MVT_CODE || sv.getType() == MVT_CODEREF);
    if (sameKind && sv.ptr() == v.ptr() && e->getKey()) return e->getKey()->c_str();
  }
  return u"";
}

// "!S" and "!C" are the machine's symbols and classes; "m!NAME" and
// "f!NAME" the data and method members of class NAME.
MoxString MoxDictionaryIOState::getDictionaryName(const MoxDictionary* d) const {
  if (!d) return MoxString();
  if (d == &symbols_) return MoxString(u"!S");
  if (d == &classes_) return MoxString(u"!C");
  MoxClass* owner = d->getOwner();
  if (!owner || !owner->getClassName()) return MoxString();
  MoxString name(d == owner->dataMembers() ? u"m!" : u"f!");
  name += *owner->getClassName();
  return name;
}

bool MoxDictionaryIOState::writeDictionary(MoxDictionary& dict, bool skipping) {
  if (!writeByte(dict.isSorted() ? 1 : 0)) return false;
  for (MoxDictionaryEntry* e = dict.getFirst(); e; e = e->getNext())
    if (!writeDictEntry(e, skipping)) return false;
  return writeString(u"");
}

bool MoxDictionaryIOState::writeDictEntry(MoxDictionaryEntry* e, bool skipping) {
  const MoxValue& v = e->getValue();
  // The reading machine registers its own native functions, and native
  // classes come back with the native module listed in the first block.
  if (skipping && v.getType() == MVT_CODE && e->getSymbolType() == SYM_FUNCTION) return true;
  MoxClass* cls = v;
  if (cls && cls->getIsNative()) return true;
  // An empty key would read back as the block's terminator.
  if (!e->getKey() || e->getKey()->empty()) return true;
  if (writeString(e->getKey()->c_str()) && writeInt(uint32_t(e->getSymbolType())) &&
      writeValue(v, false))
    return true;
  printer_(u"error while writing dictionary entry %s\n", e->getKey()->c_str());
  return false;
}

bool MoxDictionaryIOState::writeValue(const MoxValue& v, bool insideContainer) {
  DepthGuard guard(depth_);
  if (depth_ > MoxDictionaryIO::kMaxDepth) return fail(u"values nested too deeply to write\n");
  MoxValueType t = v.getType();
  if (uint32_t(t) >= uint32_t(MVT_COUNT)) return fail(u"cannot write a value of unknown type\n");
  if (!writeInt(uint32_t(t))) return false;
  if (family(t) && !v.getRef()) return fail(u"cannot write a value without its object\n");
  switch (t) {
    case MVT_INTEGER: return writeInt(uint32_t(v.asInt()));
    case MVT_FLOAT: return writeFloatValue(v);
    case MVT_DOUBLE: return writeDoubleValue(v);
    case MVT_FILE: case MVT_CODE: return writeString(findSymbolNameFromFuncPtr(v));
    case MVT_BYTECODE: case MVT_VECTOR: case MVT_BYTECODEREF: case MVT_VECTORREF:
      return writeVectorValue(v);
    case MVT_BUFFER: case MVT_BUFFERREF: return writeBufferValue(v);
    case MVT_CHARBUFFER: case MVT_CHARBUFFERREF: return writeCharBufferValue(v);
    case MVT_CLASS: case MVT_CLASSREF: return writeClassValue(v, insideContainer);
    case MVT_OBJECT: case MVT_OBJECTREF: return writeObjectValue(v);
    case MVT_STRING: case MVT_STRINGREF: return writeStringValue(v);
    case MVT_DICTIONARY: case MVT_DICTIONARYREF: return writeDictionaryValue(v);
    case MVT_VAR: return writeVarValue(v);
    default: return true;  // MVT_NULL, MVT_CODEREF: no payload
  }
}

bool MoxDictionaryIOState::writeFloatValue(const MoxValue& v) {
  float f = v.asFloat();
  uint32_t bits;
  memcpy(&bits, &f, 4);
  return writeInt(bits);
}

bool MoxDictionaryIOState::writeDoubleValue(const MoxValue& v) {
  double d = v.asDouble();
  uint64_t bits;
  memcpy(&bits, &d, 8);
  return writeInt(uint32_t(bits)) && writeInt(uint32_t(bits >> 32));
}

bool MoxDictionaryIOState::writeVectorValue(const MoxValue& v) {
  MoxVector* vec = v;
  bool seen;
  if (!writeObjectId(vec, &seen)) return false;
  if (seen) return writeInt(kBackRefCount);
  unsigned n = vec->size();
  if (!writeInt(n)) return false;
  for (unsigned i = 0; i < n && i < vec->size(); ++i)
    if (!writeValue((*vec)[i], true)) return false;
  return true;
}

bool MoxDictionaryIOState::writeBufferValue(const MoxValue& v) {
  MoxBuffer* b = v;
  bool seen;
  if (!writeObjectId(b, &seen)) return false;
  if (seen) return writeInt(kBackRefCount);
  return writeInt(b->size()) && writeBytes(b->data(), b->size());
}

bool MoxDictionaryIOState::writeCharBufferValue(const MoxValue& v) {
  MoxCharBuffer* b = v;
  bool seen;
  if (!writeObjectId(b, &seen)) return false;
  if (seen) return writeInt(kBackRefCount);
  return writeInt(b->size()) && writeByte(kWrittenWidth) && writeUnits(b->data(), b->size());
}

bool MoxDictionaryIOState::writeStringValue(const MoxValue& v) {
  MoxString* s = v;
  bool seen;
  if (!writeObjectId(s, &seen)) return false;
  if (seen) return writeByte(kBackRefMark);
  return writeString(s->c_str());
}

bool MoxDictionaryIOState::writeDictionaryValue(const MoxValue& v) {
  MoxDictionary* d = v;
  bool seen;
  if (!writeObjectId(d, &seen)) return false;
  if (seen) return writeByte(kBackRefMark);
  return writeDictionary(*d, false);
}

bool MoxDictionaryIOState::writeClassValue(const MoxValue& v, bool insideContainer) {
  MoxClass* cls = v;
  if (!cls) return fail(u"cannot write a class value without its class\n");
  const MoxChar* name = cls->getClassName() ? cls->getClassName()->c_str() : u"";
  if (!*name) return fail(u"cannot write a class without a name\n");
  if (!writeString(name)) return false;
  // Native classes are never defined in a file: the reader binds them by
  // name once their module is loaded.
  if (insideContainer || cls->getIsNative() || classesWritten_.count(cls)) return writeString(u"$");
  classesWritten_.insert(cls);
  MoxClass* base = cls->getBaseClass();
  const MoxChar* baseName = (base && base->getClassName()) ? base->getClassName()->c_str() : u"";
  return writeString(baseName) && writeDictionary(*cls->dataMembers(), false) &&
         writeDictionary(*cls->funcMembers(), false) && writeInt(uint32_t(cls->getDataSize()));
}

bool MoxDictionaryIOState::writeObjectValue(const MoxValue& v) {
  MoxObject* obj = v;
  bool seen;
  if (!writeObjectId(obj, &seen)) return false;
  if (seen) return writeString(u"$");
  MoxClass* cls = obj->getClass();
  MoxVector* data = obj->getMemberData();
  if (!cls || !cls->getClassName() || cls->getClassName()->empty())
    return fail(u"cannot write an object without a named class\n");
  if (!writeString(cls->getClassName()->c_str())) return false;
  // The reader takes the member count from the class, so exactly that many
  // values follow: missing slots (an object made before its class grew) are
  // written as null.
  int32_t n = cls->getDataSize();
  static const MoxValue nullValue;
  for (int32_t i = 1; i <= n; ++i) {
    const MoxValue& m = (data && unsigned(i) < data->size()) ? (*data)[unsigned(i)] : nullValue;
    if (!writeValue(m, true)) return false;
  }
  return true;
}

// A variable is written as where it lives; the reader binds it to that
// entry once every dictionary has been read.
bool MoxDictionaryIOState::writeVarValue(const MoxValue& v) {
  MoxDictionaryEntry* e = v;
  MoxString dictName = e ? getDictionaryName(e->getDictionary()) : MoxString();
  const MoxChar* key = (e && e->getKey()) ? e->getKey()->c_str() : u"";
  return writeString(dictName.c_str()) && writeString(key);
}
