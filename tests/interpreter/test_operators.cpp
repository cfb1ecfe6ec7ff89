// Operator type rules, integer edge cases and comparisons.
#include <cmath>

#include "InterpTestUtil.h"

namespace {

// Runs "main() { return <expr>; }".
struct Expr : Interp {
  bool eval(const std::string& expr) {
    static int n = 0;
    std::string name = "e" + std::to_string(++n);
    EXPECT_TRUE(compile(name + "() { return " + expr + "; }")) << out.a_str() << expr;
    return run(name.c_str());
  }
  int32_t i(const std::string& expr) {
    EXPECT_TRUE(eval(expr)) << expr << ": " << errors();
    EXPECT_EQ(top().type(), MVT_INTEGER) << expr;
    return topInt();
  }
  std::string err(const std::string& expr) {
    EXPECT_FALSE(eval(expr)) << expr;
    return errors();
  }
};

}  // namespace

TEST(Operators, IntegerArithmetic) {
  Expr e;
  EXPECT_EQ(e.i("7 / 2"), 3);
  EXPECT_EQ(e.i("-7 / 2"), -3);
  EXPECT_EQ(e.i("-7 % 2"), -1);
  EXPECT_EQ(e.i("2147483647 + 1"), INT32_MIN);
  EXPECT_EQ(e.i("-2147483647 - 2"), INT32_MAX);
  EXPECT_EQ(e.i("65536 * 65536"), 0);
  // The smallest integer divided by -1 does not trap.
  EXPECT_EQ(e.i("(-2147483647 - 1) / -1"), INT32_MIN);
  EXPECT_EQ(e.i("(-2147483647 - 1) % -1"), 0);
  EXPECT_EQ(e.i("-(-2147483647 - 1)"), INT32_MIN);
  EXPECT_EQ(e.err("5 / 0"), "divide 0 error\n");
  EXPECT_EQ(e.err("5 % null"), "divide 0 error\n");
  EXPECT_EQ(e.err("5.0 / 0.0"), "divide 0 error\n");
}

TEST(Operators, FloatingPromotion) {
  Expr e;
  ASSERT_TRUE(e.eval("7.0 / 2"));
  EXPECT_EQ(e.top().type(), MVT_DOUBLE);
  EXPECT_DOUBLE_EQ(e.top().asDouble(), 3.5);
  // Floats come only from hand-made literals: the compiler makes doubles.
  e.vm.symbols()[MoxString("f")].setValue(MoxValue(2.5f));
  ASSERT_TRUE(e.eval("1 + f"));
  EXPECT_EQ(e.top().type(), MVT_FLOAT);
  EXPECT_FLOAT_EQ(e.top().asFloat(), 3.5f);
  ASSERT_TRUE(e.eval("f * 2"));
  EXPECT_EQ(e.top().type(), MVT_FLOAT);
  EXPECT_FLOAT_EQ(e.top().asFloat(), 5.0f);
  ASSERT_TRUE(e.eval("f + 0.5"));
  EXPECT_EQ(e.top().type(), MVT_DOUBLE);
  ASSERT_TRUE(e.eval("7.5 % 2"));
  EXPECT_DOUBLE_EQ(e.top().asDouble(), 1.5);
  ASSERT_TRUE(e.eval("-f"));
  EXPECT_FLOAT_EQ(e.top().asFloat(), -2.5f);
  EXPECT_EQ(e.err("1.5 + \"x\""), "invalid value type MVT_STRING, MVT_DOUBLE expected\n");
  EXPECT_EQ(e.err("f - null"), "invalid value type MVT_NULL, MVT_FLOAT expected\n");
}

