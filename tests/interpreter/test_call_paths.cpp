// Calls, sends and returns take an inline path when a recycled activation
// record is at hand and no release on return can run a destructor; an
// instruction budget keeps the loop from fusing instructions. Each program
// runs both ways and must give the same result, destructor order included.
#include "tests/interpreter/InterpTestUtil.h"

namespace {

// The global trail after main ran through the machine (which runs
// destructors), with or without a budget.
std::string trailOf(const std::string& source, bool budget) {
  Interp t;
  if (budget) t.vm.setInstructionLimit(100000000);
  EXPECT_TRUE(t.compile(source)) << t.out.a_str();
  MoxStringPrinter err;
  EXPECT_TRUE(t.vm.execute(u"main", 0, nullptr, false, &err)) << err.a_str();
  MoxDictionaryEntry* e = t.vm.symbols().find(MoxString("trail"));
  if (!e || e->getValue().type() != MVT_STRING) return "<none>";
  return N(static_cast<MoxString*>(e->getValue().getRef())->c_str());
}

void expectTrail(const std::string& source, const std::string& expected) {
  EXPECT_EQ(trailOf(source, false), expected);
  EXPECT_EQ(trailOf(source, true), expected);
}

const char* kNamed =
    "class N { name; N(n); ~N(); get(); } N::N(n) { name = n; } N::get() { return name; }"
    "N::~N() { trail = trail + name; }";

TEST(CallPaths, ArgumentsOfEveryKindLoadAlike) {
  expectTrail(std::string(kNamed) +
                 "f(a, b, c, d) { if (b) return a + c->get() + d; return 0; }"
                 "main() { trail = \"\"; trail = f(\"x\", 1.5 < 2, new N(\"y\"), \"z\") + trail; }",
             "xyzy");
}

TEST(CallPaths, MissingArgumentFailsAlike) {
  expectFailsAlike("f(a, b) { return a + b; } main() { return f(1); }", "too few arguments\n");
}

TEST(CallPaths, ReturnReleasesFromTheTopDown) {
  // Last references die on return from the highest stack slot down (slots
  // above the top may still hold copies of earlier results, so the order is
  // the stack's, not the temporaries'); it is the order the release one
  // slot at a time gave. Quiet slots between them are emptied on the way.
  expectTrail(std::string(kNamed) +
                 "f(;a, i, b, s, c) { a = new N(\"a\"); i = 3; b = new N(\"b\"); s = \"q\";"
                 " c = new N(\"c\"); return i; }"
                 "main(;r) { trail = \"\"; r = f(); trail = trail + \"-\" + (r == 3); }",
             "bac-\x01");
  // The result that a temporary also holds survives the return and dies
  // with the caller's last reference; sends return the same way.
  expectTrail(std::string(kNamed) +
                 "f(;o) { o = new N(\"o\"); return o; }"
                 "class K { K(); make(); } K::K() { } K::make(;x, y) { x = new N(\"x\"); y = f(); return y; }"
                 "main(;k, r) { trail = \"\"; k = new K(); r = k->make(); trail = trail + \"|\";"
                 " r = null; }",
             "x|o");
}

TEST(CallPaths, DeepRecursionOutgrowsTheRecordPool) {
  // More activations than the pool of recycled records keeps.
  expectSame("f(n, s) { if (n == 0) return s; return f(n - 1, s + \".\"); }"
             "main() { return strlen(f(300, \"\")); }",
             "i:300");
}

}  // namespace
