// The machine: construction, registration refusals, reinit, cloneSymbols,
// execute and its result, printer ownership and the wait procedure.
#include <gtest/gtest.h>

#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

bool nativeSeven(MoxVirtualMachine*, int argc, ValPtr& args) {
  args -= argc;
  *args = MoxValue(7);
  return true;
}

int deletedPrinters = 0;
class CountingPrinter : public MoxStringPrinter {
 public:
  ~CountingPrinter() override { ++deletedPrinters; }
};

bool waitTrue() { return true; }

const MoxValue* symbolValue(MoxVirtualMachine& vm, const MoxChar* name) {
  MoxDictionaryEntry* e = vm.symbols().find(MoxString(name));
  return e ? &e->getValue() : nullptr;
}

}  // namespace

TEST(VirtualMachine, StartsWithTheStandardLibraryInOrder) {
  MoxVirtualMachine vm;
  // The classic library's 81 names come first; the additions follow them.
  EXPECT_GT(vm.symbols().count(), 81u);
  MoxDictionaryEntry* first = vm.symbols().getFirst();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(*first->getKey(), MoxString(u"stdin"));
  EXPECT_EQ(first->getSymbolType(), SYM_VARIABLE);
  MoxDictionaryEntry* last = first;
  for (int i = 1; i < 81 && last->getNext(); ++i) last = last->getNext();
  EXPECT_EQ(*last->getKey(), MoxString(u"dictgetvalues"));
  EXPECT_EQ(last->getSymbolType(), SYM_FUNCTION);
  EXPECT_EQ(vm.classes().count(), 0u);
  EXPECT_EQ(vm.modules().count(), 0u);
  EXPECT_EQ(vm.interpreter(), nullptr);
  EXPECT_EQ(vm.getResult().getType(), MVT_NULL);
}

TEST(VirtualMachine, RegistrationRefusesTakenNamesAndNulls) {
  MoxVirtualMachine vm;
  EXPECT_FALSE(vm.registerNativeFunction(u"strlen", nativeSeven));
  EXPECT_EQ(static_cast<MoxNativeFunction>(*symbolValue(vm, u"strlen")), MoxDefaultFunctions::Mox_strlen);
  EXPECT_FALSE(vm.registerNativeFunction(nullptr, nativeSeven));
  EXPECT_FALSE(vm.registerNativeFunction(u"", nativeSeven));
  EXPECT_FALSE(vm.registerNativeFunction(u"seven", nullptr));
  EXPECT_TRUE(vm.registerNativeFunction(u"seven", nativeSeven));
  EXPECT_FALSE(vm.registerNativeFunction(u"seven", nativeSeven));

  MoxClass* cls = new MoxClass(vm);
  EXPECT_TRUE(vm.registerNativeClass(u"Native", cls));
  EXPECT_TRUE(cls->getIsNative());
  EXPECT_EQ(*cls->getClassName(), MoxString(u"Native"));
  MoxClass* other = new MoxClass(vm);
  MoxValue holder(other, false);  // frees the refused class
  EXPECT_FALSE(vm.registerNativeClass(u"Native", other));
  EXPECT_FALSE(vm.registerNativeClass(u"", other));
  EXPECT_FALSE(vm.registerNativeClass(u"X", nullptr));
}

TEST(VirtualMachine, ExecuteRunsNativeAndScriptFunctions) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  ASSERT_TRUE(vm.registerNativeFunction(u"seven", nativeSeven));
  EXPECT_TRUE(vm.execute(u"seven"));
  EXPECT_EQ(static_cast<int32_t>(vm.getResult()), 7);
  EXPECT_EQ(vm.interpreter(), nullptr);

  ASSERT_TRUE(vm.compileText(u"twice(s) { print(s, s); return strlen(s) * 2; }"));
  const MoxChar* argv[] = {u"ab"};
  EXPECT_TRUE(vm.execute(u"twice", 1, argv));
  EXPECT_EQ(static_cast<int32_t>(vm.getResult()), 4);
  EXPECT_EQ(MoxString(out.c_str()), MoxString(u"abab"));
  EXPECT_EQ(vm.interpreter(), nullptr);
}

TEST(VirtualMachine, ExecuteFailuresPrintTheErrorText) {
  MoxStringPrinter out, errors;
  MoxVirtualMachine vm(&out);
  EXPECT_FALSE(vm.execute(nullptr));
  EXPECT_FALSE(vm.execute(u"undefined", 0, nullptr, false, &errors));
  EXPECT_STREQ(errors.a_str(), "");
  ASSERT_TRUE(vm.compileText(u"bad() { return 1 / 0; }"));
  EXPECT_FALSE(vm.execute(u"bad", 0, nullptr, false, &errors));
  EXPECT_STREQ(errors.a_str(), "divide 0 error\n");
  EXPECT_STREQ(out.a_str(), "");
  // Without an error printer the machine's own printer gets the text.
  EXPECT_FALSE(vm.execute(u"bad"));
  EXPECT_STREQ(out.a_str(), "divide 0 error\n");
}

