// Helpers for compiler tests: compile into a fresh machine, fetch the
// procedures it produced and compare their code.
#ifndef MOX_COMPILER_TEST_UTIL_H
#define MOX_COMPILER_TEST_UTIL_H

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <string>
#include <vector>

#include "compiler/MoxCompiler.h"
#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxUtf8.h"
#include "core/MoxVector.h"
#include "interpreter/MoxOpCodes.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

typedef std::vector<uint8_t> Bytes;

inline std::u16string U(const std::string& s) { return utf16(s); }

inline std::string N(const MoxChar* s) { return utf8(s); }

// A machine plus a string printer that collects the compiler's output.
struct Fixture {
  MoxStringPrinter out;
  MoxVirtualMachine vm;
  Fixture() : vm(&out) {}

  bool compile(const std::string& source, const char* name = "t.mox", bool info = false) {
    MoxCompiler c(vm, &out);
    c.setShowInfo(info);
    std::u16string src = U(source);
    std::u16string n = U(name);
    return c.compile(src.c_str(), n.c_str());
  }
  std::string output() const { return out.a_str(); }

  MoxDictionaryEntry* symbol(const char* name) { return vm.symbols().find(MoxString(name)); }
  MoxClass* cls(const char* name) {
    MoxDictionaryEntry* e = vm.classes().find(MoxString(name));
    return e ? static_cast<MoxClass*>(e->getValue()) : nullptr;
  }
  // The procedure of a global function, or of a method when cls is given.
  MoxVector* proc(const char* name, const char* className = nullptr) {
    MoxDictionaryEntry* e = nullptr;
    if (className != nullptr) {
      MoxClass* c = cls(className);
      if (c == nullptr) return nullptr;
      e = c->funcMembers()->find(MoxString(name));
    } else {
      e = symbol(name);
    }
    if (e == nullptr || e->getValue().getType() != MVT_BYTECODE) return nullptr;
    return static_cast<MoxVector*>(e->getValue());
  }
  Bytes code(const char* name, const char* className = nullptr) {
    MoxVector* p = proc(name, className);
    if (p == nullptr) return Bytes();
    MoxBuffer* b = static_cast<MoxBuffer*>((*p)[MOX_PROC_CODE]);
    if (b == nullptr) return Bytes();
    return Bytes(b->data(), b->data() + b->size());
  }
};

// Readable listing of code for failure messages: "OP_PUSH OP_LIT 3 ...".
inline std::string listing(const Bytes& code) {
  std::string s;
  unsigned width = 1;
  size_t pc = 0;
  while (pc < code.size()) {
    MoxInstruction in;
    if (!moxDecodeInstruction(code.data(), code.size(), pc, &width, &in)) {
      s += "<cut>";
      break;
    }
    if (!s.empty()) s += ' ';
    s += moxOpInfo(in.opcode).narrowName;
    if (in.kind == MOK_INDEX || in.kind == MOK_TARGET) s += " " + std::to_string(in.operand);
    pc += in.length;
  }
  return s;
}

#define EXPECT_CODE(actual, ...)                                        \
  do {                                                                  \
    Bytes expected__ = {__VA_ARGS__};                                   \
    Bytes actual__ = (actual);                                          \
    EXPECT_EQ(listing(expected__), listing(actual__));                  \
    EXPECT_EQ(expected__, actual__);                                    \
  } while (0)

#endif
