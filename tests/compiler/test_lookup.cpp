// Name lookup in function bodies with many or repeated names, and class
// layout across deep hierarchies: the code must be what the slots imply.
#include <string>

#include "CompilerTestUtil.h"

namespace {

void addIndexed(Bytes& code, uint8_t opcode, uint32_t index) {
  uint8_t bytes[MOX_MAX_INDEXED_SIZE];
  size_t n = moxEncodeIndexed(bytes, opcode, index);
  code.insert(code.end(), bytes, bytes + n);
}

}  // namespace

TEST(Lookup, FirstOfRepeatedNamesWinsArgumentsFirst) {
  Fixture f;
  ASSERT_TRUE(f.compile("f(a, b, a; a, t, t) { a; b; t; }"));
  EXPECT_CODE(f.code("f"), OP_TSPACE, 3, OP_PUSH, OP_AREF, 0, OP_AREF, 1, OP_TREF, 1, OP_RETURN);
  Fixture g;
  ASSERT_TRUE(g.compile("class K { m; f(m); } K::f(m; m) { m; this; }"));
  EXPECT_CODE(g.code("f", "K"), OP_TSPACE, 1, OP_PUSH, OP_AREF, 1, OP_AREF, 0, OP_RETURN);
}

TEST(Lookup, ManyArgumentsAndTemporaries) {
  std::string src = "f(";
  for (int i = 0; i < 300; ++i) src += (i ? ", a" : "a") + std::to_string(i);
  src += ";";
  for (int i = 0; i < 3000; ++i) src += (i ? ", t" : " t") + std::to_string(i);
  src += ") { t2999 = a299; t0 = t1000; a0 = t0; g; }";
  Fixture f;
  ASSERT_TRUE(f.compile(src));
  Bytes want;
  addIndexed(want, OP_TSPACE, 3000);
  want.push_back(OP_PUSH);
  addIndexed(want, OP_AREF, 299);
  addIndexed(want, OP_TSET, 2999);
  addIndexed(want, OP_TREF, 1000);
  addIndexed(want, OP_TSET, 0);
  addIndexed(want, OP_TREF, 0);
  addIndexed(want, OP_ASET, 0);
  addIndexed(want, OP_REF, 3);  // an unknown name is a global
  want.push_back(OP_RETURN);
  EXPECT_EQ(listing(f.code("f")), listing(want));
}

TEST(Lookup, DeepHierarchyNumbersMembersAfterAllBases) {
  const int depth = 3000;
  std::string src = "class C0 { m0; }\n";
  for (int i = 1; i < depth; ++i)
    src += "class C" + std::to_string(i) + " : C" + std::to_string(i - 1) + " { m" + std::to_string(i) +
           "; get(); }\n";
  src += "C" + std::to_string(depth - 1) + "::get() { m0; m" + std::to_string(depth - 1) + "; }";
  Fixture f;
  ASSERT_TRUE(f.compile(src)) << f.output().substr(0, 300);
  MoxClass* leaf = f.cls(("C" + std::to_string(depth - 1)).c_str());
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(leaf->getDataSize(), depth);
  EXPECT_EQ(f.cls("C1")->getDataSize(), 2);
  Bytes want;
  want.push_back(OP_PUSH);
  addIndexed(want, OP_MREF, 1);
  addIndexed(want, OP_MREF, uint32_t(depth));
  want.push_back(OP_RETURN);
  EXPECT_EQ(listing(f.code("get", ("C" + std::to_string(depth - 1)).c_str())), listing(want));
}
