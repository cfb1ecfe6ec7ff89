// Byte-exact layout of module files and single values, and what reading
// them back produces.
#include <gtest/gtest.h>

#include <algorithm>

#include "ModuleTestUtil.h"
#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "modules/MoxDictionaryIO.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// A machine whose symbol table starts empty, so that files hold only what a
// test puts there.
struct EmptyVm {
  MoxStringPrinter out;
  MoxVirtualMachine vm{&out};
  EmptyVm() { vm.symbols().clear(); }
};

Bytes writeModuleBytes(MoxVirtualMachine& vm) {
  std::string path = tempPath("w");
  EXPECT_TRUE(vm.writeModule(mstr(path).c_str()));
  Bytes b = readFileBytes(path);
  unlink(path.c_str());
  return b;
}

Bytes writeValueBytes(MoxVirtualMachine& vm, MoxValue& v) {
  FILE* f = tmpfile();
  MoxDictionaryIO io(vm);
  EXPECT_TRUE(io.writeSingleValue(f, v));
  rewind(f);
  Bytes b;
  int c;
  while ((c = fgetc(f)) != EOF) b.push_back(uint8_t(c));
  fclose(f);
  return b;
}

// f() { }: PUSH NIL RETURN, no class, named f.
MoxVector* makeEmptyProc(const char16_t* name) {
  MoxVector* proc = new MoxVector();
  MoxBuffer* code = new MoxBuffer();
  code->push_back(5);
  code->push_back(4);
  code->push_back(28);
  proc->push_back(MoxValue(code));
  proc->push_back(MoxValue());
  proc->push_back(MoxValue(new MoxString(name)));
  return proc;
}

}  // namespace

TEST(ModuleFormat, ThreeEmptyDictionariesAreTwelveBytes) {
  EmptyVm m;
  Bytes b = writeModuleBytes(m.vm);
  EXPECT_EQ(b, (Bytes{0, 2, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0}));
  EmptyVm r;
  EXPECT_TRUE(readModuleFromBytes(r.vm, b));
  EXPECT_EQ(r.vm.symbols().count(), 0u);
}

TEST(ModuleFormat, GlobalIntegerInSymbolsBlock) {
  EmptyVm m;
  MoxDictionaryEntry& e = m.vm.symbols()[MoxString(u"x")];
  e.setValue(MoxValue(int32_t(5)));
  e.setSymbolType(SYM_VARIABLE);
  ByteBuilder want;
  want.emptyDict().emptyDict().u8(0).str("x").i32(3).i32(1).i32(5).end();
  Bytes b = writeModuleBytes(m.vm);
  EXPECT_EQ(b, want.b);

  EmptyVm r;
  ASSERT_TRUE(readModuleFromBytes(r.vm, b));
  MoxDictionaryEntry* x = r.vm.symbols().find(MoxString(u"x"));
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->getSymbolType(), SYM_VARIABLE);
  EXPECT_EQ(x->getValue().getType(), MVT_INTEGER);
  EXPECT_EQ(x->getValue().asInt(), 5);
}

TEST(ModuleFormat, EmptyFunctionProcedure) {
  EmptyVm m;
  MoxDictionaryEntry& e = m.vm.symbols()[MoxString(u"f")];
  e.setValue(MoxValue(makeEmptyProc(u"f"), true));
  e.setSymbolType(SYM_FUNCTION);
  ByteBuilder want;
  want.emptyDict().emptyDict().u8(0);
  want.str("f").i32(5).i32(6).i32(1).i32(3);
  want.i32(7).i32(2).i32(3).u8(5).u8(4).u8(0x1C);
  want.i32(0);
  want.i32(12).i32(3).str("f");
  want.end();
  Bytes b = writeModuleBytes(m.vm);
  EXPECT_EQ(b, want.b);

  EmptyVm r;
  ASSERT_TRUE(readModuleFromBytes(r.vm, b));
  MoxDictionaryEntry* f = r.vm.symbols().find(MoxString(u"f"));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->getSymbolType(), SYM_FUNCTION);
  ASSERT_EQ(f->getValue().getType(), MVT_BYTECODE);
  MoxVector* proc = f->getValue();
  ASSERT_EQ(proc->size(), 3u);
  MoxBuffer* code = (*proc)[0];
  ASSERT_NE(code, nullptr);
  ASSERT_EQ(code->size(), 3u);
  EXPECT_EQ((*code)[2], 0x1C);
  EXPECT_EQ((*proc)[1].getType(), MVT_NULL);
  MoxString* name = (*proc)[2];
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(*name, MoxString(u"f"));
}

