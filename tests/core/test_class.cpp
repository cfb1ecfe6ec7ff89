// Classes and objects: members, slot numbering across bases, subtyping.
#include <gtest/gtest.h>

#include "core/MoxClass.h"
#include "vm/MoxVirtualMachine.h"

namespace {

bool nativeFn(MoxVirtualMachine*, int, ValPtr&) { return true; }

class ClassTest : public ::testing::Test {
 protected:
  MoxVirtualMachine vm;
};

}  // namespace

TEST_F(ClassTest, SlotsAcrossBases) {
  MoxValue a(new MoxClass(vm, MoxString(u"A"), nullptr), false);
  MoxClass* A = a;
  EXPECT_EQ(A->getDataSize(), -1);
  EXPECT_TRUE(A->addDataMember(MoxString(u"x")));
  EXPECT_TRUE(A->addStaticDataMember(MoxString(u"s"), MoxValue(int32_t(4))));
  EXPECT_TRUE(A->addDataMember(MoxString(u"y")));
  A->fixupDataDefs();
  EXPECT_EQ(A->getDataSize(), 2);
  EXPECT_EQ(A->getMemberIndex(MoxString(u"x")), 1);
  EXPECT_EQ(A->getMemberIndex(MoxString(u"y")), 2);
  EXPECT_EQ(A->getMemberIndex(MoxString(u"s")), -1);

  MoxValue b(new MoxClass(vm, MoxString(u"B"), A), false);
  MoxClass* B = b;
  EXPECT_TRUE(B->addDataMember(MoxString(u"z")));
  B->fixupDataDefs();
  EXPECT_EQ(B->getDataSize(), 3);
  EXPECT_EQ(B->getMemberIndex(MoxString(u"z")), 3);
  EXPECT_EQ(B->getMemberIndex(MoxString(u"x")), 1);
  EXPECT_EQ(B->getMemberIndex(MoxString(u"nope")), -1);
  EXPECT_EQ(B->findMember(MoxString(u"x"), false), nullptr);
  EXPECT_NE(B->findMember(MoxString(u"s"), true), nullptr);

  MoxValue o(new MoxObject(B), false);
  MoxObject* obj = o;
  ASSERT_NE(obj->getMemberData(), nullptr);
  EXPECT_EQ(obj->getMemberData()->size(), 4u);
  EXPECT_EQ(obj->getClass(), B);
  EXPECT_EQ((*obj->getMemberData())[0].type(), MVT_CLASS);
  (*obj->getMemberData())[1] = MoxValue(new MoxString(u"shared"), false);
  MoxValue copy(new MoxObject(*obj), false);
  MoxObject* c = copy;
  EXPECT_NE(c->getMemberData(), obj->getMemberData());
  EXPECT_EQ((*c->getMemberData())[1].getRef(), (*obj->getMemberData())[1].getRef());
  EXPECT_EQ(MoxObject(nullptr).getClass(), nullptr);
}

TEST_F(ClassTest, BaseNamesAndSubtypes) {
  MoxValue a(new MoxClass(vm, MoxString(u"A"), nullptr), false);
  MoxValue b(new MoxClass(vm, MoxString(u"B"), nullptr), false);
  MoxValue other(new MoxClass(vm, MoxString(u"C"), nullptr), false);
  MoxClass* A = a;
  MoxClass* B = b;
  EXPECT_TRUE(B->setBaseClass(nullptr));
  EXPECT_TRUE(B->setBaseClass(A));
  EXPECT_FALSE(B->setBaseClass(other));
  EXPECT_EQ(B->getBaseClass(), A);
  EXPECT_FALSE(A->setBaseClass(B));  // would close a cycle
  EXPECT_EQ(A->getBaseClass(), nullptr);
  EXPECT_TRUE(B->isSubtypeOf(A));
  EXPECT_TRUE(B->isSubtypeOf(B));
  EXPECT_FALSE(A->isSubtypeOf(B));
  EXPECT_TRUE(B->isSubtypeOf(MoxString(u"A")));
  EXPECT_FALSE(A->isSubtypeOf(MoxString(u"B")));
  EXPECT_FALSE(A->setClassName(MoxString(u"Z")));

  MoxValue anon(new MoxClass(vm, MoxString(), A), false);
  MoxClass* N = anon;
  EXPECT_EQ(N->getClassName(), nullptr);
  EXPECT_FALSE(N->isSubtypeOf(MoxString(u"A")));  // the walk stops at the unnamed class
  EXPECT_FALSE(N->setClassName(MoxString()));
  EXPECT_TRUE(N->setClassName(MoxString(u"N")));
  EXPECT_TRUE(N->isSubtypeOf(MoxString(u"A")));
  EXPECT_EQ(N->dataMembers()->getOwner(), N);
  EXPECT_EQ(N->funcMembers()->getOwner(), N);
  EXPECT_TRUE(N->funcMembers()->isSorted());
}