TEST(VirtualMachine, ReinitRestoresTheStartState) {
  MoxVirtualMachine vm;
  ASSERT_TRUE(vm.compileText(u"class K { K(); } K::K() { } f() { return 3; } #defvar g 1"));
  ASSERT_TRUE(vm.execute(u"f"));
  vm.symbols()[MoxString(u"stdin")].setValue(MoxValue(5));
  vm.cmdargc() = 2;
  const unsigned fresh = MoxVirtualMachine().symbols().count();
  vm.reinit();
  EXPECT_EQ(vm.classes().count(), 0u);
  EXPECT_EQ(vm.symbols().count(), fresh);
  EXPECT_EQ(vm.symbols().find(MoxString(u"f")), nullptr);
  EXPECT_EQ(symbolValue(vm, u"stdin")->getType(), MVT_FILE);
  // The result and the command arguments stay.
  EXPECT_EQ(static_cast<int32_t>(vm.getResult()), 3);
  EXPECT_EQ(vm.cmdargc(), 2);
}

TEST(VirtualMachine, CloneSymbolsSharesCompiledContents) {
  MoxVirtualMachine source;
  ASSERT_TRUE(source.compileText(u"class P { v; P(x); get(); } P::P(x) { v = x; } P::get() { return v; }"
                                 u"make() { return new P(9)->get(); }"));
  MoxVirtualMachine copy;
  copy.cloneSymbols(source);
  EXPECT_EQ(copy.symbols().count(), source.symbols().count());
  EXPECT_EQ(copy.classes().count(), 1u);
  EXPECT_EQ(static_cast<MoxClass*>(copy.classes().find(MoxString(u"P"))->getValue()),
            static_cast<MoxClass*>(source.classes().find(MoxString(u"P"))->getValue()));
  // The procedures refer to the source's global entries, so the copy runs
  // them through shared objects.
  EXPECT_TRUE(copy.execute(u"make"));
  EXPECT_EQ(static_cast<int32_t>(copy.getResult()), 9);
  copy.cloneSymbols(copy);  // cloning itself changes nothing
  EXPECT_EQ(copy.classes().count(), 1u);
}

TEST(VirtualMachine, OwnsOnlyTheDummyPrinter) {
  deletedPrinters = 0;
  {
    CountingPrinter* p = new CountingPrinter();
    { MoxVirtualMachine vm(p); }
    EXPECT_EQ(deletedPrinters, 0);
    delete p;
  }
  EXPECT_EQ(deletedPrinters, 1);
  MoxVirtualMachine quiet;
  EXPECT_EQ(quiet.printer()(u"%d", 5), quiet.printer()(u"%d", 5));  // usable, discards
}

TEST(VirtualMachine, WaitProcedure) {
  MoxVirtualMachine vm;
  EXPECT_FALSE(vm.dbgWait());
  EXPECT_EQ(vm.setDbgWaitProc(waitTrue), nullptr);
  EXPECT_TRUE(vm.dbgWait());
  EXPECT_EQ(vm.setDbgWaitProc(nullptr), waitTrue);
  EXPECT_FALSE(vm.dbgWait());
}

TEST(VirtualMachine, DestructorsRunOnlyWithAWorkingInterpreter) {
  MoxStringPrinter out;
  MoxVirtualMachine* vm = new MoxVirtualMachine(&out);
  ASSERT_TRUE(vm->compileText(
      u"class D { n; D(x); ~D(); } D::D(x) { n = x; } D::~D() { print(\"~\", n); }"
      u"run(;a) { g = new D(\"g\"); a = new D(\"a\"); new D(\"t\"); return 1; }"));
  ASSERT_TRUE(vm->execute(u"run"));
  // The temporary died during the run, the local when the run ended; the
  // global outlives the interpreter and is released without its destructor.
  EXPECT_STREQ(out.a_str(), "~t~a");
  delete vm;
  EXPECT_STREQ(out.a_str(), "~t~a");
}

TEST(VirtualMachine, CompileFileReportsAMissingFile) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  EXPECT_FALSE(vm.compileFile(nullptr));
  EXPECT_FALSE(vm.compileText(nullptr));
  EXPECT_STREQ(out.a_str(), "");
  EXPECT_FALSE(vm.compileFile(u"/nonexistent/x.mox"));
  EXPECT_STREQ(out.a_str(), "error opening file /nonexistent/x.mox\n");
}
