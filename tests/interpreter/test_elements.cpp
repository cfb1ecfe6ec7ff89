// Element access of every container kind, references and delete.
#include "InterpTestUtil.h"

namespace {

struct Elems : Interp {
  void global(const char* name, const MoxValue& v) { vm.symbols()[MoxString(name)].setValue(v); }
  const MoxValue& globalValue(const char* name) {
    return vm.symbols().find(MoxString(name))->getValue();
  }
};

}  // namespace

TEST(Elements, Vectors) {
  Elems t;
  ASSERT_TRUE(t.runSource("main(;v) { v = [1, 2, 3]; v[1] = 20; return v[0] + v[1] + v[2]; }"));
  EXPECT_EQ(t.topInt(), 24);
  EXPECT_FALSE(t.runSource("main(;v) { v = [1, 2, 3]; return v[3]; }"));
  EXPECT_EQ(t.errors(), "subscript out of range\n");
  EXPECT_FALSE(t.runSource("main(;v) { v = [1, 2, 3]; return v[-1]; }"));
  EXPECT_EQ(t.errors(), "subscript out of range\n");
  EXPECT_FALSE(t.runSource("main(;v) { v = [1, 2, 3]; return v[1.0]; }"));
  EXPECT_EQ(t.errors(), "invalid value type MVT_DOUBLE, MVT_INTEGER expected\n");
  EXPECT_FALSE(t.runSource("main(;v) { v = [1]; v[1] = 5; }"));
  EXPECT_EQ(t.errors(), "subscript out of range\n");
  // Postfix increment of an element stores the new value, yields the old.
  ASSERT_TRUE(t.runSource("main(;v,o) { v = [5]; o = v[0]++; return o * 100 + v[0]; }")) << t.errors();
  EXPECT_EQ(t.topInt(), 506);
}

TEST(Elements, Dictionaries) {
  Elems t;
  ASSERT_TRUE(t.runSource("main(;d) { d = ({\"k\": 2}); d[\"n\"] = 5; return d[\"k\"] + d[\"n\"]; }"))
      << t.errors();
  EXPECT_EQ(t.topInt(), 7);
  MoxDictionary* d = new MoxDictionary();
  t.global("dict", MoxValue(d));
  ASSERT_TRUE(t.runSource("main() { return dict[\"missing\"]; }"));
  EXPECT_EQ(t.top().type(), MVT_NULL);
  EXPECT_NE(d->find(MoxString("missing")), nullptr);
  EXPECT_FALSE(t.runSource("main() { return dict[1]; }"));
  EXPECT_EQ(t.errors(), "invalid value type MVT_INTEGER, MVT_STRING expected\n");
  t.global("nd", MoxValue(static_cast<MoxDictionary*>(nullptr)));
  t.global("nk", MoxValue(static_cast<MoxString*>(nullptr)));
  EXPECT_FALSE(t.runSource("main() { return nd[\"a\"]; }"));
  EXPECT_EQ(t.errors(), "invalid NULL value of type MVT_DICTIONARY\n");
  EXPECT_FALSE(t.runSource("main() { return dict[nk]; }"));
  EXPECT_EQ(t.errors(), "invalid NULL value of type MVT_STRING\n");
  EXPECT_FALSE(t.runSource("main() { nd[\"a\"] = 1; }"));
}

TEST(Elements, BuffersAndStrings) {
  Elems t;
  MoxBuffer* b = new MoxBuffer();
  b->push_back(7);
  b->push_back(200);
  t.global("buf", MoxValue(b));
  MoxCharBuffer* cb = new MoxCharBuffer();
  cb->push_back(u'x');
  t.global("cbuf", MoxValue(cb));
  ASSERT_TRUE(t.runSource("main() { return buf[1]; }"));
  EXPECT_EQ(t.topInt(), 200);
  ASSERT_TRUE(t.runSource("main() { return buf[0] = 300; }"));
  EXPECT_EQ(t.topInt(), 44);
  EXPECT_EQ((*b)[0], 44);
  EXPECT_FALSE(t.runSource("main() { return buf[2]; }"));
  EXPECT_EQ(t.errors(), "subscript out of range\n");
  ASSERT_TRUE(t.runSource("main() { cbuf[0] = 65536 + 66; return cbuf[0]; }"));
  EXPECT_EQ(t.topInt(), 66);
  // Strings are changed in place: every value sharing the string sees it.
  ASSERT_TRUE(t.runSource("main(;s,u) { s = \"abc\"; u = s; s[1] = 'X'; return u; }"));
  EXPECT_EQ(t.topString(), "aXc");
  ASSERT_TRUE(t.runSource("main() { return \"abc\"[2]; }"));
  EXPECT_EQ(t.topInt(), 'c');
  EXPECT_FALSE(t.runSource("main() { return \"abc\"[3]; }"));
  EXPECT_EQ(t.errors(), "subscript out of range\n");
  EXPECT_FALSE(t.runSource("main() { return 5[0]; }"));
  EXPECT_EQ(t.errors(), "invalid value type MVT_INTEGER, MVT_OBJECT expected\n");
}

