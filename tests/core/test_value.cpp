// Values: counting rules, conversions, addr, and the release of deep data.
#include <gtest/gtest.h>

#include <cfloat>

#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"

namespace {

// Counts live instances so tests can see exactly when deletion happens.
struct Probe : MoxString {
  static int alive;
  Probe() { ++alive; }
  ~Probe() override { --alive; }
};
int Probe::alive = 0;

bool nativeFn(MoxVirtualMachine*, int, ValPtr&) { return true; }

}  // namespace

TEST(Value, CountedAndRefKindsOwnReferencesCorrectly) {
  Probe::alive = 0;
  {
    MoxValue v(new Probe(), false);
    EXPECT_EQ(v.type(), MVT_STRING);
    EXPECT_EQ(v.getRef()->getRefCnt(), 1);
    MoxValue copy(v);
    EXPECT_EQ(v.getRef()->getRefCnt(), 2);
    copy.dispose();
    EXPECT_EQ(copy.type(), MVT_NULL);
    EXPECT_EQ(copy.ptr(), nullptr);
    EXPECT_EQ(v.getRef()->getRefCnt(), 1);
  }
  EXPECT_EQ(Probe::alive, 0);

  Probe* p = new Probe();
  {
    MoxValue ref(p, true);
    EXPECT_EQ(ref.type(), MVT_STRINGREF);
    MoxValue copy = ref;
    copy = ref;
    EXPECT_EQ(p->getRefCnt(), 0);
  }
  EXPECT_EQ(Probe::alive, 1);
  EXPECT_EQ(p->release(), 0);  // a release at count 0 deletes
  EXPECT_EQ(Probe::alive, 0);
}

TEST(Value, AssignmentIsSafeForSelfAndForValuesOwnedByTheOldContent) {
  Probe::alive = 0;
  MoxValue v(new Probe(), false);
  MoxValue& alias = v;
  v = alias;
  EXPECT_EQ(Probe::alive, 1);
  EXPECT_EQ(v.getRef()->getRefCnt(), 1);

  // The new value lives only inside the vector that the old content holds.
  MoxVector* outer = new MoxVector();
  outer->push_back(MoxValue(new Probe(), false));
  MoxValue holder(outer, false, false);
  holder = (*outer)[0];
  EXPECT_EQ(holder.type(), MVT_STRING);
  EXPECT_EQ(Probe::alive, 2);
  holder.dispose();
  v.dispose();
  EXPECT_EQ(Probe::alive, 0);

  MoxValue a(new Probe(), false), b(new Probe(), false);
  a = std::move(b);
  EXPECT_EQ(Probe::alive, 1);
  EXPECT_EQ(b.type(), MVT_NULL);
}

TEST(Value, ConstructorsPickKinds) {
  MoxVector* vec = new MoxVector();
  MoxValue keep(vec, false, false);
  EXPECT_EQ(MoxValue(vec, true, false).type(), MVT_BYTECODE);
  EXPECT_EQ(MoxValue(vec, true, true).type(), MVT_BYTECODEREF);
  EXPECT_EQ(MoxValue(vec, false, true).type(), MVT_VECTORREF);
  EXPECT_EQ(MoxValue(vec, MVT_BYTECODE).type(), MVT_BYTECODE);
  EXPECT_EQ(vec->getRefCnt(), 1);
  EXPECT_EQ(MoxValue(static_cast<MoxRefObject*>(vec), MVT_VECTORREF).type(), MVT_VECTORREF);
  EXPECT_EQ(MoxValue(int32_t(3)).type(), MVT_INTEGER);
  EXPECT_EQ(MoxValue(1.5f).type(), MVT_FLOAT);
  EXPECT_EQ(MoxValue(1.5).type(), MVT_DOUBLE);
  EXPECT_EQ(MoxValue(static_cast<void*>(stdout)).type(), MVT_FILE);
  EXPECT_EQ(MoxValue(&nativeFn).type(), MVT_CODE);
  MoxValue nullObj(static_cast<MoxString*>(nullptr), false);
  EXPECT_EQ(nullObj.type(), MVT_STRING);
  EXPECT_EQ(static_cast<MoxString*>(nullObj), nullptr);
}