TEST(ModuleFormat, SharedStringWrittenOnceAndSharedAfterReading) {
  EmptyVm m;
  MoxString* s = new MoxString(u"ab");
  MoxVector* v = new MoxVector();
  v->push_back(MoxValue(s));
  v->push_back(MoxValue(s));
  MoxValue value(v);
  ByteBuilder want;
  want.i32(11).i32(1).i32(2).i32(12).i32(2).str("ab").i32(12).i32(2).u8(255);
  Bytes b = writeValueBytes(m.vm, value);
  EXPECT_EQ(b, want.b);

  MoxValue back;
  ASSERT_TRUE(readValueFromBytes(m.vm, b, back));
  MoxVector* bv = back;
  ASSERT_NE(bv, nullptr);
  ASSERT_EQ(bv->size(), 2u);
  MoxString* a = (*bv)[0];
  MoxString* c = (*bv)[1];
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, c);
  EXPECT_EQ(*a, MoxString(u"ab"));
  EXPECT_EQ(a->getRefCnt(), 2);
}

TEST(ModuleFormat, NumbersNullAndUncountedKinds) {
  EmptyVm m;
  MoxVector* v = new MoxVector();
  v->push_back(MoxValue(1.5f));
  v->push_back(MoxValue(-2.25));
  v->push_back(MoxValue(int32_t(-7)));
  v->push_back(MoxValue());
  MoxString* s = new MoxString(u"q");
  v->push_back(MoxValue(s));
  v->push_back(MoxValue(s, true));  // uncounted twin of the same string
  MoxCharBuffer* cb = new MoxCharBuffer();
  cb->push_back(u'z');
  cb->push_back(0x263A);
  v->push_back(MoxValue(cb));
  MoxValue value(v);
  Bytes b = writeValueBytes(m.vm, value);
  MoxValue back;
  ASSERT_TRUE(readValueFromBytes(m.vm, b, back));
  MoxVector* bv = back;
  ASSERT_NE(bv, nullptr);
  ASSERT_EQ(bv->size(), 7u);
  EXPECT_EQ((*bv)[0].getType(), MVT_FLOAT);
  EXPECT_EQ((*bv)[0].asFloat(), 1.5f);
  EXPECT_EQ((*bv)[1].asDouble(), -2.25);
  EXPECT_EQ((*bv)[2].asInt(), -7);
  EXPECT_EQ((*bv)[3].getType(), MVT_NULL);
  EXPECT_EQ((*bv)[5].getType(), MVT_STRINGREF);
  EXPECT_EQ((*bv)[4].getRef(), (*bv)[5].getRef());
  MoxCharBuffer* bcb = (*bv)[6];
  ASSERT_NE(bcb, nullptr);
  ASSERT_EQ(bcb->size(), 2u);
  EXPECT_EQ((*bcb)[1], 0x263A);
}