TEST(Operators, Strings) {
  Expr e;
  ASSERT_TRUE(e.eval("\"ab\" + \"cd\""));
  EXPECT_EQ(e.topString(), "abcd");
  ASSERT_TRUE(e.eval("\"ab\" + 67"));
  EXPECT_EQ(e.topString(), "abC");
  ASSERT_TRUE(e.eval("65 + \"bc\""));
  EXPECT_EQ(e.topString(), "Abc");
  ASSERT_TRUE(e.eval("0 + \"bc\""));
  EXPECT_EQ(e.topString(), "bc");
  EXPECT_EQ(e.err("\"ab\" + 1.5"), "invalid value type MVT_DOUBLE, MVT_STRING expected\n");
  EXPECT_EQ(e.err("\"ab\" - 1"), "invalid value type MVT_STRING, MVT_INTEGER expected\n");
  EXPECT_EQ(e.err("1 - \"ab\""), "invalid value type MVT_STRING, MVT_INTEGER expected\n");
  // A string value without its object is an error, never a dereference.
  e.vm.symbols()[MoxString("ns")].setValue(MoxValue(static_cast<MoxString*>(nullptr)));
  EXPECT_EQ(e.err("ns + \"a\""), "left string operand is NULL\n");
  EXPECT_EQ(e.err("\"a\" + ns"), "right string operand is NULL\n");
  EXPECT_EQ(e.err("ns < \"a\""), "left string operand is NULL\n");
}

TEST(Operators, Bitwise) {
  Expr e;
  EXPECT_EQ(e.i("1 << 33"), 0);
  EXPECT_EQ(e.i("1 << 256"), 1);
  EXPECT_EQ(e.i("-8 >> 1"), -4);
  EXPECT_EQ(e.i("-8 >> 40"), -1);
  EXPECT_EQ(e.i("8 >> 40"), 0);
  EXPECT_EQ(e.i("1 << 31"), INT32_MIN);
  EXPECT_EQ(e.i("12 & 10 | 1 ^ 3"), 10);
  EXPECT_EQ(e.i("~5"), -6);
  EXPECT_EQ(e.err("1.0 & 1"), "invalid value type MVT_DOUBLE, MVT_INTEGER expected\n");
  EXPECT_EQ(e.err("1 | \"a\""), "invalid value type MVT_STRING, MVT_INTEGER expected\n");
  EXPECT_EQ(e.err("~1.5"), "invalid value type MVT_DOUBLE, MVT_INTEGER expected\n");
}

TEST(Operators, UnaryAndConditions) {
  Expr e;
  EXPECT_EQ(e.i("!5"), 0);
  EXPECT_EQ(e.i("!null"), 1);
  EXPECT_EQ(e.i("!0.5"), 1);
  EXPECT_EQ(e.i("!\"x\""), 0);
  ASSERT_TRUE(e.compile("br(x) { if (x) return 1; return 2; }"));
  ASSERT_TRUE(e.eval("br(0.5)"));
  EXPECT_EQ(e.topInt(), 2);
  ASSERT_TRUE(e.eval("br([])"));
  EXPECT_EQ(e.topInt(), 1);
  EXPECT_EQ(e.err("-\"s\""), "invalid value type MVT_STRING, MVT_INTEGER expected\n");
  EXPECT_EQ(e.err("-null"), "invalid value type MVT_NULL, MVT_INTEGER expected\n");
}

TEST(Compare, NumbersTrueOrder) {
  Expr e;
  EXPECT_EQ(e.i("2147483647 > -1"), 1);
  EXPECT_EQ(e.i("-2147483647 - 1 < 1"), 1);
  EXPECT_EQ(e.i("1 < 2.5"), 1);
  EXPECT_EQ(e.i("2.5 >= 2"), 1);
  EXPECT_EQ(e.i("3 == 3.0"), 1);
  EXPECT_EQ(e.i("3 != 3"), 0);
  EXPECT_EQ(e.i("3 <= 2"), 0);
  EXPECT_EQ(e.err("1 < null"), "invalid value type MVT_NULL, MVT_INTEGER expected\n");
  EXPECT_EQ(e.err("1.5 < \"a\""), "invalid value type MVT_STRING, MVT_FLOAT expected\n");
}

