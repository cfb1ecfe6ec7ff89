// The instruction budget of a machine: a runaway script is stopped, the
// machine stays usable, a nested execute draws on the outer budget.
#include <gtest/gtest.h>

#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// Runs the script function "inner" of the same machine from native code.
bool runInner(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  args -= argc;
  *args = MoxValue(vm->execute(u"inner") ? 1 : 0);
  return true;
}

const MoxChar* kLoops =
    u"forever(;i) { i = 0; while (1) i = i + 1; return 0; }\n"
    u"count(n;i,s) { s = 0; for (i = 0; i < n; i++) s = s + i; return s; }\n"
    u"deep() { return deep(); }\n";

}  // namespace

TEST(InstructionBudget, UnsetByDefault) {
  MoxVirtualMachine vm;
  EXPECT_EQ(vm.getInstructionLimit(), 0u);
  ASSERT_TRUE(vm.compileText(kLoops));
  const MoxChar* argv[] = {u"1000"};
  ASSERT_TRUE(vm.compileText(u"run(;r) { r = count(100000); return r; }"));
  EXPECT_TRUE(vm.execute(u"run", 0, argv));
  EXPECT_EQ(int32_t(vm.getResult()), int32_t(704982704));
}

TEST(InstructionBudget, StopsAnEndlessLoopAndTheMachineStaysUsable) {
  MoxStringPrinter out, errors;
  MoxVirtualMachine vm(&out);
  ASSERT_TRUE(vm.compileText(kLoops));
  ASSERT_TRUE(vm.compileText(u"small() { return count(10); }"));
  vm.setInstructionLimit(100000);
  EXPECT_EQ(vm.getInstructionLimit(), 100000u);
  EXPECT_FALSE(vm.execute(u"forever", 0, nullptr, false, &errors));
  EXPECT_STREQ(errors.a_str(), "instruction limit exceeded\n");
  EXPECT_EQ(vm.interpreter(), nullptr);
  // Each execute gets the whole budget again.
  EXPECT_TRUE(vm.execute(u"small"));
  EXPECT_EQ(int32_t(vm.getResult()), 45);
  errors.clear();
  vm.setInstructionLimit(20000);  // met before the call depth bound
  EXPECT_FALSE(vm.execute(u"deep", 0, nullptr, false, &errors));
  EXPECT_STREQ(errors.a_str(), "instruction limit exceeded\n");
  vm.setInstructionLimit(0);
  EXPECT_TRUE(vm.execute(u"small"));
  EXPECT_EQ(int32_t(vm.getResult()), 45);
}

TEST(InstructionBudget, EveryInstructionCounts) {
  MoxStringPrinter errors;
  MoxVirtualMachine vm;
  ASSERT_TRUE(vm.compileText(u"one() { return 1; }\ntwo() { one(); return 2; }"));
  // The smallest budget that runs each function: a call costs the callee's
  // instructions on top of the caller's.
  auto least = [&](const MoxChar* name) {
    for (uint64_t n = 1; n < 64; ++n) {
      vm.setInstructionLimit(n);
      if (vm.execute(name, 0, nullptr, false, &errors)) return n;
    }
    return uint64_t(0);
  };
  const uint64_t one = least(u"one"), two = least(u"two");
  EXPECT_GE(one, 2u);
  EXPECT_GT(two, one + 2);
  errors.clear();
  vm.setInstructionLimit(two - 1);
  EXPECT_FALSE(vm.execute(u"two", 0, nullptr, false, &errors));
  EXPECT_STREQ(errors.a_str(), "instruction limit exceeded\n");
}

TEST(InstructionBudget, ANestedExecuteSharesTheOuterBudget) {
  MoxStringPrinter errors;
  MoxVirtualMachine vm;
  ASSERT_TRUE(vm.registerNativeFunction(u"runInner", runInner));
  ASSERT_TRUE(vm.compileText(kLoops));
  ASSERT_TRUE(vm.compileText(u"inner() { return forever(); }\n"
                             u"outer(;r) { r = runInner(); print(\"after\"); return r; }"));
  vm.setInstructionLimit(5000);
  // The inner run exhausts the budget; the outer one cannot go on either.
  EXPECT_FALSE(vm.execute(u"outer", 0, nullptr, false, &errors));
  EXPECT_NE(MoxString(errors.c_str()).find(MoxString(u"instruction limit exceeded")), -1);
  EXPECT_TRUE(vm.compileText(u"inner() { return 3; }"));
  EXPECT_TRUE(vm.execute(u"outer", 0, nullptr, false, &errors));
  EXPECT_EQ(int32_t(vm.getResult()), 1);
}

TEST(InstructionBudget, DestructorsUnwindingAfterTheLimitReportItOnce) {
  // Found by the run fuzzer: a long chain of objects with destructors,
  // released after the budget ran out, repeated the error line per object
  // and took seconds.
  MoxStringPrinter errors;
  MoxVirtualMachine vm;
  ASSERT_TRUE(vm.compileText(
      u"class N { next; N(nx); ~N(); }\n"
      u"N::N(nx) { next = nx; }\n"
      u"N::~N() { ::count++; }\n"
      u"main(;h, i) { for (i = 0; i < 1000000; i++) h = new N(h); return 0; }\n"));
  vm.setInstructionLimit(100000);
  EXPECT_FALSE(vm.execute(u"main", 0, nullptr, false, &errors));
  EXPECT_STREQ(errors.a_str(), "instruction limit exceeded\n");
}