TEST_F(ClassTest, AddOperationsRejectDuplicatesAndNulls) {
  MoxValue a(new MoxClass(vm), false);
  MoxClass* A = a;
  EXPECT_FALSE(A->addDataMember(MoxString()));
  EXPECT_TRUE(A->addDataMember(MoxString(u"m")));
  EXPECT_FALSE(A->addMethod(MoxString(u"f"), nullptr));
  EXPECT_FALSE(A->addMethod(MoxString(u"m"), &nativeFn));
  EXPECT_FALSE(A->addStaticDataMember(MoxString(u"m")));
  EXPECT_TRUE(A->addMethod(MoxString(u"f"), &nativeFn));
  EXPECT_FALSE(A->addDataMember(MoxString(u"f")));
  EXPECT_TRUE(A->addStaticMethod(MoxString(u"g"), &nativeFn));
  MoxDictionaryEntry* f = A->findMember(MoxString(u"f"), false);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->getSymbolType(), SYM_METHOD);
  EXPECT_EQ(static_cast<MoxNativeFunction>(f->getValue()), &nativeFn);
  EXPECT_EQ(A->findMember(MoxString(u"g"), false)->getSymbolType(), SYM_FUNCTION);
  // An object of a class whose size was never computed still has its class.
  MoxObject early(A);
  EXPECT_EQ(early.getMemberData()->size(), 1u);
  EXPECT_EQ(early.getClass(), A);
}

TEST_F(ClassTest, LongBaseChainsWalkAndRelease) {
  MoxValue root(new MoxClass(vm, MoxString(u"R"), nullptr), false);
  static_cast<MoxClass*>(root)->addDataMember(MoxString(u"r"));
  MoxValue cur = root;
  for (int i = 0; i < 200000; ++i) {
    MoxClass* next = new MoxClass(vm, static_cast<MoxString*>(nullptr), cur);
    cur = MoxValue(next, false);
  }
  MoxClass* leaf = cur;
  EXPECT_EQ(leaf->computeDataSize(), 1);
  EXPECT_TRUE(leaf->isSubtypeOf(static_cast<MoxClass*>(root)));
  EXPECT_EQ(leaf->getMemberIndex(MoxString(u"r")), 0);  // not yet numbered
  root.dispose();
  cur.dispose();  // the whole chain goes without deep recursion
}

TEST_F(ClassTest, LongObjectChainReleases) {
  MoxValue node(new MoxClass(vm, MoxString(u"Node"), nullptr), false);
  MoxClass* N = node;
  N->addDataMember(MoxString(u"next"));
  N->fixupDataDefs();
  MoxValue head(new MoxObject(N), false);
  MoxObject* cur = head;
  for (int i = 0; i < 500000; ++i) {
    MoxObject* next = new MoxObject(N);
    (*cur->getMemberData())[1] = MoxValue(next, false);
    cur = next;
  }
  EXPECT_EQ(N->getRefCnt(), 500002);
  head.dispose();
  EXPECT_EQ(N->getRefCnt(), 1);
}