TEST(ModuleFormat, SelfReferringObjectKeepsItsCycle) {
  EmptyVm m;
  MoxClass* k = new MoxClass(m.vm, MoxString(u"K"), nullptr);
  ASSERT_TRUE(k->addDataMember(MoxString(u"self")));
  k->fixupDataDefs();
  MoxDictionaryEntry& ce = m.vm.classes()[MoxString(u"K")];
  ce.setValue(MoxValue(k));
  ce.setSymbolType(SYM_CLASS);
  MoxObject* o = new MoxObject(k);
  (*o->getMemberData())[1] = MoxValue(o, true);  // uncounted: no leak
  MoxDictionaryEntry& x = m.vm.symbols()[MoxString(u"x")];
  x.setValue(MoxValue(o));
  x.setSymbolType(SYM_VARIABLE);
  Bytes b = writeModuleBytes(m.vm);
  // The object is written once: its member is a back-reference to it.
  ByteBuilder tail;
  tail.str("x").i32(3).i32(10).i32(1).str("K").i32(20).i32(1).str("$").end();
  ASSERT_GE(b.size(), tail.b.size());
  EXPECT_EQ(Bytes(b.end() - tail.b.size(), b.end()), tail.b);

  EmptyVm r;
  ASSERT_TRUE(readModuleFromBytes(r.vm, b));
  MoxDictionaryEntry* rx = r.vm.symbols().find(MoxString(u"x"));
  ASSERT_NE(rx, nullptr);
  MoxObject* ro = rx->getValue();
  ASSERT_NE(ro, nullptr);
  EXPECT_NE(ro, o);
  MoxClass* rk = ro->getClass();
  ASSERT_NE(rk, nullptr);
  EXPECT_EQ(*rk->getClassName(), MoxString(u"K"));
  EXPECT_EQ((*ro->getMemberData())[1].getType(), MVT_OBJECTREF);
  EXPECT_EQ((*ro->getMemberData())[1].getRef(), ro);
  (*o->getMemberData())[1].dispose();
  (*ro->getMemberData())[1].dispose();
}

TEST(ModuleFormat, VariableReferenceBoundByDictionaryName) {
  EmptyVm m;
  MoxDictionaryEntry& count = m.vm.symbols()[MoxString(u"count")];
  count.setValue(MoxValue(int32_t(1)));
  count.setSymbolType(SYM_VARIABLE);
  MoxVector* proc = makeEmptyProc(u"g");
  proc->push_back(MoxValue(&count));
  MoxDictionaryEntry& g = m.vm.symbols()[MoxString(u"g")];
  g.setValue(MoxValue(proc, true));
  g.setSymbolType(SYM_FUNCTION);
  Bytes b = writeModuleBytes(m.vm);
  ByteBuilder lit;
  lit.i32(14).str("!S").str("count").end();
  EXPECT_EQ(Bytes(b.end() - lit.b.size(), b.end()), lit.b);

  // The reader binds to its own entry of that name.
  EmptyVm r;
  MoxDictionaryEntry& own = r.vm.symbols()[MoxString(u"count")];
  own.setValue(MoxValue(int32_t(9)));
  own.setSymbolType(SYM_VARIABLE);
  ASSERT_TRUE(readModuleFromBytes(r.vm, b));
  MoxDictionaryEntry* rg = r.vm.symbols().find(MoxString(u"g"));
  ASSERT_NE(rg, nullptr);
  MoxVector* rp = rg->getValue();
  ASSERT_NE(rp, nullptr);
  ASSERT_EQ(rp->size(), 4u);
  MoxDictionaryEntry* bound = (*rp)[3];
  EXPECT_EQ(bound, r.vm.symbols().find(MoxString(u"count")));
  EXPECT_EQ(bound->getValue().asInt(), 1);  // the file's value replaced 9
}