TEST(References, MakeRefAndDelete) {
  Elems t;
  ASSERT_TRUE(t.compile("class C { C(); } C::C() { }"
                        "mk(;a) { a => [1, 2]; return a; }"
                        "keep(;a) { a = [1, 2]; g => a; return a; }"
                        "del() { delete g; return g; }"));
  // A reference to a value nobody else holds: the count drops to 0 but the
  // object stays until deleted.
  ASSERT_TRUE(t.run("keep")) << t.errors();
  const MoxValue& g = t.globalValue("g");
  ASSERT_EQ(g.type(), MVT_VECTORREF);
  MoxVector* v = static_cast<MoxVector*>(g.getRef());
  EXPECT_EQ(v->size(), 2u);
  EXPECT_EQ(t.top().type(), MVT_VECTOR);
  // OP_DELETE deletes an uncounted reference's object only when no counted
  // reference is left; otherwise it only clears the slot.
  Bytes code{OP_PUSH};
  emit(code, OP_LIT, 3);
  code.push_back(OP_MKREF);
  code.push_back(OP_DELETE);
  code.push_back(OP_RETURN);
  MoxString* s = new MoxString(u"kept");
  MoxValue holder(s);
  t.define("delref", makeProc(code, {holder}));
  ASSERT_TRUE(t.run("delref")) << t.errors();
  EXPECT_EQ(t.top().type(), MVT_NULL);
  // MKREF lowered the count of the copy on the stack, the pool and holder
  // keep theirs.
  EXPECT_EQ(s->getRefCnt(), 2);
  // A native function value only changes kind.
  Bytes code2{OP_PUSH};
  emit(code2, OP_LIT, 3);
  code2.push_back(OP_MKREF);
  code2.push_back(OP_RETURN);
  t.define("coderef", makeProc(code2, {MoxValue(MoxNativeFunction(nullptr))}));
  ASSERT_TRUE(t.run("coderef"));
  EXPECT_EQ(t.top().type(), MVT_CODEREF);
}

TEST(Elements, AccessThatMayReleaseTheLastReference) {
  Elems t;
  // The container is the only reference (a temporary): reading or writing
  // its element frees it afterwards.
  ASSERT_TRUE(t.runSource("main() { return [1, 2, 3][1]; }")) << t.errors();
  EXPECT_EQ(t.topInt(), 2);
  ASSERT_TRUE(t.runSource("main() { return [1, 2][0] = 5; }")) << t.errors();
  EXPECT_EQ(t.topInt(), 5);
  // A vector holding itself, overwritten there.
  ASSERT_TRUE(t.runSource("main(;v) { v = [0, 7]; v[0] = v; v[0] = v[1]; return v[0] + v[1]; }"))
      << t.errors();
  EXPECT_EQ(t.topInt(), 14);
  // Values other than integers stored into buffers and strings convert.
  MoxBuffer* b = new MoxBuffer();
  b->push_back(0);
  t.global("buf", MoxValue(b));
  ASSERT_TRUE(t.runSource("main() { return buf[0] = 66.9; }")) << t.errors();
  EXPECT_EQ(t.topInt(), 66);
  ASSERT_TRUE(t.runSource("main(;s) { s = \"ab\"; s[0] = 67.5; return s; }")) << t.errors();
  EXPECT_EQ(t.topString(), "Cb");
  ASSERT_TRUE(t.runSource("main(;s) { s = \"ab\"; return s[0] * 1000 + s[1]; }")) << t.errors();
  EXPECT_EQ(t.topInt(), 97098);
  EXPECT_FALSE(t.runSource("main(;v) { v = [1]; return v[1]; }"));
  EXPECT_EQ(t.errors(), "subscript out of range\n");
}
