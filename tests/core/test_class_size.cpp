// Class data sizes: long chains sized one class at a time, and sizes that
// must follow when a class up the chain gains members or a base.
#include <gtest/gtest.h>

#include "core/MoxClass.h"
#include "vm/MoxVirtualMachine.h"

namespace {

class ClassSizeTest : public ::testing::Test {
 protected:
  MoxVirtualMachine vm;
  MoxClass* make(const char16_t* name, MoxClass* base, const char16_t* member) {
    holders_.push_back(MoxValue(new MoxClass(vm, MoxString(name), base), false));
    MoxClass* c = holders_.back();
    if (member) c->addDataMember(MoxString(member));
    return c;
  }

 private:
  std::vector<MoxValue> holders_;
};

}  // namespace

TEST_F(ClassSizeTest, DeepChainSizedClassByClass) {
  MoxValue root(new MoxClass(vm, MoxString(u"R"), nullptr), false);
  MoxValue cur = root;
  const int depth = 20000;
  for (int i = 0; i < depth; ++i) {
    MoxClass* next = new MoxClass(vm, static_cast<MoxString*>(nullptr), cur);
    cur = MoxValue(next, false);
    next->addDataMember(MoxString(u"m"));
    next->fixupDataDefs();
    ASSERT_EQ(next->getDataSize(), i + 1);
  }
  MoxClass* leaf = cur;
  EXPECT_EQ(leaf->getMemberIndex(MoxString(u"m")), depth);
  EXPECT_EQ(leaf->computeDataSize(), depth);
  cur.dispose();
  root.dispose();
}

TEST_F(ClassSizeTest, SizesFollowMembersAddedUpTheChain) {
  MoxClass* a = make(u"A", nullptr, u"x");
  MoxClass* b = make(u"B", a, u"y");
  MoxClass* c = make(u"C", b, u"z");
  a->fixupDataDefs();
  b->fixupDataDefs();
  c->fixupDataDefs();
  EXPECT_EQ(c->getDataSize(), 3);
  EXPECT_TRUE(a->addDataMember(MoxString(u"w")));
  a->fixupDataDefs();
  EXPECT_EQ(c->computeDataSize(), 4);
  EXPECT_EQ(b->getDataSize(), 3);  // recomputed on the way
  // Members entered straight into the table count once the class is sized.
  (*c->dataMembers())[MoxString(u"v")].setSymbolType(SYM_MEMBER);
  EXPECT_EQ(c->computeDataSize(), 5);
  // A static member adds no slot.
  EXPECT_TRUE(b->addStaticDataMember(MoxString(u"s")));
  EXPECT_EQ(c->computeDataSize(), 5);
}

TEST_F(ClassSizeTest, SizesFollowABaseSetLater) {
  MoxClass* r = make(u"R", nullptr, u"r");
  MoxClass* a = make(u"A", nullptr, u"x");
  MoxClass* b = make(u"B", a, u"y");
  r->fixupDataDefs();
  EXPECT_EQ(b->computeDataSize(), 2);
  EXPECT_TRUE(a->setBaseClass(r));
  EXPECT_EQ(b->computeDataSize(), 3);
  EXPECT_EQ(a->getDataSize(), 2);
  // A recount that changes a base's size reaches classes sized from it.
  MoxClass* c = make(u"C", b, u"z");
  EXPECT_EQ(c->computeDataSize(), 4);
  (*r->dataMembers())[MoxString(u"q")].setSymbolType(SYM_MEMBER);
  EXPECT_EQ(r->computeDataSize(), 2);
  EXPECT_EQ(c->computeDataSize(), 5);
}

TEST_F(ClassSizeTest, CyclesRefusedWhicheverWayTheChainWasMade) {
  MoxClass* a = make(u"A", nullptr, nullptr);
  EXPECT_FALSE(a->setBaseClass(a));
  MoxClass* b = make(u"B", nullptr, nullptr);
  MoxClass* c = make(u"C", nullptr, nullptr);
  EXPECT_TRUE(b->setBaseClass(a));  // a gains a derived class this way
  EXPECT_TRUE(c->setBaseClass(b));
  EXPECT_FALSE(a->setBaseClass(c));
  MoxClass* d = make(u"D", c, nullptr);  // and this way
  MoxClass* e = make(u"E", nullptr, nullptr);
  EXPECT_TRUE(e->setBaseClass(d));
  MoxClass* f = make(u"F", e, nullptr);
  EXPECT_FALSE(a->setBaseClass(f));
  EXPECT_EQ(a->getBaseClass(), nullptr);
}
