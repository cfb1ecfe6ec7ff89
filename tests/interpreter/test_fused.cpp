// The loop runs some instruction sequences as one step (compare then branch,
// a slot opened and loaded, `i++` on a temporary, `s += e` appending in
// place). An instruction budget makes it take every instruction singly, so
// each program here is run both ways and must give the same result.
#include "tests/interpreter/InterpTestUtil.h"

namespace {

TEST(Fused, CompareBranchAndCounters) {
  // Every comparison on integers and doubles, as loop conditions and in
  // if statements; counters up and down, statements and expressions.
  expectSame(
      "main(;i, j, n, d) { n = 0;"
      " for (i = 0; i < 10; i++) n++;"
      " for (i = 10; i > 0; i--) n = n + 2;"
      " for (i = 0; i <= 10; i++) if (i == 5) n = n + 100; else if (i != 6) n++;"
      " for (i = 20; i >= 0; i--) { j = i++; n = n + j - i; i--; }"
      " for (d = 0.5; d < 3; d++) n = n + 1000;"
      " for (d = 3.5; d >= 1.5; d--) if (d > 2) n = n + 10000;"
      " if (n >= 0.5) n++; while (n > 40000) n = n - 1000;"
      " return n; }",
      "i:23119");
}

TEST(Fused, TemporaryOperatorSequences) {
  // t op (temporary | literal), then a store, a branch or an element read;
  // strings, doubles and buffers in the same places take the general path.
  expectSame(
      "main(;v, b, i, j, s, d) { v = newvector(10); b = newbuffer(10, 3); s = 0;"
      " for (i = 0; i < 10; i++) v[i] = i * 3;"
      " for (i = 1; i < 10; i++) { j = i - 1; s = s + v[i - 1] * v[j];"
      "   s = s + b[i - 1] + v[i]; s = s * 2 - s; if (i * 2 == 8) s = s + 1000; }"
      " d = 1.5; d = d + 1; d = d * 2; s = s + d;"
      " return s; }",
      "d:3003.000000");
  expectSame("main(;s, i) { s = \"ab\"; i = 1; return s[i - 1] * 1000 + s[i]; }", "i:97098");
}

TEST(Fused, ElementReadOutOfRangeFailsAlike) {
  expectFailsAlike("main(;v, i) { v = newvector(2); i = 2; return v[i + 0]; }",
                   "subscript out of range\n");
}

TEST(Fused, CountersOfOtherKindsTakeTheGeneralPath) {
  expectSame("main(;x) { x = 1.5; x++; x++; x--; return x; }", "d:2.500000");
  expectSame("main(;x) { x = 2147483647; x++; return x; }", "i:-2147483648");
}

TEST(Fused, AppendsInPlaceOnlyWhenNothingElseHoldsTheString) {
  expectSame("main(;s, i) { s = \"\"; for (i = 0; i < 300; i++) s += 97 + i % 3;"
             " return strlen(s) * 1000 + s[299]; }",
             "i:300099");
  // Another holder keeps its string.
  expectSame("main(;s, t) { s = \"ab\"; s += \"c\"; t = s; s += \"d\"; return t + \"|\" + s; }",
             "s:abc|abcd");
  // A vector element holding the same string.
  expectSame("main(;s, v) { v = newvector(1); s = \"x\"; s += \"y\"; v[0] = s; s += \"z\";"
             " return v[0] + s; }",
             "s:xyxyz");
  // The string added to itself, and a zero code, which adds nothing.
  expectSame("main(;s) { s = \"a\"; s += \"b\"; s += s; s += 0; return s; }", "s:abab");
}

TEST(Fused, UncountedReferenceStopsTheInPlaceAppend) {
  // tmp1 holds an uncounted reference to tmp0's string; the append must make
  // a new string, as the instructions taken singly do.
  Bytes code;
  emit(code, OP_TSPACE, 2);
  emit(code, OP_LIT, 3);
  code.push_back(OP_PUSH);
  emit(code, OP_LIT, 4);
  code.push_back(OP_ADD);
  emit(code, OP_TSET, 0);
  emit(code, OP_TREF, 0);
  code.push_back(OP_MKREF);
  emit(code, OP_TSET, 1);
  emit(code, OP_TREF, 0);
  code.push_back(OP_PUSH);
  emit(code, OP_LIT, 4);
  code.push_back(OP_ADD);
  emit(code, OP_TSET, 0);
  emit(code, OP_TREF, 1);
  code.push_back(OP_RETURN);
  std::string seen[2];
  for (bool budget : {false, true}) {
    Interp t;
    if (budget) t.in->setInstructionBudget(true, 1000);
    t.define("main", makeProc(code, {MoxValue(new MoxString(u"ab")), MoxValue(new MoxString(u"c"))}));
    ASSERT_TRUE(t.run()) << t.out.a_str();
    const MoxValue& v = t.top();
    std::string text = v.getRef() ? N(static_cast<MoxString*>(v.getRef())->c_str()) : "";
    seen[budget] = std::to_string(int(v.type())) + text;
  }
  EXPECT_EQ(seen[0], seen[1]);
}

TEST(Fused, WideOperandsAreNotFused) {
  // 300 temporaries: the counter and the string live past index 255, so their
  // instructions carry width prefixes.
  std::string temps;
  for (int i = 0; i < 300; ++i) temps += "a" + std::to_string(i) + ", ";
  expectSame("main(;" + temps + "i, s) { s = \"\"; for (i = 0; i < 5; i++) s += 65 + i;"
             " i--; return s + i; }",
             "s:ABCDE\x04");
}

}  // namespace
