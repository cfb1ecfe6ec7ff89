// Module file reader: the layout is described in MoxDictionaryIOState.h.
//
// Reading defends against hostile files: counts are checked against the
// bytes left before anything is allocated (and containers still grow only
// as their elements actually arrive, so streams of unknown length are safe
// too), nesting is bounded, and every inconsistency fails the read with one
// message.
#include <cstring>

#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"
#include "modules/MoxDictionaryIO.h"
#include "modules/MoxDictionaryIOState.h"

bool MoxDictionaryIOState::readValue(Slot slot, bool insideContainer) {
  DepthGuard guard(depth_);
  if (depth_ > MoxDictionaryIO::kMaxDepth) {
    slot.get().dispose();
    return fail(u"values nested too deeply in module file\n");
  }
  int32_t t;
  bool typeRead = readInt(t);
  // A stream or native function is bound by name in the reading machine,
  // which may be the very entry being read ("stdout" = stdout): its value
  // is looked up before the slot is cleared.
  if (!typeRead || (t != MVT_FILE && t != MVT_CODE)) slot.get().dispose();
  if (!typeRead) return false;
  if (t < 0 || t >= MVT_COUNT) return failN(u"unknown value type %d in module file\n", t);
  MoxValueType type = MoxValueType(t);
  switch (type) {
    case MVT_INTEGER: return readIntegerValue(slot);
    case MVT_FLOAT: return readFloatValue(slot);
    case MVT_DOUBLE: return readDoubleValue(slot);
    case MVT_FILE: case MVT_CODE: return readNativeValue(slot, type);
    case MVT_BYTECODE: case MVT_VECTOR: case MVT_BYTECODEREF: case MVT_VECTORREF:
      return readVector(slot, type);
    case MVT_BUFFER: case MVT_BUFFERREF: return readBuffer(slot, type);
    case MVT_CHARBUFFER: case MVT_CHARBUFFERREF: return readCharBuffer(slot, type);
    case MVT_CLASS: case MVT_CLASSREF: return readClass(slot, type, insideContainer);
    case MVT_OBJECT: case MVT_OBJECTREF: return readObject(slot, type);
    case MVT_STRING: case MVT_STRINGREF: return readStringValue(slot, type);
    case MVT_DICTIONARY: case MVT_DICTIONARYREF: return readDictionaryValue(slot, type);
    case MVT_VAR: return readVarListEntry(slot);
    default: return true;  // MVT_NULL, MVT_CODEREF
  }
}

bool MoxDictionaryIOState::readIntegerValue(Slot slot) {
  int32_t v;
  if (!readInt(v)) return false;
  slot.get() = MoxValue(v);
  return true;
}

bool MoxDictionaryIOState::readFloatValue(Slot slot) {
  int32_t bits;
  if (!readInt(bits)) return false;
  float f;
  memcpy(&f, &bits, 4);
  slot.get() = MoxValue(f);
  return true;
}

bool MoxDictionaryIOState::readDoubleValue(Slot slot) {
  int32_t lo, hi;
  if (!readInt(lo) || !readInt(hi)) return false;
  uint64_t bits = uint64_t(uint32_t(lo)) | (uint64_t(uint32_t(hi)) << 32);
  double d;
  memcpy(&d, &bits, 8);
  slot.get() = MoxValue(d);
  return true;
}

// The slot may still hold the value being looked up (see readValue), so it
// is cleared only once the name is known.
bool MoxDictionaryIOState::readNativeValue(Slot slot, MoxValueType type) {
  MoxString name;
  if (!readString(name)) {
    slot.get().dispose();
    return false;
  }
  if (name.empty()) {
    slot.get().dispose();
    // A stream without a name is the null stream; a native function
    // without one cannot be called, so it reads as null.
    if (type == MVT_FILE) slot.get() = MoxValue(static_cast<void*>(nullptr));
    return true;
  }
  MoxDictionaryEntry* e = symbols_.find(name);
  MoxValue found = e ? e->getValue() : MoxValue();
  slot.get() = found;
  if (!e) return failS(u"native symbol %s not found\n", name.c_str());
  return true;
}

bool MoxDictionaryIOState::readInt(int32_t& v) {
  unsigned char b[4];
  if (!readBytes(b, 4)) return false;
  v = int32_t(uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) |
              (uint32_t(b[3]) << 24));
  return true;
}