TEST(ModuleFormat, ClassWithBaseStaticsAndMemberVariables) {
  EmptyVm m;
  MoxClass* a = new MoxClass(m.vm, MoxString(u"A"), nullptr);
  a->addDataMember(MoxString(u"x"));
  a->addStaticDataMember(MoxString(u"s"), MoxValue(int32_t(42)));
  a->fixupDataDefs();
  MoxClass* bc = new MoxClass(m.vm, MoxString(u"B"), a);
  bc->addDataMember(MoxString(u"y"));
  bc->fixupDataDefs();
  MoxDictionaryEntry& ea = m.vm.classes()[MoxString(u"A")];
  ea.setValue(MoxValue(a));
  ea.setSymbolType(SYM_CLASS);
  MoxDictionaryEntry& eb = m.vm.classes()[MoxString(u"B")];
  eb.setValue(MoxValue(bc));
  eb.setSymbolType(SYM_CLASS);
  // A method of B whose pool names B's class and A's static member.
  MoxVector* meth = makeEmptyProc(u"m");
  (*meth)[1] = MoxValue(bc, true);
  meth->push_back(MoxValue(a->dataMembers()->find(MoxString(u"s"))));
  MoxDictionaryEntry& me = (*bc->funcMembers())[MoxString(u"m")];
  me.setValue(MoxValue(meth, true));
  me.setSymbolType(SYM_METHOD);
  Bytes b = writeModuleBytes(m.vm);
  // The static's reference is written by the member table's name.
  ByteBuilder varRef;
  varRef.i32(14).str("m!A").str("s");
  EXPECT_NE(std::search(b.begin(), b.end(), varRef.b.begin(), varRef.b.end()), b.end());

  EmptyVm r;
  ASSERT_TRUE(readModuleFromBytes(r.vm, b));
  MoxClass* ra = r.vm.classes().find(MoxString(u"A"))->getValue();
  MoxClass* rb = r.vm.classes().find(MoxString(u"B"))->getValue();
  ASSERT_NE(ra, nullptr);
  ASSERT_NE(rb, nullptr);
  EXPECT_EQ(rb->getBaseClass(), ra);
  EXPECT_EQ(rb->getDataSize(), 2);
  EXPECT_EQ(rb->getMemberIndex(MoxString(u"y")), 2);
  MoxDictionaryEntry* rs = ra->dataMembers()->find(MoxString(u"s"));
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->getValue().asInt(), 42);
  MoxDictionaryEntry* rm = rb->funcMembers()->find(MoxString(u"m"));
  ASSERT_NE(rm, nullptr);
  EXPECT_EQ(rm->getSymbolType(), SYM_METHOD);
  MoxVector* rp = rm->getValue();
  ASSERT_NE(rp, nullptr);
  EXPECT_EQ(static_cast<MoxClass*>((*rp)[1]), rb);
  EXPECT_EQ(static_cast<MoxDictionaryEntry*>((*rp)[3]), rs);
}

TEST(ModuleFormat, DictionaryValuesAndBuffers) {
  EmptyVm m;
  MoxDictionary* d = new MoxDictionary(true);
  (*d)[MoxString(u"k")].setValue(MoxValue(int32_t(3)));
  MoxBuffer* buf = new MoxBuffer();
  for (int i = 0; i < 300; ++i) buf->push_back(uint8_t(i));
  (*d)[MoxString(u"b")].setValue(MoxValue(buf));
  MoxVector* v = new MoxVector();
  v->push_back(MoxValue(d));
  v->push_back(MoxValue(d));
  MoxValue value(v);
  Bytes b = writeValueBytes(m.vm, value);
  MoxValue back;
  ASSERT_TRUE(readValueFromBytes(m.vm, b, back));
  MoxVector* bv = back;
  MoxDictionary* bd = (*bv)[0];
  ASSERT_NE(bd, nullptr);
  EXPECT_EQ(bd, static_cast<MoxDictionary*>((*bv)[1]));
  EXPECT_TRUE(bd->isSorted());
  EXPECT_EQ(bd->find(MoxString(u"k"))->getValue().asInt(), 3);
  MoxBuffer* bb = bd->find(MoxString(u"b"))->getValue();
  ASSERT_NE(bb, nullptr);
  ASSERT_EQ(bb->size(), 300u);
  EXPECT_EQ((*bb)[299], uint8_t(299));
}

