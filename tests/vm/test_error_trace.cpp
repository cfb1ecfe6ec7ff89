// The call trace of a failed execute: kept by the machine, cleared by the
// next execute, copied by cloneSymbols, and free of swallowed failures.
#include <gtest/gtest.h>

#include <string>

#include "core/MoxString.h"
#include "core/MoxUtf8.h"
#include "vm/MoxLineTable.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

std::string trace(const MoxVirtualMachine& vm) {
  std::string out;
  const MoxChar* t = vm.getErrorTrace();
  moxUtf8Encode(t, moxStrLen(t), out);
  return out;
}

}  // namespace

TEST(ErrorTrace, KeptAfterFailureClearedByNextExecute) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  ASSERT_TRUE(vm.compileText(u"class A { A(); f(); }\ninner(x) {\n  return x / 0;\n}\n"
                             u"ok() { return 1; }\nA::f() { return inner(1); }\nA::A() { }\n"));
  ASSERT_TRUE(vm.compileText(u"outer() { return inner(2); }\nm() { return (new A())->f(); }\n"));
  EXPECT_FALSE(vm.execute(u"outer"));
  EXPECT_EQ(trace(vm), "<text>:3: in inner\n<text>:1: in outer\n");
  EXPECT_FALSE(vm.execute(u"m"));
  EXPECT_EQ(trace(vm), "<text>:3: in inner\n<text>:6: in A::f\n<text>:2: in m\n");
  EXPECT_TRUE(vm.execute(u"ok"));
  EXPECT_EQ(trace(vm), "");

  // A clone runs the same procedures and knows their lines.
  MoxVirtualMachine copy(&out);
  copy.cloneSymbols(vm);
  EXPECT_FALSE(copy.execute(u"outer"));
  EXPECT_EQ(trace(copy), "<text>:3: in inner\n<text>:1: in outer\n");
  vm.reinit();
  EXPECT_EQ(vm.lineTables().size(), 0u);
}

TEST(ErrorTrace, NativeEntryAndUnknownNames) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  // A failing native run directly as the entry has no script frame.
  EXPECT_FALSE(vm.execute(u"strlen"));
  EXPECT_EQ(trace(vm), "");
  ASSERT_TRUE(vm.compileText(u"f() { return nothing(); }\n"));
  EXPECT_FALSE(vm.execute(u"f"));
  EXPECT_EQ(trace(vm), "<text>:1: in f: 'nothing' is null (never assigned)\n");
  // Assigned somewhere, even if not yet: no "never assigned" note.
  ASSERT_TRUE(vm.compileText(u"g() { return later + 1; }\nset() { later = 1; }\n"));
  EXPECT_FALSE(vm.execute(u"g"));
  EXPECT_EQ(trace(vm), "<text>:1: in g\n");
}