bool MoxDictionaryIOState::readString(MoxString& s, bool& present, unsigned width) {
  s.clear();
  present = true;
  if (width == 0) {
    unsigned char w;
    if (!readBytes(&w, 1)) return false;
    width = w;
  }
  if (width == kBackRefMark) {
    present = false;
    return true;
  }
  if (width != 1 && width != 2) return failN(u"bad character width %d in module file\n", int32_t(width));
  // Units are collected in a growing buffer: a string costs memory only as
  // its bytes arrive.
  MoxCharBuffer units;
  for (;;) {
    unsigned char b[2] = {0, 0};
    if (!readBytes(b, width)) return false;
    MoxChar c = MoxChar(b[0] | (width == 2 ? b[1] << 8 : 0));
    if (c == 0) break;
    units.push_back(c);
  }
  s = MoxString(units.data(), units.size());
  return true;
}

bool MoxDictionaryIOState::readString(MoxString& s) {
  bool present;
  if (!readString(s, present)) return false;
  if (!present) return fail(u"misplaced back-reference mark in module file\n");
  return true;
}

bool MoxDictionaryIOState::readDictionary(MoxDictionary& dict, bool readFlag) {
  if (readFlag) {
    unsigned char flag;
    if (!in_.read(&flag, 1)) return fail(u"error reading dicionary (sorted flag)\n");
    // The order of an existing table is fixed when it is made: the machine's
    // tables and a class's member tables keep theirs.
    (void)flag;
  }
  for (;;) {
    int r = readDictEntry(dict);
    if (r < 0) return false;
    if (r == 0) return true;
  }
}

// 1: an entry was read; 0: the terminator; -1: failure.
int MoxDictionaryIOState::readDictEntry(MoxDictionary& dict) {
  MoxString key;
  if (!readString(key)) return -1;
  if (key.empty()) return 0;
  int32_t type;
  if (!readInt(type)) return -1;
  if (type < SYM_UNDEFINED || type > SYM_FUNCTION) {
    failN(u"unknown symbol type %d in module file\n", type);
    return -1;
  }
  MoxDictionaryEntry& e = dict[key];
  e.setSymbolType(MoxSymbolType(type));
  return readValue(Slot::of(&e.value()), false) ? 1 : -1;
}

bool MoxDictionaryIOState::readCountedHead(Slot slot, MoxValueType type, int32_t& id,
                                           int32_t& count, bool& backRef) {
  if (!readInt(id) || !readInt(count)) return false;
  backRef = count == -1;
  if (backRef) addORefEntry(uint32_t(id), slot, type);
  return true;
}

bool MoxDictionaryIOState::readVector(Slot slot, MoxValueType type) {
  int32_t id, count;
  bool backRef;
  if (!readCountedHead(slot, type, id, count, backRef)) return false;
  if (backRef) return true;
  // Every element takes at least its 4-byte type.
  if (count < 0 || !in_.canHold(uint64_t(count) * 4))
    return failN(u"element count %d exceeds the module file\n", count);
  uint32_t reserve = in_.known ? uint32_t(count) : (uint32_t(count) < 256 ? uint32_t(count) : 256);
  MoxVector* vec = new MoxVector(reserve, false);
  if (!placeNewObject(uint32_t(id), vec, type, slot)) return false;
  for (uint32_t i = 0; i < uint32_t(count); ++i) {
    vec->push_back(MoxValue());
    if (!readValue(Slot::of(vec, i), true)) return false;
  }
  if (type == MVT_BYTECODE || type == MVT_BYTECODEREF) uncountOwnClass(*vec);
  return true;
}

// A procedure refers to its class without counting it, as compiled code
// does: a counted reference would make every class with a method a cycle
// that no teardown frees. The class keeps at least its other holder.
void MoxDictionaryIOState::uncountOwnClass(MoxVector& proc) {
  if (proc.size() < 2) return;
  MoxValue& cls = proc[1];
  MoxRefObject* obj = cls.getRef();
  if (cls.getType() != MVT_CLASS || !obj || obj->getRefCnt() < 2) return;
  cls = MoxValue(obj, MVT_CLASSREF);
}

bool MoxDictionaryIOState::readBuffer(Slot slot, MoxValueType type) {
  int32_t id, count;
  bool backRef;
  if (!readCountedHead(slot, type, id, count, backRef)) return false;
  if (backRef) return true;
  if (count < 0 || !in_.canHold(uint64_t(count)))
    return failN(u"byte count %d exceeds the module file\n", count);
  // Reserved up front only when the file's size vouches for the count;
  // from a stream the buffer grows as the chunks arrive.
  MoxBuffer* buf = new MoxBuffer(in_.known ? uint32_t(count) : 0);
  if (!placeNewObject(uint32_t(id), buf, type, slot)) return false;
  unsigned char chunk[4096];
  uint32_t left = uint32_t(count);
  while (left) {
    uint32_t k = left < sizeof(chunk) ? left : uint32_t(sizeof(chunk));
    if (!readBytes(chunk, k)) return false;
    unsigned size = buf->size();
    if (buf->capacity() < size + k) buf->setCapacity(size + k > 2 * size ? size + k : 2 * size);
    memcpy(buf->data() + size, chunk, k);
    buf->setSize(size + k);
    left -= k;
  }
  return true;
}

