// The C++ host conveniences: natives from lambdas with typed parameters,
// typed calls and results, globals, and errors crossing both ways.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vm/MoxHost.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

TEST(HostApi, LambdasTypedCallsAndResults) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  int calls = 0;
  ASSERT_TRUE(mox::registerFunction(vm, u"clamp", [&calls](double x, double lo, double hi) {
    ++calls;
    return x < lo ? lo : x > hi ? hi : x;
  }));
  ASSERT_TRUE(mox::registerFunction(vm, u"shout", [](std::string s) { return s + "!"; }));
  ASSERT_TRUE(mox::registerFunction(vm, u"sum", [](std::vector<MoxValue> v) {
    int32_t total = 0;
    for (const MoxValue& e : v) total += mox::asInt(e);
    return total;
  }));
  ASSERT_TRUE(mox::registerFunction(vm, u"half", [](int32_t n) -> mox::Result<int32_t> {
    if (n % 2) return mox::fail("half: " + std::to_string(n) + " is odd");
    return n / 2;
  }));
  ASSERT_TRUE(mox::registerFunction(vm, u"note", [&out](std::u16string s) { out.text += s.c_str(); }));
  EXPECT_FALSE(mox::registerFunction(vm, u"strlen", [](int32_t n) { return n; }));
  ASSERT_TRUE(vm.compileText(
      u"f(n, x, s) { return Vec(clamp(n, 0, 10), clamp(x, 0, 1), shout(s), sum(Vec(1, 2, n))); }\n"
      u"g(n) { return half(n); }\n"
      u"h() { note(\"seen\"); return LEVEL + 1; }\n"));

  ASSERT_TRUE(mox::call(vm, u"f", 12, 0.5, "gr\xc3\xbc\xc3\x9f"));
  std::vector<MoxValue> r;
  ASSERT_TRUE(mox::asVector(vm.getResult(), &r));
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(mox::asDouble(r[0]), 10.0);
  EXPECT_EQ(mox::asDouble(r[1]), 0.5);
  EXPECT_EQ(mox::asString(r[2]), "gr\xc3\xbc\xc3\x9f!");
  EXPECT_EQ(mox::asInt(r[3]), 15);
  EXPECT_EQ(calls, 2);

  // A kind that does not fit says so, on both sides of the boundary.
  std::string error;
  int32_t n = 0;
  EXPECT_FALSE(mox::asInt(r[2], &n, &error));
  EXPECT_EQ(error, "integer expected, got MVT_STRING");
  MoxStringPrinter errors;
  EXPECT_FALSE(vm.executeValues(u"f", 1, &r[2], &errors));
  EXPECT_STREQ(errors.a_str(), "argument 1: number expected, got MVT_STRING\n");
  EXPECT_EQ(std::u16string(vm.getErrorText()), u"argument 1: number expected, got MVT_STRING\n");
  EXPECT_NE(std::u16string(vm.getErrorTrace()).find(u"in clamp"), std::u16string::npos);

  ASSERT_TRUE(mox::call(vm, u"g", 8));
  EXPECT_EQ(mox::asInt(vm.getResult()), 4);
  EXPECT_FALSE(mox::call(vm, u"g", 7));
  EXPECT_EQ(std::u16string(vm.getErrorText()), u"half: 7 is odd\n");
  EXPECT_FALSE(mox::call(vm, u"g"));  // g gets null: not an integer
  EXPECT_FALSE(mox::call(vm, u"g", "x", 2));

  // Globals both ways; the machine still works after the failures.
  EXPECT_TRUE(vm.setGlobal(u"LEVEL", mox::value(41)));
  EXPECT_FALSE(vm.setGlobal(u"f", mox::value(1)));
  ASSERT_TRUE(mox::call(vm, u"h"));
  EXPECT_EQ(mox::asInt(vm.getResult()), 42);
  EXPECT_EQ(std::u16string(vm.getErrorText()), u"");
  EXPECT_EQ(mox::asInt(vm.getGlobal(u"LEVEL")), 41);
  EXPECT_EQ(vm.getGlobal(u"f").type(), MVT_NULL);
  EXPECT_NE(std::u16string(out.text.c_str()).find(u"seen"), std::u16string::npos);

  // reinit forgets the natives with the other globals.
  vm.reinit();
  EXPECT_TRUE(mox::registerFunction(vm, u"clamp", [](int32_t a) { return a; }));
}
