// Compiled code run by the interpreter: the sequences whose stack shape
// matters (assignments, increments of elements, calls with assignments).
#include "CompilerTestUtil.h"

namespace {

int32_t run(const std::string& src, const char* fn = "main") {
  Fixture f;
  EXPECT_TRUE(f.compile(src)) << f.output();
  std::u16string name = U(fn);
  MoxStringPrinter err;
  EXPECT_TRUE(f.vm.execute(name.c_str(), 0, nullptr, false, &err)) << err.a_str();
  return static_cast<int32_t>(f.vm.getResult());
}

}  // namespace

TEST(Run, AssignmentsKeepTheStackBalanced) {
  // Assignments inside argument lists and operands land in the right slots.
  EXPECT_EQ(run("add(a, b) { return a * 10 + b; } main(;a) { return add((a = 1), 2) + a; }"), 13);
  EXPECT_EQ(run("main(;a) { return 1 + (a = 2) + a; }"), 5);
  // A loop of assignments does not grow the stack.
  EXPECT_EQ(run("main(;i, s) { for (i = 0; i < 100000; i++) s = i; return s; }"), 99999);
}

TEST(Run, PostfixOnElementsYieldsTheOldValue) {
  EXPECT_EQ(run("main(;v, o) { v = [5, 7]; o = v[1]++; return o * 100 + v[1]; }"), 708);
  EXPECT_EQ(run("main(;v, o) { v = [5, 7]; o = v[0]--; return o * 100 + v[0]; }"), 504);
  EXPECT_EQ(run("main(;v) { v = [5]; return ++v[0] * 10 + v[0]; }"), 66);
  EXPECT_EQ(run("main(;v) { v = [5]; v[0] += 3; v[0] <<= 1; return v[0]; }"), 16);
}

TEST(Run, ControlFlow) {
  EXPECT_EQ(run("main(;i, n) { i = n = 0; while (1) { i++; if (i > 5) break; if (i % 2) continue; n += i; } return n; }"), 6);
  EXPECT_EQ(run("main(;i) { i = 0; do { i++; } while (i < 3); return i; }"), 3);
  EXPECT_EQ(run("main() { return 0 || 7 && 9; }"), 9);
  EXPECT_EQ(run("main(;a) { return a ? 1 : 0 ? 2 : 3; }"), 3);
}

TEST(Run, ClassesMethodsAndStatics) {
  EXPECT_EQ(run("class P { x; P(v); get(); static twice(n); static k = 4; }"
                "P::P(v) { x = v; } P::get() { return x; } P::twice(n) { return n * 2 + k; }"
                "main(;p) { p = new P(3); return p->get() * 100 + P::twice(5); }"),
            314);
  EXPECT_EQ(run("class A { n; A(); inc(); twice(); } A::A() { n = 0; } A::inc() { n++; }"
                "A::twice() { inc(); inc(); return n; } main() { return new A()->twice(); }"),
            2);
}