TEST(Value, ConversionsFollowKinds) {
  MoxValue n;
  EXPECT_EQ(int32_t(n), 0);
  EXPECT_EQ(float(n), FLT_MAX);
  EXPECT_EQ(double(n), DBL_MAX);
  EXPECT_EQ(int32_t(MoxValue(2.9)), 2);
  EXPECT_EQ(int32_t(MoxValue(-2.9f)), -2);
  EXPECT_EQ(int32_t(MoxValue(1e300)), INT32_MAX);  // no undefined cast
  EXPECT_EQ(int32_t(MoxValue(-1e300)), INT32_MIN);
  EXPECT_EQ(float(MoxValue(int32_t(7))), 7.0f);
  EXPECT_EQ(double(MoxValue(0.5f)), 0.5);

  MoxVector* vec = new MoxVector();
  MoxValue code(vec, true, false);
  EXPECT_EQ(static_cast<MoxVector*>(code), vec);
  EXPECT_EQ(static_cast<MoxString*>(code), nullptr);
  MoxValue fnRef(&nativeFn);
  EXPECT_EQ(static_cast<MoxNativeFunction>(fnRef), &nativeFn);
  MoxValue codeRef(static_cast<MoxRefObject*>(nullptr), MVT_CODEREF);
  EXPECT_EQ(static_cast<MoxNativeFunction>(codeRef), nullptr);
  EXPECT_EQ(static_cast<void*>(MoxValue(int32_t(5))), nullptr);

  MoxValue wide = MoxValue::fromInt64(0x1234567800000009LL);
  EXPECT_EQ(int32_t(wide), 9);
  EXPECT_EQ(wide.asInt64(), 0x1234567800000009LL);
}

TEST(Value, AddrReachesTheData) {
  MoxValue i(int32_t(1));
  *static_cast<int32_t*>(i.addr()) = 42;
  EXPECT_EQ(i.asInt(), 42);
  MoxString* s = new MoxString(u"hi");
  MoxValue sv(s, false);
  EXPECT_EQ(sv.addr(), s->c_str());
  MoxBuffer* b = new MoxBuffer(4);
  MoxValue bv(b, true);
  EXPECT_EQ(bv.addr(), b->data());
  delete b;
  EXPECT_EQ(MoxValue().addr(), nullptr);
}

TEST(Value, AssignRefCountsOnlyCountedKinds) {
  MoxString* a = new MoxString(u"a");
  MoxString* b = new MoxString(u"b");
  MoxValue keepA(a, false), keepB(b, false);
  MoxValue v(a, false);
  EXPECT_EQ(a->getRefCnt(), 2);
  v.assignRef(b);
  EXPECT_EQ(a->getRefCnt(), 1);
  EXPECT_EQ(b->getRefCnt(), 2);
  MoxValue r(a, true);
  r.assignRef(b);
  EXPECT_EQ(b->getRefCnt(), 2);
  EXPECT_EQ(r.getRef(), b);
}

TEST(Value, TypeNames) {
  EXPECT_EQ(MoxString(getValueTypeName(MVT_NULL)).compare(MoxString(u"MVT_NULL")), 0);
  EXPECT_EQ(MoxString(getValueTypeName(MVT_DICTIONARYREF)).compare(MoxString(u"MVT_DICTIONARYREF")),
            0);
  EXPECT_NE(getValueTypeName(MoxValueType(24)), nullptr);
  EXPECT_NE(getValueTypeName(MoxValueType(-1)), nullptr);
}

TEST(Value, DeeplyNestedVectorsReleaseWithoutDeepRecursion) {
  Probe::alive = 0;
  MoxValue root(new MoxVector(), false, false);
  MoxVector* cur = root;
  cur->push_back(MoxValue(new Probe(), false));
  for (int i = 0; i < 1000000; ++i) {
    MoxVector* next = new MoxVector();
    cur->push_back(MoxValue(next, false, false));
    cur = next;
  }
  cur->push_back(MoxValue(new Probe(), false));
  root.dispose();  // would overflow the native stack if released recursively
  EXPECT_EQ(Probe::alive, 0);
}

TEST(Value, LongDictionaryChainsRelease) {
  MoxValue root(new MoxDictionary(false), false);
  MoxDictionary* cur = root;
  for (int i = 0; i < 300000; ++i) {
    MoxDictionary* next = new MoxDictionary(true);
    (*cur)[MoxString(u"k")].setValue(MoxValue(next, false));
    cur = next;
  }
  root.dispose();
  SUCCEED();
}
