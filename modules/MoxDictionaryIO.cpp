// Module file reader and writer.
//
// Layout: three dictionary blocks (native modules, classes, symbols). A
// dictionary block is a sorted-flag byte, entries (key string, 32-bit symbol
// type, value) and an empty key as terminator. Every integer is
// little-endian. Heap objects carry a 32-bit identifier; the first
// occurrence in one operation carries the contents, later ones are
// back-references patched once everything has been read.
//
// Reading defends against hostile files: counts are checked against the
// bytes left before anything is allocated (and containers still grow only
// as their elements actually arrive, so streams of unknown length are safe
// too), nesting is bounded, and every inconsistency fails the read with one
// message.
#include "modules/MoxDictionaryIO.h"

#include <sys/stat.h>

#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

const unsigned char kBackRefMark = 255;
const unsigned char kWrittenWidth = 2;

// Object families: a back-reference must name an object of the same C++
// type (a procedure and a vector are both MoxVector).
int family(MoxValueType t) {
  switch (t) {
    case MVT_BYTECODE: case MVT_VECTOR: case MVT_BYTECODEREF: case MVT_VECTORREF: return 1;
    case MVT_BUFFER: case MVT_BUFFERREF: return 2;
    case MVT_CHARBUFFER: case MVT_CHARBUFFERREF: return 3;
    case MVT_OBJECT: case MVT_OBJECTREF: return 4;
    case MVT_STRING: case MVT_STRINGREF: return 5;
    case MVT_DICTIONARY: case MVT_DICTIONARYREF: return 6;
    case MVT_CLASS: case MVT_CLASSREF: return 7;
    default: return 0;
  }
}

// A place a value is read into: a stable value (a dictionary entry, the
// caller's value) or an element of a vector that may still grow.
struct Slot {
  MoxValue* direct;
  MoxVector* vec;
  unsigned index;
  static Slot of(MoxValue* v) { return Slot{v, nullptr, 0}; }
  static Slot of(MoxVector* v, unsigned i) { return Slot{nullptr, v, i}; }
  MoxValue& get() const { return direct ? *direct : (*vec)[index]; }
};

// Input with a known rest (regular files) or an unknown one (pipes).
struct Input {
  FILE* file = nullptr;
  bool known = false;
  uint64_t left = 0;

  void open(FILE* f) {
    file = f;
    known = false;
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) {
      long pos = ftell(f);
      if (pos >= 0 && uint64_t(st.st_size) >= uint64_t(pos)) {
        known = true;
        left = uint64_t(st.st_size) - uint64_t(pos);
      }
    }
  }
  bool canHold(uint64_t bytes) const { return !known || bytes <= left; }
  bool read(void* p, size_t n) {
    if (known && n > left) return false;
    if (n && fread(p, 1, n, file) != n) return false;
    if (known) left -= n;
    return true;
  }
};

}  // namespace

// The state of one operation: the object, reference and variable lists and
// the input or output.
class MoxDictionaryIOState {
 public:
  MoxDictionaryIOState(MoxVirtualMachine& vm, MoxDictionary& classes, MoxDictionary& symbols,
                       IMoxPrinter& printer)
      : vm_(vm), classes_(classes), symbols_(symbols), printer_(printer) {}
  ~MoxDictionaryIOState() { clearObjectLists(); }

  void begin() {
    clearObjectLists();
    out_ = nullptr;
    reported_ = false;
    depth_ = 0;
    nextId_ = 0;
    defining_.clear();
  }

  // ---- writing ----
  void setOutput(FILE* f) { out_ = f; }
  bool writeDictionary(MoxDictionary& dict, bool skipping);
  bool writeValue(const MoxValue& v, bool insideContainer);

  // ---- reading ----
  void setInput(FILE* f) { in_.open(f); }
  bool readDictionary(MoxDictionary& dict, bool readFlag);
  bool readValue(Slot slot, bool insideContainer);
  // Binds variables and back-references; false when a back-reference names
  // no object or one of another kind (such slots become null).
  bool dissolve(bool ok);
  void clearObjectLists();
  // Forgets recorded variables and back-references (their slots are about
  // to go away); the objects read stay available to later back-references.
  void dropPending() {
    vars_.clear();
    refs_.clear();
    for (Held& h : held_) h.refSlots.clear();
  }

