#include "InterpTestUtil.h"

TEST(Smoke, Basics) {
  Interp t;
  ASSERT_TRUE(t.runSource("main() { return 1 + 2 * 3; }")) << t.errors();
  EXPECT_EQ(t.topInt(), 7);
}

TEST(Smoke, Fib) {
  Interp t;
  ASSERT_TRUE(t.runSource("fib(n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); } main() { return fib(20); }")) << t.errors();
  EXPECT_EQ(t.topInt(), 6765);
}

TEST(Smoke, Loop) {
  Interp t;
  ASSERT_TRUE(t.runSource("main(;i,s) { s = 0; for (i = 0; i < 100; i++) s += i; return s; }")) << t.errors();
  EXPECT_EQ(t.topInt(), 4950);
}

TEST(Smoke, Objects) {
  Interp t;
  ASSERT_TRUE(t.runSource("class P { x; P(a); get(); } P::P(a) { x = a; } P::get() { return x * 2; }"
                          "main(;p) { p = new P(21); return p->get(); }")) << t.errors();
  EXPECT_EQ(t.topInt(), 42);
}
