// Hostile and damaged module files: every one must fail the read with a
// message, without crashing and without allocating what the file cannot
// describe.
#include <gtest/gtest.h>
#include <unistd.h>

#include "ModuleTestUtil.h"
#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxVector.h"
#include "modules/MoxDictionaryIO.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

struct Reader {
  MoxStringPrinter out;
  MoxVirtualMachine vm{&out};
  Reader() { vm.symbols().clear(); }

  bool module(const Bytes& b) { return readModuleFromBytes(vm, b); }
  bool value(const Bytes& b, MoxValue& v) { return readValueFromBytes(vm, b, v); }
  bool said(const char16_t* text) const { return MoxString(out.c_str()).find(MoxString(text)) >= 0; }
};

// A module with a class, an object, shared strings, buffers and a procedure:
// every kind of record the reader knows.
Bytes richModule() {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  vm.symbols().clear();
  MoxClass* k = new MoxClass(vm, MoxString(u"K"), nullptr);
  k->addDataMember(MoxString(u"a"));
  k->addStaticDataMember(MoxString(u"s"), MoxValue(new MoxString(u"static")));
  k->fixupDataDefs();
  MoxDictionaryEntry& ce = vm.classes()[MoxString(u"K")];
  ce.setValue(MoxValue(k));
  ce.setSymbolType(SYM_CLASS);
  MoxObject* o = new MoxObject(k);
  MoxString* shared = new MoxString(u"shared");
  (*o->getMemberData())[1] = MoxValue(shared);
  MoxVector* v = new MoxVector();
  v->push_back(MoxValue(o));
  v->push_back(MoxValue(shared));
  MoxBuffer* b = new MoxBuffer();
  b->push_back(1);
  b->push_back(2);
  v->push_back(MoxValue(b));
  MoxCharBuffer* cb = new MoxCharBuffer();
  cb->push_back(u'c');
  v->push_back(MoxValue(cb));
  MoxDictionary* d = new MoxDictionary(false);
  (*d)[MoxString(u"key")].setValue(MoxValue(2.5));
  v->push_back(MoxValue(d));
  v->push_back(MoxValue(k->dataMembers()->find(MoxString(u"s"))));
  MoxDictionaryEntry& x = vm.symbols()[MoxString(u"x")];
  x.setValue(MoxValue(v));
  x.setSymbolType(SYM_VARIABLE);
  std::string path = tempPath("rich");
  EXPECT_TRUE(vm.writeModule(mstr(path).c_str()));
  Bytes bytes = readFileBytes(path);
  unlink(path.c_str());
  return bytes;
}

// Top of a module whose symbols block holds one entry "v" with the value
// that follows.
ByteBuilder symbolsPrefix() {
  ByteBuilder b;
  b.emptyDict().emptyDict().u8(0).str("v").i32(SYM_VARIABLE);
  return b;
}

}  // namespace

TEST(ModuleReadErrors, RichModuleReadsAndEveryTruncationFails) {
  Bytes full = richModule();
  {
    Reader r;
    ASSERT_TRUE(r.module(full)) << r.out.a_str();
    MoxVector* v = r.vm.symbols().find(MoxString(u"x"))->getValue();
    ASSERT_NE(v, nullptr);
    MoxObject* o = (*v)[0];
    ASSERT_NE(o, nullptr);
    EXPECT_EQ((*o->getMemberData())[1].getRef(), (*v)[1].getRef());
  }
  for (size_t n = 0; n < full.size(); ++n) {
    Reader r;
    EXPECT_FALSE(r.module(Bytes(full.begin(), full.begin() + n))) << "length " << n;
    EXPECT_FALSE(MoxString(r.out.c_str()).empty()) << "no message at length " << n;
  }
  Reader r;
  EXPECT_FALSE(r.module(Bytes()));
  EXPECT_TRUE(r.said(u"error reading dicionary (sorted flag)\n"));
}

