// The state of one module file operation, shared by the writer
// (MoxDictionaryIOWriter.cpp) and the reader (MoxDictionaryIOReader.cpp).
// Private to the library: only MoxDictionaryIO.cpp and those two include it.
//
// Layout: three dictionary blocks (native modules, classes, symbols). A
// dictionary block is a sorted-flag byte, entries (key string, 32-bit symbol
// type, value) and an empty key as terminator. Every integer is
// little-endian. Heap objects carry a 32-bit identifier; the first
// occurrence in one operation carries the contents, later ones are
// back-references patched once everything has been read.
//
// A value is its 32-bit type followed by its payload:
//   integer, float        4 bytes (the float's bits)
//   double                low 4 bytes, then high 4 bytes of its bits
//   file, native code     the name it has in the symbol table ("" = none)
//   vector, procedure     id, element count (0xFFFFFFFF = back-reference),
//                         the elements
//   buffer                id, byte count (or 0xFFFFFFFF), the bytes
//   character buffer      id, count (or 0xFFFFFFFF), width byte, the units
//   string                id, string (width byte 255 = back-reference)
//   dictionary            id, dictionary block (flag 255 = back-reference)
//   object                id, class name ("$" = back-reference), the members
//   class                 name, then "$" for a reference by name, or base
//                         name, data members, methods and data size
//   variable              name of its dictionary, key
//   null, counted code    nothing
// A string is a width byte (written as 2), the units and a zero unit.
#ifndef MOX_DICTIONARY_IO_STATE_H
#define MOX_DICTIONARY_IO_STATE_H

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/MoxConfig.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"
#include "vm/MoxPrinter.h"

class MoxDictionaryIOState {
 public:
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
  static const unsigned char kBackRefMark = 255;
  static const unsigned char kWrittenWidth = 2;
  // Count written in place of a container's size for a back-reference.
  static const uint32_t kBackRefCount = 0xFFFFFFFFu;

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

  // Increments the nesting depth for the lifetime of the guard.
  struct DepthGuard {
    int& d;
    explicit DepthGuard(int& depth) : d(depth) { ++d; }
    ~DepthGuard() { --d; }
  };

  // Object families: a back-reference must name an object of the same C++
  // type (a procedure and a vector are both MoxVector).
  static int family(MoxValueType t);

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

  // ---- writing, one function a value kind ----
  bool writeBytes(const void* p, size_t n) { return n == 0 || fwrite(p, 1, n, out_) == n; }
  bool writeByte(unsigned char b) { return writeBytes(&b, 1); }
  bool writeInt(uint32_t v) {
    unsigned char b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return writeBytes(b, 4);
  }
  bool writeUnits(const MoxChar* s, size_t n);
  bool writeString(const MoxChar* s);
  bool writeDictEntry(MoxDictionaryEntry* e, bool skipping);
  bool writeFloatValue(const MoxValue& v);
  bool writeDoubleValue(const MoxValue& v);
  bool writeVectorValue(const MoxValue& v);
  bool writeBufferValue(const MoxValue& v);
  bool writeCharBufferValue(const MoxValue& v);
  bool writeStringValue(const MoxValue& v);
  bool writeDictionaryValue(const MoxValue& v);
  bool writeObjectValue(const MoxValue& v);
  bool writeClassValue(const MoxValue& v, bool insideContainer);
  bool writeVarValue(const MoxValue& v);
  // Writes the identifier of a heap object; seen tells whether it was
  // written before (then only a back-reference follows).
  bool writeObjectId(const void* p, bool* seen);
  const MoxChar* findSymbolNameFromFuncPtr(const MoxValue& v) const;
  MoxString getDictionaryName(const MoxDictionary* d) const;

  // ---- reading, one function a value kind ----
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
  bool readIntegerValue(Slot slot);
  bool readFloatValue(Slot slot);
  bool readDoubleValue(Slot slot);
  bool readNativeValue(Slot slot, MoxValueType type);
  // Reads the identifier and count that open a vector or buffer; a
  // back-reference is recorded at once and leaves backRef true.
  bool readCountedHead(Slot slot, MoxValueType type, int32_t& id, int32_t& count, bool& backRef);
  bool readVector(Slot slot, MoxValueType type);
  void uncountOwnClass(MoxVector& proc);
  bool readBuffer(Slot slot, MoxValueType type);
  bool readCharBuffer(Slot slot, MoxValueType type);
  bool readStringValue(Slot slot, MoxValueType type);
  bool readDictionaryValue(Slot slot, MoxValueType type);
  bool readObject(Slot slot, MoxValueType type);
  bool readClass(Slot slot, MoxValueType type, bool insideContainer);
  bool readClassByName(Slot slot, const MoxString& name, bool ref);
  bool checkNewClass(const MoxString& name, MoxClass* base);
  bool readClassBody(MoxClass* cls, const MoxString& name);
  bool readVarListEntry(Slot slot);
  // Puts an object just made into its slot and holds it under its
  // identifier; false when the identifier was used before.
  bool placeNewObject(uint32_t id, MoxRefObject* obj, MoxValueType type, Slot slot);
  void addORefEntry(uint32_t id, Slot slot, MoxValueType type);
  void keepAlive(MoxRefObject* obj, MoxValueType type, Slot slot);
  MoxClass* findClass(const MoxString& name) const;
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

#endif
