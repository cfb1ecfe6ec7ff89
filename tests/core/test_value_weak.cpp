// Uncounted values and the memory of dead objects: the object dies by its
// reference count alone, its block lives while uncounted values point at it,
// and those values read as null once it is dead.
#include <gtest/gtest.h>

#include "core/MoxString.h"
#include "core/MoxVector.h"

namespace {

int destructions = 0;

class Probe : public MoxVector {
 public:
  ~Probe() override { ++destructions; }
};

}  // namespace

TEST(WeakValue, ObjectDiesByItsCountAndRefsSeeNull) {
  destructions = 0;
  Probe* p = new Probe();
  MoxValue owner(p);
  MoxValue ref(static_cast<MoxVector*>(p), false, true);
  EXPECT_EQ(ref.type(), MVT_VECTORREF);
  EXPECT_EQ(p->getRefCnt(), 1);  // uncounted values do not count
  MoxValue copy(ref);
  EXPECT_EQ(copy.type(), MVT_VECTORREF);
  EXPECT_FALSE(ref.isDeadRef());
  owner.dispose();
  EXPECT_EQ(destructions, 1);
  EXPECT_TRUE(ref.isDeadRef());
  EXPECT_EQ(static_cast<MoxVector*>(ref), nullptr);
  // Copies of a dead reference are null; the block is freed with the last
  // holder (the sanitizer build checks that it is neither leaked nor used).
  MoxValue later(ref);
  EXPECT_EQ(later.type(), MVT_NULL);
  MoxValue assigned;
  assigned = copy;
  EXPECT_EQ(assigned.type(), MVT_NULL);
  ref.dispose();
  copy.setInt(3);
  EXPECT_EQ(destructions, 1);
}

TEST(WeakValue, HoldsTakenAndReleasedByEveryValueOperation) {
  destructions = 0;
  Probe* p = new Probe();
  MoxValue owner(p);
  {
    MoxValue a(static_cast<MoxVector*>(p), MVT_VECTORREF);
    MoxValue b(std::move(a));
    MoxValue c;
    c = b;
    c = std::move(b);
    MoxValue d(static_cast<MoxVector*>(p), MVT_VECTORREF);
    MoxValue x(new MoxString(u"x"));
    d.assignRef(x.getRef());  // moves its hold to another block
    d.assignRef(p);
    d.setDouble(1.0);
  }
  owner.dispose();  // nothing holds the block any more: freed at once
  EXPECT_EQ(destructions, 1);
}

TEST(WeakValue, DeleteOfAnUnownedObjectAndOfADyingOne) {
  destructions = 0;
  Probe* p = new Probe();
  MoxValue ref(static_cast<MoxVector*>(p), MVT_VECTORREF);
  EXPECT_FALSE(MoxRefObject::isDying(p));
  MoxRefObject::destroyUnowned(p);
  EXPECT_EQ(destructions, 1);
  EXPECT_TRUE(ref.isDeadRef());
  // Deleting it again does nothing.
  EXPECT_TRUE(MoxRefObject::isDying(ref.getRef()));
  MoxRefObject::destroyUnowned(ref.getRef());
  EXPECT_EQ(destructions, 1);
}

TEST(WeakValue, ReferencesInsideTheDyingObjectToItself) {
  // A vector holding an uncounted reference to itself: its own destructor
  // releases the last holder while the block is still in use.
  destructions = 0;
  Probe* p = new Probe();
  p->push_back(MoxValue(static_cast<MoxVector*>(p), MVT_VECTORREF));
  MoxValue owner(p);
  owner.dispose();
  EXPECT_EQ(destructions, 1);
}

TEST(WeakValue, APlainDeleteLeavesTheBlockToUncountedValues) {
  // Native code may delete an object it made without ever counting it.
  destructions = 0;
  Probe* p = new Probe();
  MoxValue ref(static_cast<MoxVector*>(p), MVT_VECTORREF);
  delete p;
  EXPECT_EQ(destructions, 1);
  EXPECT_TRUE(ref.isDeadRef());
  EXPECT_EQ(MoxValue(ref).type(), MVT_NULL);
  EXPECT_EQ(ref.addr(), nullptr);
  // Without holders the block goes at once.
  delete new Probe();
  EXPECT_EQ(destructions, 2);
}
