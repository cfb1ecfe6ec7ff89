// What a host that runs scripts it does not trust relies on: a memory limit
// the machine survives, recursion through native code bounded by the
// thread's real stack, and teardown that frees reference cycles. (Stopping
// a run from another thread is tested with the threads.)
#include <gtest/gtest.h>
#include <malloc.h>
#include <pthread.h>

#include <string>

#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

const MoxChar* kHog =
    u"hog(n;v, i) { v = newvector(n); for (i = 0; i < n; i++) v[i] = newstring(1000, 'x');"
    u" return 0; }\n"
    u"small(;s) { s = \"ab\" + \"cd\"; return strlen(s); }\n";

}  // namespace

TEST(MemoryLimit, OverTheLimitFailsTheRunAndTheMachineGoesOn) {
  MoxStringPrinter out, errors;
  MoxVirtualMachine vm(&out);
  EXPECT_EQ(vm.getMemoryLimit(), 0u);
  vm.setMemoryLimit(size_t(8) << 20);
  ASSERT_TRUE(vm.compileText(kHog));
  const size_t before = vm.getMemoryUsed();
  EXPECT_GT(before, 0u);  // the compiled functions count

  const MoxChar* big[] = {u"100000"};  // about 200 MB of text
  ASSERT_TRUE(vm.compileText(u"bigHog() { return hog(100000); }"));
  EXPECT_FALSE(vm.execute(u"bigHog", 0, big, false, &errors));
  EXPECT_STREQ(errors.a_str(), "not enough memory\n");
  // The values of the failed run are gone again, and the limit still holds.
  EXPECT_LT(vm.getMemoryUsed(), before + (size_t(64) << 10));
  EXPECT_TRUE(vm.execute(u"small"));
  EXPECT_EQ(int32_t(vm.getResult()), 4);
  ASSERT_TRUE(vm.compileText(u"fewHog() { return hog(100); }"));
  EXPECT_TRUE(vm.execute(u"fewHog"));

  // A dictionary counts with its entries and its index, not only its keys
  // and values: 20000 entries kept in a global hold over 100 bytes each.
  ASSERT_TRUE(vm.compileText(
      u"fill(;i) { kept = newdict(); for (i = 0; i < 20000; i++) kept[string(i)] = i; return 0; }"));
  const size_t beforeDict = vm.getMemoryUsed();
  EXPECT_TRUE(vm.execute(u"fill"));
  EXPECT_GT(vm.getMemoryUsed(), beforeDict + 20000 * 100);
  // A sorted one also counts the copies of its keys in its ordered index:
  // 2000 keys of 100 units hold 400 KB more than in an unsorted one.
  ASSERT_TRUE(vm.compileText(
      u"keep(d;i, k) { k = \"\"; for (i = 0; i < 100; i++) k = k + \"x\";\n"
      u" for (i = 0; i < 2000; i++) d[k + string(i)] = i; return d; }\n"
      u"plain() { keptPlain = keep(newdict()); return 0; }\n"
      u"sorted() { keptSorted = keep(newdict(1)); return 0; }"));
  size_t grown[2];
  for (int sorted = 0; sorted < 2; ++sorted) {
    const size_t at = vm.getMemoryUsed();
    EXPECT_TRUE(vm.execute(sorted ? u"sorted" : u"plain"));
    grown[sorted] = vm.getMemoryUsed() - at;
  }
  EXPECT_GT(grown[1], grown[0] + 2000 * 200);

  // A text that grows in its own block where it lies counts at its new
  // size: 200000 units kept in a global hold 400 KB.
  ASSERT_TRUE(vm.compileText(
      u"grow(;s, i) { s = \"\"; for (i = 0; i < 200000; i++) s += \"x\"; keptText = s; return 0; }"));
  const size_t beforeText = vm.getMemoryUsed();
  EXPECT_TRUE(vm.execute(u"grow"));
  EXPECT_GT(vm.getMemoryUsed(), beforeText + 400000);

  // A single request beyond what is left fails before anything is made.
  errors.clear();
  ASSERT_TRUE(vm.compileText(u"one() { return newbuffer(100000000); }"));
  EXPECT_FALSE(vm.execute(u"one", 0, nullptr, false, &errors));
  EXPECT_STREQ(errors.a_str(), "not enough memory\n");

  vm.setMemoryLimit(0);
  EXPECT_TRUE(vm.execute(u"one"));
}

