// Helpers for interpreter tests: a machine with an interpreter attached,
// compiled sources, hand-assembled procedures and readable results.
#ifndef MOX_INTERP_TEST_UTIL_H
#define MOX_INTERP_TEST_UTIL_H

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
#include "interpreter/MoxInterpreter.h"
#include "interpreter/MoxOpCodes.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

typedef std::vector<uint8_t> Bytes;

inline std::u16string U(const std::string& s) { return utf16(s); }

inline std::string N(const MoxChar* s) { return utf8(s); }

// Appends an indexed instruction in the compiler's encoding.
inline void emit(Bytes& code, uint8_t op, uint32_t index) {
  uint8_t buf[MOX_MAX_INDEXED_SIZE];
  size_t n = moxEncodeIndexed(buf, op, index);
  code.insert(code.end(), buf, buf + n);
}
inline void emitBranch(Bytes& code, uint8_t op, uint32_t target) {
  code.push_back(op);
  uint8_t b[4];
  moxWriteLE32(b, target);
  code.insert(code.end(), b, b + 4);
}

// A procedure vector: code, class (may be null), name, then literals.
inline MoxVector* makeProc(const Bytes& code, const std::vector<MoxValue>& literals = {},
                           MoxClass* cls = nullptr, const char16_t* name = u"hand") {
  MoxVector* proc = new MoxVector();
  MoxBuffer* buf = new MoxBuffer();
  for (uint8_t b : code) buf->push_back(b);
  proc->push_back(MoxValue(buf));
  // Uncounted, like the compiler's: the class owns its methods.
  proc->push_back(cls ? MoxValue(cls, true) : MoxValue());
  proc->push_back(MoxValue(new MoxString(name)));
  for (const MoxValue& v : literals) proc->push_back(v);
  return proc;
}

// A machine with compiled sources and an interpreter run directly on it.
struct Interp {
  MoxStringPrinter out;
  MoxVirtualMachine vm;
  MoxInterpreter* in;
  Interp() : vm(&out), in(new MoxInterpreter(vm)) {}
  ~Interp() { delete in; }

  bool compile(const std::string& source) {
    MoxCompiler c(vm, &out);
    std::u16string src = U(source);
    return c.compile(src.c_str(), u"t.mox");
  }
  // Defines a global function whose value is proc.
  void define(const char* name, MoxVector* proc) {
    MoxDictionaryEntry& e = vm.symbols()[MoxString(name)];
    e.setValue(MoxValue(proc, true));
    e.setSymbolType(SYM_FUNCTION);
  }
  void defineNative(const char* name, MoxNativeFunction f) {
    MoxDictionaryEntry& e = vm.symbols()[MoxString(name)];
    e.setValue(MoxValue(f));
    e.setSymbolType(SYM_FUNCTION);
  }
  bool run(const char* fn = "main", std::vector<std::string> args = {}) {
    std::vector<std::u16string> wide;
    for (auto& a : args) wide.push_back(U(a));
    std::vector<const MoxChar*> argv;
    for (auto& w : wide) argv.push_back(w.c_str());
    std::u16string name = U(fn);
    return in->execute(name.c_str(), int(argv.size()), argv.empty() ? nullptr : argv.data());
  }
  // Compiles source and runs main; fails the test when compiling fails.
  bool runSource(const std::string& source, const char* fn = "main") {
    EXPECT_TRUE(compile(source)) << out.a_str();
    return run(fn);
  }
  MoxValue& top() { return *in->sp(); }
  int32_t topInt() { return int32_t(top()); }
  std::string topString() {
    MoxValue& v = top();
    if (v.type() != MVT_STRING && v.type() != MVT_STRINGREF) return "<not a string>";
    return N(static_cast<MoxString*>(v.getRef())->c_str());
  }
  std::string errors() { return N(in->errors().c_str()); }
};

// An instruction budget makes the loop run every instruction singly, without
// its fused steps and fast paths. The helpers below run a program both ways.

// main's result as text ("i:", "d:", "s:" and the value, or "k:" and the
// kind), run with or without a budget.
inline std::string resultOf(const std::string& source, bool budget) {
  Interp t;
  if (budget) t.in->setInstructionBudget(true, 100000000);
  EXPECT_TRUE(t.runSource(source)) << t.out.a_str();
  const MoxValue& v = t.top();
  if (v.type() == MVT_STRING) return "s:" + N(static_cast<MoxString*>(v.getRef())->c_str());
  if (v.type() == MVT_DOUBLE) return "d:" + std::to_string(v.asDouble());
  if (v.type() == MVT_INTEGER) return "i:" + std::to_string(v.asInt());
  return "k:" + std::to_string(int(v.type()));
}

inline void expectSame(const std::string& source, const std::string& expected) {
  EXPECT_EQ(resultOf(source, false), expected);
  EXPECT_EQ(resultOf(source, true), expected);
}

// main fails both ways with the same error text.
inline void expectFailsAlike(const std::string& source, const std::string& error) {
  for (bool budget : {false, true}) {
    Interp t;
    if (budget) t.in->setInstructionBudget(true, 1000);
    EXPECT_FALSE(t.runSource(source));
    EXPECT_EQ(t.errors(), error) << "budget " << budget;
  }
}

#endif
