// Compiled programs written to a module and read into a new machine: the
// structure survives, and (with the interpreter) the program runs the same.
#include <gtest/gtest.h>

#include "ModuleTestUtil.h"
#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

struct Machine {
  MoxStringPrinter out;
  MoxVirtualMachine vm{&out};
};

// Compiles source in one machine, writes it, reads it into another.
bool roundTrip(const char* source, Machine& from, Machine& to, bool fresh = true) {
  if (!from.vm.compileText(MoxString(source).c_str())) {
    ADD_FAILURE() << "compile failed: " << from.out.a_str();
    return false;
  }
  std::string path = tempPath("rt");
  bool ok = from.vm.writeModule(mstr(path).c_str()) && to.vm.readModule(mstr(path).c_str());
  if (ok && fresh) {
    // Writing the machine that read the module gives the same bytes.
    std::string again = tempPath("rt2");
    EXPECT_TRUE(to.vm.writeModule(mstr(again).c_str()));
    EXPECT_EQ(readFileBytes(path), readFileBytes(again));
    unlink(again.c_str());
  }
  unlink(path.c_str());
  return ok;
}

MoxDictionaryEntry* symbol(Machine& m, const char16_t* name) {
  return m.vm.symbols().find(MoxString(name));
}

MoxClass* classNamed(Machine& m, const char16_t* name) {
  MoxDictionaryEntry* e = m.vm.classes().find(MoxString(name));
  return e ? static_cast<MoxClass*>(e->getValue()) : nullptr;
}

// Same code bytes in both procedures.
void expectSameCode(const MoxValue& a, const MoxValue& b) {
  MoxVector* pa = a;
  MoxVector* pb = b;
  ASSERT_NE(pa, nullptr);
  ASSERT_NE(pb, nullptr);
  ASSERT_EQ(pa->size(), pb->size());
  MoxBuffer* ca = (*pa)[0];
  MoxBuffer* cb = (*pb)[0];
  ASSERT_NE(ca, nullptr);
  ASSERT_NE(cb, nullptr);
  ASSERT_EQ(ca->size(), cb->size());
  for (unsigned i = 0; i < ca->size(); ++i) EXPECT_EQ((*ca)[i], (*cb)[i]) << i;
}

const char* kProgram =
    "class Base {\n"
    "  b;\n"
    "  static count = 0, names = [\"x\", {\"k\": 1.5}];\n"
    "  Base();\n"
    "  get();\n"
    "}\n"
    "Base::Base() { b = 1; count = count + 1; }\n"
    "Base::get() { return b; }\n"
    "class Derived : Base {\n"
    "  d;\n"
    "  Derived();\n"
    "  get();\n"
    "}\n"
    "Derived::Derived() { this->BC_Base(); d = 2; }\n"
    "Derived::get() { return d * 10 + b; }\n"
    "#defvar table {\"one\": 1, \"two\": 2.5}\n"
    "#defvar list [1, \"two\", 3.0]\n"
    "#defvar total 0\n"
    "add(a, b) { total = a + b; return total; }\n"
    "main(; o) {\n"
    "  o = new Derived();\n"
    "  return add(o->get(), 0) + Base::count + list[0] - table[\"one\"];\n"
    "}\n";

}  // namespace

TEST(ModuleRoundTrip, ClassesFunctionsAndGlobalsSurvive) {
  Machine a, b;
  if (!roundTrip(kProgram, a, b)) return;
  MoxClass* base = classNamed(b, u"Base");
  MoxClass* derived = classNamed(b, u"Derived");
  ASSERT_NE(base, nullptr);
  ASSERT_NE(derived, nullptr);
  EXPECT_EQ(derived->getBaseClass(), base);
  EXPECT_EQ(derived->getDataSize(), classNamed(a, u"Derived")->getDataSize());
  EXPECT_EQ(derived->getMemberIndex(MoxString(u"d")), classNamed(a, u"Derived")->getMemberIndex(MoxString(u"d")));
  ASSERT_NE(base->dataMembers()->find(MoxString(u"count")), nullptr);

  // Methods keep their code and find their own class.
  MoxDictionaryEntry* get = derived->funcMembers()->find(MoxString(u"get"));
  ASSERT_NE(get, nullptr);
  expectSameCode(classNamed(a, u"Derived")->funcMembers()->find(MoxString(u"get"))->getValue(),
                 get->getValue());
  MoxVector* getProc = get->getValue();
  EXPECT_EQ(static_cast<MoxClass*>((*getProc)[1]), derived);

  ASSERT_NE(symbol(b, u"add"), nullptr);
  expectSameCode(symbol(a, u"add")->getValue(), symbol(b, u"add")->getValue());
  // Variable literals bind to the reading machine's own entries.
  MoxVector* addProc = symbol(b, u"add")->getValue();
  int vars = 0;
  for (unsigned i = 3; i < addProc->size(); ++i) {
    MoxDictionaryEntry* e = (*addProc)[i];
    if (!e) continue;
    ++vars;
    EXPECT_EQ(e->getDictionary(), &b.vm.symbols());
  }
  EXPECT_GE(vars, 1);

  // Native functions are not written; the reader keeps its own.
  MoxDictionaryEntry* print = symbol(b, u"print");
  if (print) {
    EXPECT_EQ(print->getValue().getType(), MVT_CODE);
  }
}

TEST(ModuleRoundTrip, ProgramRunsTheSameAfterReading) {
  Machine a, b;
  if (!roundTrip(kProgram, a, b)) return;
  bool ranA = a.vm.execute(u"main");
  if (!ranA) GTEST_SKIP() << "interpreter not available: " << a.out.a_str();
  ASSERT_TRUE(b.vm.execute(u"main")) << b.out.a_str();
  EXPECT_EQ(a.vm.getResult().getType(), MVT_INTEGER);
  EXPECT_EQ(b.vm.getResult().asInt(), a.vm.getResult().asInt());
  EXPECT_EQ(b.vm.getResult().asInt(), 22);
}

TEST(ModuleRoundTrip, ReadingReplacesEntriesOfTheSameName) {
  Machine a, b;
  ASSERT_TRUE(b.vm.compileText(u"f() { return 1; }\n#defvar keep 3\n")) << b.out.a_str();
  if (!roundTrip("f() { return 2; }\n", a, b, false)) return;
  ASSERT_NE(symbol(b, u"keep"), nullptr);
  EXPECT_EQ(symbol(b, u"keep")->getValue().asInt(), 3);
  expectSameCode(symbol(a, u"f")->getValue(), symbol(b, u"f")->getValue());
}