namespace {

struct StackRun {
  std::string errors[4];
  bool ok[4] = {true, true, true, true};
};

// Recursion a script starts through native code: an operator method, a
// comparison, toString and indexing each calling themselves again.
// (Destructors nest only a few levels on the native stack: deeper releases
// are queued.)
void* recurseOnSmallStack(void* arg) {
  StackRun& run = *static_cast<StackRun*>(arg);
  const MoxChar* sources[4] = {
      u"class P { P(); OP_ADD(o); } P::P() {} P::OP_ADD(o) { return this + o; }"
      u" main(;p) { p = new P(); return p + 1; }",
      u"class P { P(); compare(o); } P::P() {} P::compare(o) { return this < o; }"
      u" main(;p) { p = new P(); return p < p; }",
      u"class P { P(); toString(); } P::P() {} P::toString() { return string(this); }"
      u" main(;p) { p = new P(); return string(p); }",
      u"class P { P(); OP_VREF(i); } P::P() {} P::OP_VREF(i) { return this[i]; }"
      u" main(;p) { p = new P(); return p[0]; }"};
  for (int i = 0; i < 4; ++i) {
    MoxStringPrinter errors;
    MoxVirtualMachine vm;
    vm.compileText(sources[i]);
    run.ok[i] = vm.execute(u"main", 0, nullptr, false, &errors);
    run.errors[i] = errors.a_str();
  }
  return nullptr;
}

}  // namespace

TEST(NativeStack, RecursionFailsCleanlyOnA256KiBThread) {
  StackRun run;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, recurseOnSmallStack, &run), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(run.ok[i]) << i;
    // One line, whichever bound came first.
    EXPECT_TRUE(run.errors[i] == "call depth limit exceeded (native stack)\n" ||
                run.errors[i] == "call depth limit exceeded\n")
        << i << ": " << run.errors[i].substr(0, 200);
  }
}

TEST(Teardown, DestroyingAMachineFreesItsCycles) {
  const MoxChar* cyclic =
      u"class N { next; data; N(); link(o); } N::N() { data = newvector(50); }"
      u" N::link(o) { next = o; }"
      u" main(;a, b, v, d, i) { for (i = 0; i < 50; i++) {"
      u" a = new N(); b = new N(); a->link(b); b->link(a);"
      u" v = newvector(2); v[0] = v; v[1] = a; d = newdict(); d[\"self\"] = d; d[\"v\"] = v; }"
      u" return 0; }";
  // A value the host keeps after the machine is gone survives it whole.
  MoxValue kept;
  {
    MoxVirtualMachine vm;
    ASSERT_TRUE(vm.compileText(u"keep(;v) { v = newvector(2); v[0] = v; v[1] = 5; return v; }"));
    ASSERT_TRUE(vm.execute(u"keep"));
    kept = vm.getResult();
  }
  MoxVector* keptVector = static_cast<MoxVector*>(kept);
  ASSERT_NE(keptVector, nullptr);
  ASSERT_EQ(keptVector->size(), 2u);
  EXPECT_EQ(int32_t((*keptVector)[1]), 5);
  // Break the host's cycle by hand, as its owner would.
  (*keptVector)[0].dispose();
  kept.dispose();

  size_t warm = 0;
  for (int round = 0; round < 1000; ++round) {
    MoxVirtualMachine vm;
    ASSERT_TRUE(vm.compileText(cyclic));
    ASSERT_TRUE(vm.execute(u"main"));
    if (round == 20) warm = mallinfo2().uordblks;
  }
  // Each round makes about 60 KB of cycles; all of them are freed.
  EXPECT_LT(mallinfo2().uordblks, warm + (size_t(1) << 20));
}