TEST(ModuleReadErrors, UnknownTypesAndSymbolKinds) {
  for (int32_t t : {24, 99, -1, 0x7FFFFFFF}) {
    Reader r;
    ByteBuilder b = symbolsPrefix();
    b.i32(t).end();
    EXPECT_FALSE(r.module(b.b)) << t;
    EXPECT_TRUE(r.said(u"unknown value type")) << t;
  }
  Reader r;
  ByteBuilder b;
  b.emptyDict().emptyDict().u8(0).str("v").i32(6).i32(0).end();
  EXPECT_FALSE(r.module(b.b));
  EXPECT_TRUE(r.said(u"unknown symbol type 6"));
}

TEST(ModuleReadErrors, BadWidths) {
  {
    // A key with three-byte units.
    Reader r;
    ByteBuilder b;
    b.emptyDict().emptyDict().u8(0).u8(3).u8('v').u8(0).u8(0).u8(0).u8(0).u8(0);
    EXPECT_FALSE(r.module(b.b));
    EXPECT_TRUE(r.said(u"bad character width 3"));
  }
  {
    Reader r;
    ByteBuilder b;
    b.i32(MVT_CHARBUFFER).i32(1).i32(1).u8(4).i32(65);
    MoxValue v;
    EXPECT_FALSE(r.value(b.b, v));
    EXPECT_TRUE(r.said(u"bad character width 4"));
  }
  {
    // One-byte units are accepted.
    Reader r;
    ByteBuilder b;
    b.i32(MVT_STRING).i32(1).u8(1).u8('h').u8('i').u8(0);
    MoxValue v;
    ASSERT_TRUE(r.value(b.b, v));
    EXPECT_EQ(*static_cast<MoxString*>(v), MoxString(u"hi"));
  }
}

TEST(ModuleReadErrors, AbsurdCountsFailBeforeAllocating) {
  struct Case {
    MoxValueType type;
    int32_t count;
  } cases[] = {{MVT_VECTOR, 0x7FFFFFFF}, {MVT_BYTECODE, 1 << 28}, {MVT_BUFFER, 0x7FFFFFF0},
               {MVT_CHARBUFFER, 0x40000000}, {MVT_VECTOR, -2}, {MVT_BUFFER, -100}};
  for (const Case& c : cases) {
    Reader r;
    ByteBuilder b;
    b.i32(c.type).i32(1).i32(c.count).u8(2).i32(0).i32(0);
    MoxValue v;
    EXPECT_FALSE(r.value(b.b, v)) << c.type << " " << c.count;
    EXPECT_TRUE(r.said(u"exceeds the module file")) << r.out.a_str();
    EXPECT_EQ(v.getType(), MVT_NULL);
  }
}

TEST(ModuleReadErrors, AbsurdCountFromAPipeOnlyCostsWhatArrives) {
  // A pipe has no known length: the reader must not trust the count.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ByteBuilder b;
  b.i32(MVT_VECTOR).i32(1).i32(0x7FFFFFFF).i32(MVT_INTEGER).i32(1);
  ASSERT_EQ(write(fds[1], b.b.data(), b.b.size()), ssize_t(b.b.size()));
  close(fds[1]);
  FILE* f = fdopen(fds[0], "rb");
  Reader r;
  MoxDictionaryIO io(r.vm);
  MoxValue v;
  EXPECT_FALSE(io.readSingleValue(f, v));
  EXPECT_TRUE(r.said(u"truncated"));
  fclose(f);
}