 private:
  bool fail(const MoxChar* msg) {
    if (!reported_) printer_(u"%s", msg);
    reported_ = true;
    return false;
  }
  bool failN(const MoxChar* fmt, int32_t n) {
    if (!reported_) printer_(fmt, n);
    reported_ = true;
    return false;
  }
  bool failS(const MoxChar* fmt, const MoxChar* s) {
    if (!reported_) printer_(fmt, s);
    reported_ = true;
    return false;
  }

  bool writeBytes(const void* p, size_t n) { return n == 0 || fwrite(p, 1, n, out_) == n; }
  bool writeByte(unsigned char b) { return writeBytes(&b, 1); }
  bool writeInt(uint32_t v) {
    unsigned char b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return writeBytes(b, 4);
  }
  bool writeUnits(const MoxChar* s, size_t n);
  bool writeString(const MoxChar* s);
  bool writeDictEntry(MoxDictionaryEntry* e, bool skipping);
  bool writeObjectValue(const MoxValue& v);
  bool writeClassValue(const MoxValue& v, bool insideContainer);
  // Identifier of a heap object; seen tells whether it was written before.
  uint32_t objectId(const void* p, bool* seen);
  const MoxChar* findSymbolNameFromFuncPtr(const MoxValue& v) const;
  MoxString getDictionaryName(const MoxDictionary* d) const;

  bool readBytes(void* p, size_t n) {
    if (in_.read(p, n)) return true;
    return fail(u"module file truncated\n");
  }
  bool readInt(int32_t& v);
  // Reads a string; present is false for the back-reference mark. width,
  // when not 0, is a width byte already read.
  bool readString(MoxString& s, bool& present, unsigned width = 0);
  bool readString(MoxString& s);
  int readDictEntry(MoxDictionary& dict);
  bool readVector(Slot slot, MoxValueType type);
  void uncountOwnClass(MoxVector& proc);
  bool readBuffer(Slot slot, MoxValueType type);
  bool readCharBuffer(Slot slot, MoxValueType type);
  bool readStringValue(Slot slot, MoxValueType type);
  bool readDictionaryValue(Slot slot, MoxValueType type);
  bool readObject(Slot slot, MoxValueType type);
  bool readClass(Slot slot, MoxValueType type, bool insideContainer);
  bool readVarListEntry(Slot slot);
  bool addOLEntry(uint32_t id, MoxRefObject* obj, MoxValueType type, Slot slot);
  void addORefEntry(uint32_t id, Slot slot, MoxValueType type);
  void keepAlive(MoxRefObject* obj, MoxValueType type, Slot slot);
  MoxDictionary* findDictionaryByName(const MoxString& name) const;

  MoxVirtualMachine& vm_;
  MoxDictionary& classes_;
  MoxDictionary& symbols_;
  IMoxPrinter& printer_;
  FILE* out_ = nullptr;
  Input in_;
  bool reported_ = false;
  int depth_ = 0;
  uint32_t nextId_ = 0;

  // Writer: identifiers by address, classes already defined.
  std::unordered_map<const void*, uint32_t> ids_;
  std::unordered_set<const MoxClass*> classesWritten_;

  // Reader: objects by identifier; every object made is held here until the
  // end of the operation, so slots recorded below stay valid even when a
  // later entry of the same key replaces the value that held them.
  // For objects first read through an uncounted kind, the slots that hold
  // them uncounted are remembered: when nothing counted holds such an
  // object at the end, the first of those slots becomes its owner (or, when
  // none still holds it, it is released), so it neither leaks nor dies under
  // its references.
  struct Held {
    MoxRefObject* obj;
    MoxValueType type;
    std::vector<Slot> refSlots;
  };
  std::unordered_map<uint32_t, size_t> objects_;  // identifier -> index in held_
  std::vector<Held> held_;
  struct RefEntry {
    uint32_t id;
    Slot slot;
    MoxValueType type;
  };
  std::vector<RefEntry> refs_;
  struct VarEntry {
    Slot slot;
    MoxString dictName;
    MoxString key;
  };
  std::vector<VarEntry> vars_;
  // Classes whose definitions are being read, outermost first.
  std::vector<MoxClass*> defining_;
};