TEST(ModuleFormat, SingleClassValueCarriesDefinitionButIsNotEntered) {
  EmptyVm m;
  MoxClass* c = new MoxClass(m.vm, MoxString(u"Solo"), nullptr);
  c->addStaticDataMember(MoxString(u"v"), MoxValue(int32_t(8)));
  c->fixupDataDefs();
  MoxValue value(c);
  Bytes b = writeValueBytes(m.vm, value);
  ByteBuilder head;
  head.i32(9).str("Solo").str("");
  ASSERT_GE(b.size(), head.b.size());
  EXPECT_EQ(Bytes(b.begin(), b.begin() + head.b.size()), head.b);
  MoxValue back;
  ASSERT_TRUE(readValueFromBytes(m.vm, b, back));
  MoxClass* rc = back;
  ASSERT_NE(rc, nullptr);
  EXPECT_NE(rc, c);
  EXPECT_EQ(rc->dataMembers()->find(MoxString(u"v"))->getValue().asInt(), 8);
  EXPECT_EQ(m.vm.classes().find(MoxString(u"Solo")), nullptr);
}

TEST(ModuleFormat, StreamsAreBoundByNameWithoutLosingThem) {
  // A fresh machine has stdin, stdout and stderr variables; reading its own
  // module back must keep them.
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  std::string path = tempPath("streams");
  ASSERT_TRUE(vm.writeModule(mstr(path).c_str()));
  ASSERT_TRUE(vm.readModule(mstr(path).c_str()));
  unlink(path.c_str());
  MoxDictionaryEntry* e = vm.symbols().find(MoxString(u"stdout"));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(static_cast<void*>(e->getValue()), static_cast<void*>(stdout));
}

TEST(ModuleFormat, NullPathsAndMissingFiles) {
  EmptyVm m;
  EXPECT_FALSE(m.vm.writeModule(nullptr));
  EXPECT_FALSE(m.vm.readModule(nullptr));
  EXPECT_FALSE(m.vm.readModule(u"/nonexistent/dir/x.mxm"));
  EXPECT_NE(MoxString(m.out.c_str()).find(MoxString(u"opening /nonexistent/dir/x.mxm for read failed\n")), -1);
  EXPECT_FALSE(m.vm.writeModule(u"/nonexistent/dir/x.mxm"));
  EXPECT_NE(MoxString(m.out.c_str()).find(MoxString(u"for write failed\n")), -1);
  MoxDictionaryIO io(m.vm);
  MoxValue v;
  EXPECT_FALSE(io.writeSingleValue(nullptr, v));
  EXPECT_FALSE(io.readSingleValue(nullptr, v));
}

// Older writers stored a method's own class as a counted value. Reading such a
// file must not leave a class-method cycle behind (LeakSanitizer checks the
// teardown of the reading machine).
TEST(ModuleFormat, CountedOwnClassOfAMethodReadsWithoutCycle) {
  EmptyVm m;
  MoxClass* k = new MoxClass(m.vm, MoxString(u"K"), nullptr);
  MoxDictionaryEntry& ek = m.vm.classes()[MoxString(u"K")];
  ek.setValue(MoxValue(k));
  ek.setSymbolType(SYM_CLASS);
  MoxVector* meth = makeEmptyProc(u"m");
  (*meth)[1] = MoxValue(k);  // counted on purpose
  MoxDictionaryEntry& me = (*k->funcMembers())[MoxString(u"m")];
  me.setValue(MoxValue(meth, true));
  me.setSymbolType(SYM_METHOD);
  Bytes b = writeModuleBytes(m.vm);
  (*meth)[1] = MoxValue(k, true);  // break the writer side's cycle

  EmptyVm r;
  ASSERT_TRUE(readModuleFromBytes(r.vm, b));
  MoxClass* rk = r.vm.classes().find(MoxString(u"K"))->getValue();
  ASSERT_NE(rk, nullptr);
  MoxVector* rp = rk->funcMembers()->find(MoxString(u"m"))->getValue();
  ASSERT_NE(rp, nullptr);
  EXPECT_EQ((*rp)[1].getType(), MVT_CLASSREF);
  EXPECT_EQ(static_cast<MoxClass*>((*rp)[1]), rk);
}