// Objects made by create() carry their member data in their own block. The
// data behaves as the separate vector does: members released with the
// object, a member vector grown past its block moving out, an uncounted
// reference outliving the object reading as dead, and both kinds of object
// mixed in one chain.
TEST_F(ClassTest, ObjectsWithMembersInTheirBlock) {
  MoxValue node(new MoxClass(vm, MoxString(u"Node"), nullptr), false);
  MoxClass* N = node;
  N->addDataMember(MoxString(u"next"));
  N->addDataMember(MoxString(u"text"));
  N->fixupDataDefs();

  MoxValue text(new MoxString(u"kept"), false);
  MoxValue weak;
  {
    MoxValue o(MoxObject::create(N), false);
    MoxObject* obj = o;
    MoxVector* data = obj->getMemberData();
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(data->isEmbedded());
    EXPECT_EQ(data->size(), 3u);
    EXPECT_EQ(obj->getClass(), N);
    (*data)[2] = text;
    EXPECT_EQ(text.getRef()->getRefCnt(), 2);
    // Growing moves the slots into a block of their own.
    for (int i = 0; i < 10; ++i) data->push_back(MoxValue(int32_t(i)));
    EXPECT_EQ(data->size(), 13u);
    EXPECT_EQ((*data)[2].getRef(), text.getRef());
    weak = MoxValue(obj, true);
  }
  EXPECT_EQ(text.getRef()->getRefCnt(), 1);
  EXPECT_TRUE(weak.isDeadRef());
  weak.dispose();

  // A long mixed chain: the release neither recurses deeply nor leaks.
  MoxValue head(MoxObject::create(N), false);
  MoxObject* cur = head;
  for (int i = 0; i < 200000; ++i) {
    MoxObject* next = (i % 3) ? MoxObject::create(N) : new MoxObject(N);
    (*cur->getMemberData())[1] = MoxValue(next, false);
    cur = next;
  }
  EXPECT_EQ(N->getRefCnt(), 200002);
  head.dispose();
  EXPECT_EQ(N->getRefCnt(), 1);

  MoxValue none(MoxObject::create(nullptr), false);
  EXPECT_EQ(static_cast<MoxObject*>(none)->getMemberData(), nullptr);
}

// Member data in the object's block takes a whole vector by assignment like
// any other: the block's own slots stay behind unused, the object's end
// frees only what the data holds, and a copy of the object gets data of its
// own.
TEST_F(ClassTest, MemberDataInTheBlockAssignedAndCopied) {
  MoxValue node(new MoxClass(vm, MoxString(u"Node"), nullptr), false);
  MoxClass* N = node;
  N->addDataMember(MoxString(u"a"));
  N->fixupDataDefs();
  MoxValue text(new MoxString(u"t"), false);
  MoxVector source;
  source.push_back(node);
  for (int i = 0; i < 4; ++i) source.push_back(text);
  {
    MoxValue o(MoxObject::create(N), false);
    MoxObject* obj = o;
    MoxVector* data = obj->getMemberData();
    *data = source;
    EXPECT_TRUE(data->isEmbedded());
    EXPECT_EQ(data->size(), 5u);
    EXPECT_EQ(obj->getClass(), N);
    EXPECT_EQ(text.getRef()->getRefCnt(), 9);
    MoxValue copy(new MoxObject(*obj), false);
    MoxVector* copied = static_cast<MoxObject*>(copy)->getMemberData();
    EXPECT_FALSE(copied->isEmbedded());
    EXPECT_EQ(copied->size(), 5u);
    EXPECT_EQ(static_cast<MoxObject*>(copy)->getClass(), N);
    EXPECT_EQ(text.getRef()->getRefCnt(), 13);
    data->shrink();
    data->push_back(text);
    EXPECT_EQ(data->size(), 6u);
  }
  EXPECT_EQ(text.getRef()->getRefCnt(), 5);
  EXPECT_EQ(N->getRefCnt(), 2);
}