bool MoxDictionaryIOState::readCharBuffer(Slot slot, MoxValueType type) {
  int32_t id, count;
  bool backRef;
  if (!readCountedHead(slot, type, id, count, backRef)) return false;
  if (backRef) return true;
  unsigned char width;
  // At least one byte a character, plus the width byte; the exact bound
  // follows once the width is known.
  if (count < 0 || !in_.canHold(uint64_t(count) + 1))
    return failN(u"character count %d exceeds the module file\n", count);
  if (!readBytes(&width, 1)) return false;
  if (width != 1 && width != 2) return failN(u"bad character width %d in module file\n", width);
  if (!in_.canHold(uint64_t(count) * width))
    return failN(u"character count %d exceeds the module file\n", count);
  MoxCharBuffer* buf = new MoxCharBuffer(in_.known ? uint32_t(count) : 0);
  if (!placeNewObject(uint32_t(id), buf, type, slot)) return false;
  unsigned char chunk[4096];
  uint32_t left = uint32_t(count);
  while (left) {
    uint32_t k = left < 2048 ? left : 2048;
    if (!readBytes(chunk, size_t(k) * width)) return false;
    for (uint32_t i = 0; i < k; ++i)
      buf->push_back(width == 2 ? MoxChar(chunk[2 * i] | (chunk[2 * i + 1] << 8)) : MoxChar(chunk[i]));
    left -= k;
  }
  return true;
}

bool MoxDictionaryIOState::readStringValue(Slot slot, MoxValueType type) {
  int32_t id;
  if (!readInt(id)) return false;
  MoxString text;
  bool present;
  if (!readString(text, present)) return false;
  if (!present) {
    addORefEntry(uint32_t(id), slot, type);
    return true;
  }
  MoxString* s = new MoxString(text);
  return placeNewObject(uint32_t(id), s, type, slot);
}

bool MoxDictionaryIOState::readDictionaryValue(Slot slot, MoxValueType type) {
  int32_t id;
  unsigned char flag;
  if (!readInt(id) || !readBytes(&flag, 1)) return false;
  if (flag == kBackRefMark) {
    addORefEntry(uint32_t(id), slot, type);
    return true;
  }
  MoxDictionary* d = new MoxDictionary(flag == 1);
  if (!placeNewObject(uint32_t(id), d, type, slot)) return false;
  return readDictionary(*d, false);
}

bool MoxDictionaryIOState::readObject(Slot slot, MoxValueType type) {
  int32_t id;
  MoxString name;
  if (!readInt(id) || !readString(name)) return false;
  if (name.empty() || name[0] == u'$') {
    addORefEntry(uint32_t(id), slot, type);
    return true;
  }
  MoxClass* cls = findClass(name);
  if (!cls) return failS(u"class %s not found\n", name.c_str());
  int32_t n = cls->getDataSize();
  if (n < 0) n = 0;  // a layout never computed: no members, as the writer wrote them
  if (!in_.canHold(uint64_t(n) * 4)) return failN(u"member count %d exceeds the module file\n", n);
  MoxObject* obj = MoxObject::create(cls);
  if (!placeNewObject(uint32_t(id), obj, type, slot)) return false;
  MoxVector* data = obj->getMemberData();
  for (int32_t i = 1; i <= n; ++i) {
    if (!data || unsigned(i) >= data->size()) return fail(u"object layout mismatch in module file\n");
    if (!readValue(Slot::of(data, unsigned(i)), true)) return false;
  }
  return true;
}

bool MoxDictionaryIOState::readClass(Slot slot, MoxValueType type, bool insideContainer) {
  MoxString name, second;
  if (!readString(name) || !readString(second)) return false;
  bool ref = type == MVT_CLASSREF;
  bool byName = second == MoxString(u"$");
  // Inside a container a class is only ever named: its definition belongs
  // to the top level.
  if (insideContainer && !byName)
    return fail(u"class definition inside a container in module file\n");
  if (byName) return readClassByName(slot, name, ref);
  if (name.empty()) return fail(u"class without a name in module file\n");
  MoxClass* base = second.empty() ? nullptr : findClass(second);
  if (!checkNewClass(name, base)) return false;
  MoxClass* cls = new MoxClass(vm_, name, base);
  // Assigned at once, so procedures read inside find their class by name.
  slot.get() = MoxValue(cls, ref);
  keepAlive(cls, type, slot);
  return readClassBody(cls, name);
}

bool MoxDictionaryIOState::readClassByName(Slot slot, const MoxString& name, bool ref) {
  MoxClass* cls = findClass(name);
  if (!cls) return failS(u"class %s not found\n", name.c_str());
  slot.get() = MoxValue(cls, ref);
  return true;
}