// Increments the nesting depth for the lifetime of the guard.
struct DepthGuard {
  int& d;
  explicit DepthGuard(int& depth) : d(depth) { ++d; }
  ~DepthGuard() { --d; }
};

// ======================================================================
// Writing

uint32_t MoxDictionaryIOState::objectId(const void* p, bool* seen) {
  auto it = ids_.find(p);
  if (it != ids_.end()) {
    *seen = true;
    return it->second;
  }
  *seen = false;
  uint32_t id = ++nextId_;
  ids_.emplace(p, id);
  return id;
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
  uint32_t id = objectId(obj, &seen);
  if (!writeInt(id)) return false;
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

bool MoxDictionaryIOState::writeValue(const MoxValue& v, bool insideContainer) {
  DepthGuard guard(depth_);
  if (depth_ > MoxDictionaryIO::kMaxDepth) return fail(u"values nested too deeply to write\n");
  MoxValueType t = v.getType();
  if (uint32_t(t) >= uint32_t(MVT_COUNT)) return fail(u"cannot write a value of unknown type\n");
  if (!writeInt(uint32_t(t))) return false;
  if (family(t) && !v.getRef()) return fail(u"cannot write a value without its object\n");
  switch (t) {
    case MVT_INTEGER: return writeInt(uint32_t(v.asInt()));
    case MVT_FLOAT: {
      float f = v.asFloat();
      uint32_t bits;
      memcpy(&bits, &f, 4);
      return writeInt(bits);
    }
    case MVT_DOUBLE: {
      double d = v.asDouble();
      uint64_t bits;
      memcpy(&bits, &d, 8);
      return writeInt(uint32_t(bits)) && writeInt(uint32_t(bits >> 32));
    }
    case MVT_FILE:
    case MVT_CODE:
      return writeString(findSymbolNameFromFuncPtr(v));
    case MVT_BYTECODE: case MVT_VECTOR: case MVT_BYTECODEREF: case MVT_VECTORREF: {
      MoxVector* vec = v;
      bool seen;
      uint32_t id = objectId(vec, &seen);
      if (!writeInt(id)) return false;
      if (seen) return writeInt(0xFFFFFFFFu);
      unsigned n = vec->size();
      if (!writeInt(n)) return false;
      for (unsigned i = 0; i < n && i < vec->size(); ++i)
        if (!writeValue((*vec)[i], true)) return false;
      return true;
    }
    case MVT_BUFFER: case MVT_BUFFERREF: {
      MoxBuffer* b = v;
      bool seen;
      uint32_t id = objectId(b, &seen);
      if (!writeInt(id)) return false;
      if (seen) return writeInt(0xFFFFFFFFu);
      return writeInt(b->size()) && writeBytes(b->data(), b->size());
    }
    case MVT_CHARBUFFER: case MVT_CHARBUFFERREF: {
      MoxCharBuffer* b = v;
      bool seen;
      uint32_t id = objectId(b, &seen);
      if (!writeInt(id)) return false;
      if (seen) return writeInt(0xFFFFFFFFu);
      return writeInt(b->size()) && writeByte(kWrittenWidth) && writeUnits(b->data(), b->size());
    }
    case MVT_CLASS: case MVT_CLASSREF:
      return writeClassValue(v, insideContainer);
    case MVT_OBJECT: case MVT_OBJECTREF:
      return writeObjectValue(v);
    case MVT_STRING: case MVT_STRINGREF: {
      MoxString* s = v;
      bool seen;
      uint32_t id = objectId(s, &seen);
      if (!writeInt(id)) return false;
      if (seen) return writeByte(kBackRefMark);
      return writeString(s->c_str());
    }
    case MVT_DICTIONARY: case MVT_DICTIONARYREF: {
      MoxDictionary* d = v;
      bool seen;
      uint32_t id = objectId(d, &seen);
      if (!writeInt(id)) return false;
      if (seen) return writeByte(kBackRefMark);
      return writeDictionary(*d, false);
    }
    case MVT_VAR: {
      MoxDictionaryEntry* e = v;
      MoxString dictName = e ? getDictionaryName(e->getDictionary()) : MoxString();
      const MoxChar* key = (e && e->getKey()) ? e->getKey()->c_str() : u"";
      return writeString(dictName.c_str()) && writeString(key);
    }
    default:
      return true;  // MVT_NULL, MVT_CODEREF: no payload
  }
}

// ======================================================================
// Reading

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

bool MoxDictionaryIOState::addOLEntry(uint32_t id, MoxRefObject* obj, MoxValueType type, Slot slot) {
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

bool MoxDictionaryIOState::readVector(Slot slot, MoxValueType type) {
  int32_t id, count;
  if (!readInt(id) || !readInt(count)) return false;
  if (count == -1) {
    addORefEntry(uint32_t(id), slot, type);
    return true;
  }
  // Every element takes at least its 4-byte type.
  if (count < 0 || !in_.canHold(uint64_t(count) * 4))
    return failN(u"element count %d exceeds the module file\n", count);
  uint32_t reserve = in_.known ? uint32_t(count) : (uint32_t(count) < 256 ? uint32_t(count) : 256);
  MoxVector* vec = new MoxVector(reserve, false);
  slot.get() = MoxValue(static_cast<MoxRefObject*>(vec), type);
  if (!addOLEntry(uint32_t(id), vec, type, slot)) return false;
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
  if (!readInt(id) || !readInt(count)) return false;
  if (count == -1) {
    addORefEntry(uint32_t(id), slot, type);
    return true;
  }
  if (count < 0 || !in_.canHold(uint64_t(count)))
    return failN(u"byte count %d exceeds the module file\n", count);
  MoxBuffer* buf = new MoxBuffer(in_.known ? uint32_t(count) : 0);
  slot.get() = MoxValue(static_cast<MoxRefObject*>(buf), type);
  if (!addOLEntry(uint32_t(id), buf, type, slot)) return false;
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
  if (!readInt(id) || !readInt(count)) return false;
  if (count == -1) {
    addORefEntry(uint32_t(id), slot, type);
    return true;
  }
  unsigned char width;
  if (count < 0 || !in_.canHold(uint64_t(count) + 1))
    return failN(u"character count %d exceeds the module file\n", count);
  if (!readBytes(&width, 1)) return false;
  if (width != 1 && width != 2) return failN(u"bad character width %d in module file\n", width);
  if (!in_.canHold(uint64_t(count) * width))
    return failN(u"character count %d exceeds the module file\n", count);
  MoxCharBuffer* buf = new MoxCharBuffer(in_.known ? uint32_t(count) : 0);
  slot.get() = MoxValue(static_cast<MoxRefObject*>(buf), type);
  if (!addOLEntry(uint32_t(id), buf, type, slot)) return false;
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
  slot.get() = MoxValue(static_cast<MoxRefObject*>(s), type);
  return addOLEntry(uint32_t(id), s, type, slot);
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
  slot.get() = MoxValue(static_cast<MoxRefObject*>(d), type);
  if (!addOLEntry(uint32_t(id), d, type, slot)) return false;
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
  MoxDictionaryEntry* ce = classes_.find(name);
  MoxClass* cls = ce ? static_cast<MoxClass*>(ce->getValue()) : nullptr;
  if (!cls) return failS(u"class %s not found\n", name.c_str());
  int32_t n = cls->getDataSize();
  if (n < 0) n = 0;  // a layout never computed: no members, as the writer wrote them
  if (!in_.canHold(uint64_t(n) * 4)) return failN(u"member count %d exceeds the module file\n", n);
  MoxObject* obj = new MoxObject(cls);
  slot.get() = MoxValue(static_cast<MoxRefObject*>(obj), type);
  if (!addOLEntry(uint32_t(id), obj, type, slot)) return false;
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
  if (insideContainer || second == MoxString(u"$")) {
    if (insideContainer && second != MoxString(u"$"))
      return fail(u"class definition inside a container in module file\n");
    MoxDictionaryEntry* ce = classes_.find(name);
    MoxClass* cls = ce ? static_cast<MoxClass*>(ce->getValue()) : nullptr;
    if (!cls) return failS(u"class %s not found\n", name.c_str());
    slot.get() = MoxValue(cls, ref);
    return true;
  }
  if (name.empty()) return fail(u"class without a name in module file\n");
  MoxClass* base = nullptr;
  if (!second.empty()) {
    MoxDictionaryEntry* be = classes_.find(second);
    base = be ? static_cast<MoxClass*>(be->getValue()) : nullptr;
    int chain = 0;
    for (MoxClass* c = base; c; c = c->getBaseClass())
      if (++chain > MoxDictionaryIO::kMaxDepth)
        return failS(u"base classes of %s nested too deeply\n", name.c_str());
  }
  // A definition nested in the definition of a class of the same name, or
  // deriving from a class whose definition is still being read, would tie
  // the classes into a cycle.
  for (MoxClass* open : defining_) {
    if (*open->getClassName() == name)
      return failS(u"class %s defined inside its own definition\n", name.c_str());
    for (MoxClass* c = base; c; c = c->getBaseClass())
      if (c == open) return failS(u"class %s derives from a class still being read\n", name.c_str());
  }
  MoxClass* cls = new MoxClass(vm_, name, base);
  // Assigned at once, so procedures read inside find their class by name.
  slot.get() = MoxValue(cls, ref);
  keepAlive(cls, type, slot);
  defining_.push_back(cls);
  int32_t dataSize;
  bool ok = readDictionary(*cls->dataMembers(), true) && readDictionary(*cls->funcMembers(), true) &&
            readInt(dataSize);
  defining_.pop_back();
  if (!ok) return false;
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
    case MVT_INTEGER: {
      int32_t v;
      if (!readInt(v)) return false;
      slot.get() = MoxValue(v);
      return true;
    }
    case MVT_FLOAT: {
      int32_t bits;
      if (!readInt(bits)) return false;
      float f;
      memcpy(&f, &bits, 4);
      slot.get() = MoxValue(f);
      return true;
    }
    case MVT_DOUBLE: {
      int32_t lo, hi;
      if (!readInt(lo) || !readInt(hi)) return false;
      uint64_t bits = uint64_t(uint32_t(lo)) | (uint64_t(uint32_t(hi)) << 32);
      double d;
      memcpy(&d, &bits, 8);
      slot.get() = MoxValue(d);
      return true;
    }
    case MVT_FILE:
    case MVT_CODE: {
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
    case MVT_BYTECODE: case MVT_VECTOR: case MVT_BYTECODEREF: case MVT_VECTORREF:
      return readVector(slot, type);
    case MVT_BUFFER: case MVT_BUFFERREF:
      return readBuffer(slot, type);
    case MVT_CHARBUFFER: case MVT_CHARBUFFERREF:
      return readCharBuffer(slot, type);
    case MVT_CLASS: case MVT_CLASSREF:
      return readClass(slot, type, insideContainer);
    case MVT_OBJECT: case MVT_OBJECTREF:
      return readObject(slot, type);
    case MVT_STRING: case MVT_STRINGREF:
      return readStringValue(slot, type);
    case MVT_DICTIONARY: case MVT_DICTIONARYREF:
      return readDictionaryValue(slot, type);
    case MVT_VAR:
      return readVarListEntry(slot);
    default:
      return true;  // MVT_NULL, MVT_CODEREF
  }
}

MoxDictionary* MoxDictionaryIOState::findDictionaryByName(const MoxString& name) const {
  if (name == MoxString(u"!S")) return &symbols_;
  if (name == MoxString(u"!C")) return &classes_;
  if (name.length() < 3 || name[1] != u'!' || (name[0] != u'm' && name[0] != u'f')) return nullptr;
  MoxDictionaryEntry* ce = classes_.find(name.substr(2, -1));
  MoxClass* cls = ce ? static_cast<MoxClass*>(ce->getValue()) : nullptr;
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

void MoxDictionaryIOState::clearObjectLists() {
  vars_.clear();
  refs_.clear();
  objects_.clear();
  ids_.clear();
  classesWritten_.clear();
  // First give ownerless objects an owner, while every recorded slot is
  // still alive; then drop the list's own references.
  for (Held& h : held_) {
    if (h.obj->getRefCnt() != 1) continue;
    for (Slot& slot : h.refSlots) {
      MoxValue& v = slot.get();
      if (v.getRef() == h.obj && moxIsRefType(v.getType())) {
        v = MoxValue(h.obj, MoxValueType(v.getType() - 10));
        break;
      }
    }
  }
  for (Held& h : held_) h.obj->release();
  held_.clear();
}

// ======================================================================
// Public operations

MoxDictionaryIO::MoxDictionaryIO(MoxVirtualMachine& vm)
    : vm_(vm), classes_(&vm.classes()), symbols_(&vm.symbols()), printer_(&vm.printer()),
      state_(new MoxDictionaryIOState(vm, vm.classes(), vm.symbols(), vm.printer())) {
  classes_->addRef();
  symbols_->addRef();
}

MoxDictionaryIO::~MoxDictionaryIO() {
  delete state_;
  classes_->release();
  symbols_->release();
}

bool MoxDictionaryIO::writeModule(const MoxString& path) {
  FILE* f = fopen(path.a_str(), "wb");
  if (!f) {
    (*printer_)(u"opening %s for write failed\n", path.c_str());
    return false;
  }
  state_->begin();
  state_->setOutput(f);
  bool ok = state_->writeDictionary(vm_.modules(), false) &&
            state_->writeDictionary(*classes_, true) && state_->writeDictionary(*symbols_, true);
  if (fclose(f) != 0) ok = false;
  state_->clearObjectLists();
  return ok;
}

bool MoxDictionaryIO::readModule(const MoxString& path) {
  FILE* f = fopen(path.a_str(), "rb");
  if (!f) {
    (*printer_)(u"opening %s for read failed\n", path.c_str());
    return false;
  }
  state_->begin();
  state_->setInput(f);
  bool ok;
  {
    MoxDictionary natives;
    natives.addRef();  // a local table: never deleted through counting
    ok = state_->readDictionary(natives, true);
    for (MoxDictionaryEntry* e = natives.getFirst(); ok && e; e = e->getNext()) {
      if (!vm_.loadNativeModule(e->getKey()->c_str())) {
        (*printer_)(u"loading native module %s failed\n", e->getKey()->c_str());
        ok = false;
      }
    }
    // The values of this block die with the table: nothing may patch them.
    state_->dropPending();
    natives.clear();
  }
  if (ok) ok = state_->readDictionary(*classes_, true) && state_->readDictionary(*symbols_, true);
  fclose(f);
  ok = state_->dissolve(ok);
  state_->clearObjectLists();
  return ok;
}

bool MoxDictionaryIO::writeSingleValue(FILE* stream, MoxValue& value) {
  state_->begin();
  if (!stream) return false;
  state_->setOutput(stream);
  bool ok = state_->writeValue(value, false);
  state_->clearObjectLists();
  return ok;
}

bool MoxDictionaryIO::readSingleValue(FILE* stream, MoxValue& value) {
  state_->begin();
  if (!stream) return false;
  state_->setInput(stream);
  bool ok = state_->readValue(Slot::of(&value), false);
  ok = state_->dissolve(ok);
  state_->clearObjectLists();
  return ok;
}