TEST(Compare, NullsStringsAndIdentity) {
  Expr e;
  EXPECT_EQ(e.i("null == null"), 1);
  EXPECT_EQ(e.i("null < \"a\""), 1);
  EXPECT_EQ(e.i("\"a\" > null"), 1);
  EXPECT_EQ(e.i("\"abc\" < \"abd\""), 1);
  EXPECT_EQ(e.i("\"abc\" == \"abc\""), 1);
  EXPECT_EQ(e.err("null < 1"), "invalid value type MVT_INTEGER, MVT_VAR expected\n");
  EXPECT_EQ(e.err("\"a\" < 1"), "invalid value type MVT_INTEGER, MVT_STRING expected\n");
  EXPECT_EQ(e.i("[1] == [1]"), 0);
  ASSERT_TRUE(e.compile("same(;v) { v = [1]; return v == v; }"));
  ASSERT_TRUE(e.eval("same()"));
  EXPECT_EQ(e.topInt(), 1);
  EXPECT_EQ(e.i("[1] == null"), 0);
  EXPECT_EQ(e.err("[1] < \"a\""), "invalid value type MVT_VECTOR, MVT_STRING expected\n");
  // Different objects order consistently by address: exactly one of a < b
  // and b < a holds, and the order survives addresses whose difference does
  // not fit 32 bits.
  ASSERT_TRUE(e.compile("order(a, b) { return (a < b) + (b < a) * 2; }"));
  // (Native function references: uncounted object references hold their
  // object's memory, so they cannot carry made-up addresses.)
  MoxRefObject* low = reinterpret_cast<MoxRefObject*>(uintptr_t(0x10));
  MoxRefObject* high = reinterpret_cast<MoxRefObject*>(uintptr_t(0x100000010));
  e.vm.symbols()[MoxString("lo")].setValue(MoxValue(low, MVT_CODEREF));
  e.vm.symbols()[MoxString("hi")].setValue(MoxValue(high, MVT_CODEREF));
  EXPECT_EQ(e.i("order(lo, hi)"), 1);
  EXPECT_EQ(e.i("order(hi, lo)"), 2);
}

TEST(Operators, DoublesMixedWithIntegers) {
  Expr e;
  // Every pairing of doubles and integers gives a double; results match the
  // general rules whether the loop or the helper computes them.
  const char* exprs[] = {"1.5 + 2", "2 + 1.5", "1.5 + 2.25", "7 - 0.5", "0.5 - 7", "3 * 0.5",
                         "0.5 * 0.5", "1 / 4.0", "1.0 / 4", "1.0 / 4.0"};
  const double want[] = {3.5, 3.5, 3.75, 6.5, -6.5, 1.5, 0.25, 0.25, 0.25, 0.25};
  for (size_t k = 0; k < sizeof(want) / sizeof(want[0]); ++k) {
    ASSERT_TRUE(e.eval(exprs[k])) << exprs[k] << ": " << e.errors();
    EXPECT_EQ(e.top().type(), MVT_DOUBLE) << exprs[k];
    EXPECT_DOUBLE_EQ(e.top().asDouble(), want[k]) << exprs[k];
  }
  EXPECT_EQ(e.err("1.5 / 0"), "divide 0 error\n");
  EXPECT_EQ(e.err("1 / 0.0"), "divide 0 error\n");
  EXPECT_EQ(e.err("null + 1.5"), "invalid value type MVT_NULL, MVT_INTEGER expected\n");
}

TEST(Compare, DoublesBySignOfDifference) {
  Expr e;
  EXPECT_EQ(e.i("2 < 2.5"), 1);
  EXPECT_EQ(e.i("2.5 <= 2"), 0);
  EXPECT_EQ(e.i("2.0 == 2"), 1);
  EXPECT_EQ(e.i("-0.0 == 0.0"), 1);
  EXPECT_EQ(e.i("1e308 * 10 > 1e308"), 1);
  // The difference of two infinities is not a number: neither below nor
  // above, so equal.
  EXPECT_EQ(e.i("1e308 * 10 == 1e308 * 100"), 1);
  EXPECT_EQ(e.i("(1e308 * 10 - 1e308 * 10) != 5"), 0);
}