TEST(ModuleReadErrors, BadBackReferences) {
  {
    // Identifier 7 is never defined.
    Reader r;
    ByteBuilder b;
    b.i32(MVT_VECTOR).i32(1).i32(1).i32(MVT_STRING).i32(7).u8(255);
    MoxValue v;
    EXPECT_FALSE(r.value(b.b, v));
    EXPECT_TRUE(r.said(u"back-reference to undefined object 7"));
    // The unresolved element is null, not a string without its object.
    MoxVector* vec = v;
    ASSERT_NE(vec, nullptr);
    EXPECT_EQ((*vec)[0].getType(), MVT_NULL);
  }
  {
    // Identifier 2 is a string, referenced as a buffer.
    Reader r;
    ByteBuilder b;
    b.i32(MVT_VECTOR).i32(1).i32(2);
    b.i32(MVT_STRING).i32(2).str("s");
    b.i32(MVT_BUFFER).i32(2).i32(-1);
    MoxValue v;
    EXPECT_FALSE(r.value(b.b, v));
    EXPECT_TRUE(r.said(u"of another kind"));
    MoxVector* vec = v;
    ASSERT_NE(vec, nullptr);
    EXPECT_EQ((*vec)[1].getType(), MVT_NULL);
  }
  {
    // The same identifier defined twice.
    Reader r;
    ByteBuilder b;
    b.i32(MVT_VECTOR).i32(1).i32(1).i32(MVT_STRING).i32(1).str("s");
    MoxValue v;
    EXPECT_FALSE(r.value(b.b, v));
    EXPECT_TRUE(r.said(u"object 1 defined twice"));
  }
  {
    // A back-reference mark where a key belongs.
    Reader r;
    ByteBuilder b;
    b.emptyDict().emptyDict().u8(0).u8(255);
    EXPECT_FALSE(r.module(b.b));
    EXPECT_TRUE(r.said(u"misplaced back-reference mark"));
  }
}

TEST(ModuleReadErrors, DeepNestingFailsInsteadOfOverflowing) {
  Reader r;
  ByteBuilder b;
  for (int i = 0; i < 100000; ++i) b.i32(MVT_VECTOR).i32(i + 1).i32(1);
  b.i32(MVT_NULL);
  MoxValue v;
  EXPECT_FALSE(r.value(b.b, v));
  EXPECT_TRUE(r.said(u"nested too deeply"));

  // Nested dictionaries too.
  Reader r2;
  ByteBuilder d;
  for (int i = 0; i < 50000; ++i) d.i32(MVT_DICTIONARY).i32(i + 1).u8(0).str("k").i32(3);
  MoxValue v2;
  EXPECT_FALSE(r2.value(d.b, v2));
  EXPECT_TRUE(r2.said(u"nested too deeply"));
}

TEST(ModuleReadErrors, ClassesAndObjects) {
  {
    // An object of a class the machine does not have.
    Reader r;
    ByteBuilder b = symbolsPrefix();
    b.i32(MVT_OBJECT).i32(1).str("Nope").end();
    EXPECT_FALSE(r.module(b.b));
    EXPECT_TRUE(r.said(u"class Nope not found\n"));
  }
  {
    // A class reference by name to a missing class.
    Reader r;
    ByteBuilder b = symbolsPrefix();
    b.i32(MVT_CLASS).str("Gone").str("$").end();
    EXPECT_FALSE(r.module(b.b));
    EXPECT_TRUE(r.said(u"class Gone not found\n"));
  }
  {
    // A data size that the members cannot account for.
    Reader r;
    ByteBuilder b;
    b.emptyDict().u8(0).str("C").i32(SYM_CLASS).i32(MVT_CLASS).str("C").str("");
    b.u8(0).str("m").i32(SYM_MEMBER).i32(MVT_INTEGER).i32(1).end();
    b.u8(1).end();
    b.i32(1000000).end().emptyDict();
    EXPECT_FALSE(r.module(b.b));
    EXPECT_TRUE(r.said(u"data size of class C"));
  }
  {
    // The correct size is accepted.
    Reader r;
    ByteBuilder b;
    b.emptyDict().u8(0).str("C").i32(SYM_CLASS).i32(MVT_CLASS).str("C").str("");
    b.u8(0).str("m").i32(SYM_MEMBER).i32(MVT_INTEGER).i32(1).end();
    b.u8(1).end();
    b.i32(1).end().emptyDict();
    EXPECT_TRUE(r.module(b.b)) << r.out.a_str();
  }
}

TEST(ModuleReadErrors, UnloadableNativeModuleStopsBeforeClasses) {
  Reader r;
  ByteBuilder b;
  b.u8(0).str("no_such_native_module_xyz").i32(0).i32(MVT_INTEGER).i32(0).end();
  b.u8(0).str("C").i32(SYM_CLASS).i32(MVT_CLASS).str("C").str("").emptyDict().u8(1).end().i32(0).end();
  b.emptyDict();
  EXPECT_FALSE(r.module(b.b));
  EXPECT_EQ(r.vm.classes().find(MoxString(u"C")), nullptr);
}