// A definition nested in the definition of a class of the same name, or
// deriving from a class whose definition is still being read, would tie
// the classes into a cycle.
bool MoxDictionaryIOState::checkNewClass(const MoxString& name, MoxClass* base) {
  int chain = 0;
  for (MoxClass* c = base; c; c = c->getBaseClass())
    if (++chain > MoxDictionaryIO::kMaxDepth)
      return failS(u"base classes of %s nested too deeply\n", name.c_str());
  for (MoxClass* open : defining_) {
    if (*open->getClassName() == name)
      return failS(u"class %s defined inside its own definition\n", name.c_str());
    for (MoxClass* c = base; c; c = c->getBaseClass())
      if (c == open) return failS(u"class %s derives from a class still being read\n", name.c_str());
  }
  return true;
}

bool MoxDictionaryIOState::readClassBody(MoxClass* cls, const MoxString& name) {
  defining_.push_back(cls);
  int32_t dataSize;
  bool ok = readDictionary(*cls->dataMembers(), true) && readDictionary(*cls->funcMembers(), true) &&
            readInt(dataSize);
  defining_.pop_back();
  if (!ok) return false;
  // Computed in every case: it stores the size that objects read later get.
  int32_t computed = cls->computeDataSize();
  if (dataSize != -1 && dataSize != computed)
    return failS(u"data size of class %s does not match its members\n", name.c_str());
  return true;
}

bool MoxDictionaryIOState::readVarListEntry(Slot slot) {
  VarEntry e{slot, MoxString(), MoxString()};
  if (!readString(e.dictName) || !readString(e.key)) return false;
  vars_.push_back(e);
  return true;
}

bool MoxDictionaryIOState::placeNewObject(uint32_t id, MoxRefObject* obj, MoxValueType type,
                                          Slot slot) {
  slot.get() = MoxValue(obj, type);
  // Held in every case, so that a rejected object is still released.
  size_t index = held_.size();
  keepAlive(obj, type, slot);
  if (!objects_.emplace(id, index).second)
    return failN(u"object %d defined twice in module file\n", int32_t(id));
  return true;
}

void MoxDictionaryIOState::keepAlive(MoxRefObject* obj, MoxValueType type, Slot slot) {
  obj->addRef();
  held_.push_back(Held{obj, type, {}});
  if (moxIsRefType(type)) held_.back().refSlots.push_back(slot);
}

void MoxDictionaryIOState::addORefEntry(uint32_t id, Slot slot, MoxValueType type) {
  slot.get() = MoxValue(static_cast<MoxRefObject*>(nullptr), type);
  refs_.push_back(RefEntry{id, slot, type});
}

MoxClass* MoxDictionaryIOState::findClass(const MoxString& name) const {
  MoxDictionaryEntry* ce = classes_.find(name);
  return ce ? static_cast<MoxClass*>(ce->getValue()) : nullptr;
}

MoxDictionary* MoxDictionaryIOState::findDictionaryByName(const MoxString& name) const {
  if (name == MoxString(u"!S")) return &symbols_;
  if (name == MoxString(u"!C")) return &classes_;
  if (name.length() < 3 || name[1] != u'!' || (name[0] != u'm' && name[0] != u'f')) return nullptr;
  MoxClass* cls = findClass(name.substr(2, -1));
  if (!cls) return nullptr;
  return name[0] == u'm' ? cls->dataMembers() : cls->funcMembers();
}

bool MoxDictionaryIOState::dissolve(bool ok) {
  for (VarEntry& v : vars_) {
    MoxDictionary* d = findDictionaryByName(v.dictName);
    MoxDictionaryEntry* e = d ? d->find(v.key) : nullptr;
    if (e) v.slot.get() = MoxValue(e);
  }
  for (RefEntry& r : refs_) {
    auto it = objects_.find(r.id);
    MoxValue& slot = r.slot.get();
    // The slot still holds the typed placeholder unless a later read
    // replaced it; then there is nothing to patch.
    if (slot.getType() != r.type || slot.getRef()) continue;
    if (it == objects_.end()) {
      slot.dispose();
      if (ok) ok = failN(u"back-reference to undefined object %d in module file\n", int32_t(r.id));
      continue;
    }
    Held& h = held_[it->second];
    if (family(h.type) != family(r.type)) {
      slot.dispose();
      if (ok) ok = failN(u"back-reference to object %d of another kind in module file\n", int32_t(r.id));
      continue;
    }
    slot.assignRef(h.obj);
    if (moxIsRefType(r.type)) h.refSlots.push_back(r.slot);
  }
  vars_.clear();
  refs_.clear();
  return ok;
}
