// Helpers for module file tests: temporary files and a byte builder for
// hand-made module images.
#ifndef MOX_MODULE_TEST_UTIL_H
#define MOX_MODULE_TEST_UTIL_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "modules/MoxDictionaryIO.h"
#include "vm/MoxVirtualMachine.h"

typedef std::vector<uint8_t> Bytes;

// A fresh path in the system's temporary folder.
inline std::string tempPath(const char* tag) {
  static int counter = 0;
  const char* dir = getenv("TMPDIR");
  std::string base = dir && *dir ? dir : "/tmp";
  return base + "/mox_mod_" + std::to_string(getpid()) + "_" + std::to_string(++counter) + "_" +
         tag + ".mxm";
}

inline Bytes readFileBytes(const std::string& path) {
  Bytes out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return out;
  int c;
  while ((c = fgetc(f)) != EOF) out.push_back(uint8_t(c));
  fclose(f);
  return out;
}

inline void writeFileBytes(const std::string& path, const Bytes& b) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return;
  if (!b.empty()) fwrite(b.data(), 1, b.size(), f);
  fclose(f);
}

inline MoxString mstr(const std::string& s) { return MoxString(s.c_str()); }

// Loads the bytes as a module file into vm.
inline bool readModuleFromBytes(MoxVirtualMachine& vm, const Bytes& b) {
  std::string path = tempPath("r");
  writeFileBytes(path, b);
  bool ok = vm.readModule(mstr(path).c_str());
  unlink(path.c_str());
  return ok;
}

// Reads one value from the bytes, as a script's freadval does.
inline bool readValueFromBytes(MoxVirtualMachine& vm, const Bytes& b, MoxValue& v) {
  FILE* f = tmpfile();
  if (!b.empty()) fwrite(b.data(), 1, b.size(), f);
  rewind(f);
  MoxDictionaryIO io(vm);
  bool ok = io.readSingleValue(f, v);
  fclose(f);
  return ok;
}

// Appends module-format pieces.
struct ByteBuilder {
  Bytes b;
  ByteBuilder& u8(uint8_t v) {
    b.push_back(v);
    return *this;
  }
  ByteBuilder& i32(int32_t v) {
    uint32_t u = uint32_t(v);
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(u >> (8 * i)));
    return *this;
  }
  // Width 2, the units and the zero unit.
  ByteBuilder& str(const char* s) {
    u8(2);
    for (; *s; ++s) u8(uint8_t(*s)).u8(0);
    return u8(0).u8(0);
  }
  // A dictionary block's terminator.
  ByteBuilder& end() { return str(""); }
  ByteBuilder& emptyDict() { return u8(0).end(); }
  ByteBuilder& add(const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
    return *this;
  }
};

#endif