TEST(ModuleReadErrors, WritingTooDeepOrBrokenValuesFailsCleanly) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  MoxValue root(new MoxVector());
  MoxVector* cur = root;
  for (int i = 0; i < 1000; ++i) {
    MoxVector* next = new MoxVector();
    cur->push_back(MoxValue(next));
    cur = next;
  }
  FILE* f = tmpfile();
  MoxDictionaryIO io(vm);
  EXPECT_FALSE(io.writeSingleValue(f, root));
  EXPECT_NE(MoxString(out.c_str()).find(MoxString(u"nested too deeply")), -1);

  MoxValue broken(static_cast<MoxRefObject*>(nullptr), MVT_STRING);
  EXPECT_FALSE(io.writeSingleValue(f, broken));
  fclose(f);

  // In a module, the failing entry is named.
  MoxDictionaryEntry& e = vm.symbols()[MoxString(u"bad")];
  e.setValue(broken);
  e.setSymbolType(SYM_VARIABLE);
  std::string path = tempPath("badwrite");
  EXPECT_FALSE(vm.writeModule(mstr(path).c_str()));
  unlink(path.c_str());
  EXPECT_NE(MoxString(out.c_str()).find(MoxString(u"error while writing dictionary entry bad\n")), -1);
}

TEST(ModuleReadErrors, OwnerlessUncountedObjectsGetAnOwner) {
  // An uncounted first occurrence that nothing counted refers to: the slot
  // that holds it becomes its owner instead of leaking it or freeing it
  // under the reference.
  Reader r;
  ByteBuilder b;
  b.i32(MVT_VECTOR).i32(1).i32(2);
  b.i32(MVT_STRINGREF).i32(2).str("lonely");
  b.i32(MVT_STRINGREF).i32(2).u8(255);
  MoxValue v;
  ASSERT_TRUE(r.value(b.b, v)) << r.out.a_str();
  MoxVector* vec = v;
  ASSERT_NE(vec, nullptr);
  EXPECT_EQ((*vec)[0].getType(), MVT_STRING);
  EXPECT_EQ((*vec)[1].getType(), MVT_STRINGREF);
  EXPECT_EQ((*vec)[0].getRef(), (*vec)[1].getRef());
  EXPECT_EQ((*vec)[0].getRef()->getRefCnt(), 1);

  // An object rejected for a duplicate identifier is released too.
  Reader r2;
  ByteBuilder d;
  d.i32(MVT_VECTOR).i32(1).i32(1).i32(MVT_STRINGREF).i32(1).str("dup");
  MoxValue v2;
  EXPECT_FALSE(r2.value(d.b, v2));
}

TEST(ModuleReadErrors, ClassDefinitionsCannotCloseACycle) {
  // Class K whose static member holds a definition of a class deriving
  // from K, whose definition is still being read.
  Reader r;
  ByteBuilder b;
  b.emptyDict().u8(0).str("K").i32(SYM_CLASS).i32(MVT_CLASS).str("K").str("");
  b.u8(0).str("s").i32(SYM_VARIABLE).i32(MVT_CLASS).str("L").str("K").emptyDict().emptyDict().i32(0).end();
  b.u8(1).end().i32(0).end().emptyDict();
  EXPECT_FALSE(r.module(b.b));
  EXPECT_TRUE(r.said(u"class L derives from a class still being read\n"));

  Reader r2;
  ByteBuilder c;
  c.emptyDict().u8(0).str("K").i32(SYM_CLASS).i32(MVT_CLASS).str("K").str("");
  c.u8(0).str("s").i32(SYM_VARIABLE).i32(MVT_CLASS).str("K").str("").emptyDict().emptyDict().i32(0).end();
  c.u8(1).end().i32(0).end().emptyDict();
  EXPECT_FALSE(r2.module(c.b));
  EXPECT_TRUE(r2.said(u"class K defined inside its own definition\n"));
}
