// Vectors, cursors and buffers: growth, element ownership, word layout.
#include <gtest/gtest.h>

#include "core/MoxBuffer.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"

TEST(Vector, GrowthAndCapacity) {
  MoxVector v;
  EXPECT_EQ(v.size(), 0u);
  EXPECT_EQ(v.capacity(), 2u);
  for (int i = 0; i < 3; ++i) v.push_back(MoxValue(int32_t(i)));
  EXPECT_EQ(v.capacity(), 4u);
  EXPECT_EQ(v.shrink(), 3u);
  EXPECT_EQ(v.setCapacity(1), 3u);
  EXPECT_EQ(MoxVector(5, true).size(), 5u);
  EXPECT_EQ(MoxVector(5, true)[4].type(), MVT_NULL);
  MoxVector reserved(5, false);
  EXPECT_EQ(reserved.size(), 0u);
  EXPECT_EQ(reserved.capacity(), 5u);
  EXPECT_EQ(MoxVector(1, false).capacity(), 2u);
  MoxVector e;
  EXPECT_EQ(e.setCapacity(0), 2u);
  // Grown slots are null values, safe to assign into.
  e.setCapacity(10);
  EXPECT_EQ(e.data()[9].type(), MVT_NULL);
}

TEST(Vector, ElementsOwnTheirReferences) {
  MoxString* s = new MoxString(u"x");
  MoxValue keep(s, false);
  {
    MoxVector v;
    v.push_back(keep);
    v.push_back(keep);
    EXPECT_EQ(s->getRefCnt(), 3);
    MoxVector copy(v);
    EXPECT_EQ(s->getRefCnt(), 5);
    copy = copy;
    EXPECT_EQ(s->getRefCnt(), 5);
    MoxVector other;
    other.push_back(keep);
    copy = other;
    EXPECT_EQ(s->getRefCnt(), 5);
    MoxValue popped = v.pop_back();
    EXPECT_EQ(popped.getRef(), s);
    EXPECT_EQ(v.size(), 1u);
    EXPECT_EQ(s->getRefCnt(), 5);
    v.clear();
    EXPECT_EQ(v.capacity(), 2u);
    EXPECT_EQ(s->getRefCnt(), 4);
  }
  EXPECT_EQ(s->getRefCnt(), 1);
  MoxVector empty;
  EXPECT_EQ(empty.pop_back().type(), MVT_NULL);
  EXPECT_EQ(empty.size(), 0u);
}

TEST(Vector, FilledInOneBlockGrowsAndAssignsLikeAnyOther) {
  MoxString* s = new MoxString(u"x");
  MoxValue keep(s, false);
  MoxVector* v = MoxVector::newFilled(3);
  v->addRef();
  EXPECT_EQ(v->size(), 3u);
  EXPECT_EQ((*v)[2].type(), MVT_NULL);
  (*v)[0] = keep;
  (*v)[2] = MoxValue(int32_t(7));
  // Growing moves the elements into a block of their own.
  v->push_back(keep);
  EXPECT_EQ(v->size(), 4u);
  EXPECT_EQ((*v)[0].getRef(), s);
  EXPECT_EQ(int32_t((*v)[2]), 7);
  EXPECT_EQ(s->getRefCnt(), 3);
  v->shrink();
  MoxVector* w = MoxVector::newFilled(1);
  w->addRef();
  (*w)[0] = keep;
  *w = *v;  // the first block stays with w, unused
  EXPECT_EQ(w->size(), 4u);
  EXPECT_EQ(s->getRefCnt(), 5);
  w->release();
  v->release();
  EXPECT_EQ(s->getRefCnt(), 1);
  MoxVector* none = MoxVector::newFilled(0);
  none->addRef();
  none->push_back(keep);
  EXPECT_EQ(none->size(), 1u);
  none->release();
  EXPECT_EQ(s->getRefCnt(), 1);
}

TEST(Vector, PushOwnElementWhileGrowingAndSelfAppend) {
  MoxVector v;
  v.push_back(MoxValue(new MoxString(u"a"), false));
  v.push_back(MoxValue(int32_t(2)));
  v.push_back(v[0]);  // the block moves while the element is read
  MoxString* s = v[2];
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->compare(MoxString(u"a")), 0);
  MoxVector w;
  w.push_back(MoxValue(int32_t(1)));
  w.push_back(MoxValue(int32_t(2)));
  w += w;
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[2].asInt(), 1);
  EXPECT_EQ(w[3].asInt(), 2);
  MoxVector sum = w + v;
  EXPECT_EQ(sum.size(), 7u);
  EXPECT_EQ(sum.capacity(), 7u);
  EXPECT_EQ((MoxVector() + MoxVector()).capacity(), 2u);
}

TEST(Vector, Lookups) {
  MoxVector v;
  EXPECT_EQ(v.getStringIndex(u"a"), -1);
  MoxString* ref = new MoxString(u"b");
  MoxValue keep(ref, false);
  MoxDictionary dict;
  MoxDictionaryEntry& entry = dict[MoxString(u"var")];
  v.push_back(MoxValue(int32_t(1)));
  v.push_back(MoxValue(ref, true));
  v.push_back(MoxValue(new MoxString(u"a"), false));
  v.push_back(MoxValue(&entry));
  EXPECT_EQ(v.getStringIndex(u"b"), 1);
  EXPECT_EQ(v.getStringIndex(u"a"), 2);
  EXPECT_EQ(v.getStringIndex(u"ab"), -1);
  EXPECT_EQ(v.getStringIndex(nullptr), -1);
  EXPECT_EQ(v.getVarIndex(&entry), 3);
  EXPECT_EQ(v.getVarIndex(nullptr), -1);
}

TEST(ValPtr, CursorExtendsItsVector) {
  MoxVector v;
  ValPtr last = v.last();
  EXPECT_EQ(last.current(), -1);
  EXPECT_EQ(static_cast<MoxValue*>(last), nullptr);
  EXPECT_EQ(v.first().current(), -1);
  ValPtr p(&v, 2);
  p += 3;
  EXPECT_EQ(p.current(), 5);
  EXPECT_EQ(v.size(), 6u);
  EXPECT_EQ(v.capacity(), 8u);
  *p = MoxValue(int32_t(9));
  EXPECT_EQ(v[5].asInt(), 9);
  p -= 10;
  EXPECT_EQ(p.current(), -5);
  EXPECT_EQ(p.get(), nullptr);
  EXPECT_EQ(v.size(), 6u);
  ++p;
  EXPECT_EQ(p.current(), -4);
  EXPECT_EQ(v.size(), 6u);

  // Stack use: push by pre-increment and assignment.
  MoxVector stack;
  ValPtr sp(&stack, -1);
  for (int i = 0; i < 100; ++i) *++sp = MoxValue(int32_t(i));
  EXPECT_EQ(stack.size(), 100u);
  EXPECT_EQ(sp[-1].asInt(), 98);
  EXPECT_EQ(sp->asInt(), 99);
  ValPtr q = sp;
  EXPECT_TRUE(q == sp);
  q--;
  EXPECT_TRUE(q != sp);
  ValPtr none;
  none += 4;
  EXPECT_EQ(none.current(), -1);
  EXPECT_EQ(none.get(), nullptr);
}

TEST(Buffer, GrowthAndBytes) {
  MoxBuffer b;
  EXPECT_EQ(b.capacity(), 1u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(b.push_back(uint8_t(i + 1)), unsigned(i));
  EXPECT_EQ(b.capacity(), 4u);
  EXPECT_EQ(b[3], 0);  // beyond the size stays zero
  EXPECT_EQ(b.pop_back(), 3);
  EXPECT_EQ(b.data()[2], 0);
  MoxBuffer empty;
  EXPECT_EQ(empty.pop_back(), 0);
  EXPECT_EQ(empty.pop_backW(), 0);
  EXPECT_EQ(empty.shrink(), 1u);
  EXPECT_EQ(MoxBuffer(0).capacity(), 1u);

  EXPECT_FALSE(b.setSize(b.capacity() + 1));
  EXPECT_EQ(b.size(), 2u);
  EXPECT_TRUE(b.setSize(b.capacity()));
  EXPECT_EQ(b[3], 0);
  b.clear();
  EXPECT_EQ(b.size(), 0u);
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(b.capacity(), 4u);
}

TEST(Buffer, WordsAreLittleEndianAndSymmetric) {
  MoxBuffer b;
  EXPECT_EQ(b.push_backW(0x1234), 0u);
  EXPECT_EQ(b[0], 0x34);
  EXPECT_EQ(b[1], 0x12);
  EXPECT_EQ(b.getW(0), 0x1234);
  EXPECT_EQ(b.pop_backW(), 0x1234);
  EXPECT_EQ(b.size(), 0u);

  b.push_back(0xAA);  // an odd start: words need no alignment
  unsigned int at = b.push_backDW(0x11223344u);
  EXPECT_EQ(at, 1u);
  EXPECT_EQ(b[1], 0x44);
  EXPECT_EQ(b[4], 0x11);
  EXPECT_EQ(b.getNW(at), 0x11223344u);
  b.setDW(at, 0xCAFEBABEu);  // patching a pushed position
  EXPECT_EQ(b.pop_backNW(), 0xCAFEBABEu);
  EXPECT_EQ(b.size(), 1u);
  unsigned int nw = b.push_backNW(0xFFFFFFFFu);
  EXPECT_EQ(b.getDW(nw), 0xFFFFFFFFu);
  EXPECT_EQ(b.pop_backDW(), 0xFFFFFFFFu);
}

TEST(Buffer, CopyAppendAndAssign) {
  MoxBuffer a(8);
  a.push_back(1);
  a.push_back(2);
  MoxBuffer c(a);
  EXPECT_EQ(c.size(), 2u);
  EXPECT_EQ(c.capacity(), 8u);
  EXPECT_EQ(c.getRefCnt(), 0);
  a += a;
  EXPECT_EQ(a.size(), 4u);
  EXPECT_EQ(a[3], 2);
  MoxBuffer s = c + a;
  EXPECT_EQ(s.size(), 6u);
  EXPECT_EQ(s.capacity(), 6u);
  c = s;
  EXPECT_EQ(c.size(), 6u);
  c = c;
  EXPECT_EQ(c[5], 2);
  MoxBuffer small;
  small += s;
  EXPECT_EQ(small.capacity(), 6u);
}

TEST(CharBuffer, AdjustSizeAndUnits) {
  MoxCharBuffer full(5);
  for (int i = 0; i < 5; ++i) full[unsigned(i)] = MoxChar(u'a' + i);
  full.adjustSize();
  EXPECT_EQ(full.size(), 4u);
  EXPECT_EQ(full[4], 0);
  MoxCharBuffer three(5);
  three[0] = u'x';
  three[1] = u'y';
  three[2] = u'z';
  three.adjustSize();
  EXPECT_EQ(three.size(), 3u);

  MoxCharBuffer c;
  EXPECT_EQ(c.capacity(), 1u);
  c.push_back(u'a');
  c.push_back(u'b');
  c.push_back(u'c');
  EXPECT_EQ(c.capacity(), 4u);
  EXPECT_EQ(c.pop_back(), u'c');
  EXPECT_EQ(c[2], 0);
  c += c;
  EXPECT_EQ(c.size(), 4u);
  EXPECT_EQ(c[3], u'b');
  MoxCharBuffer d = c + three;
  EXPECT_EQ(d.size(), 7u);
  d.clear();
  EXPECT_EQ(d.size(), 0u);
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(MoxCharBuffer().pop_back(), 0);
  EXPECT_EQ(MoxCharBuffer().shrink(), 1u);
}

TEST(BufferFill, AppendFillWritesInOneGo) {
  MoxBuffer b(2);
  b.push_back(9);
  b.appendFill(5, 0xAB);
  b.appendFill(3, 0);
  b.appendFill(0, 1);
  ASSERT_EQ(b.size(), 9u);
  EXPECT_EQ(b[0], 9);
  for (unsigned i = 1; i < 6; ++i) EXPECT_EQ(b[i], 0xAB);
  for (unsigned i = 6; i < 9; ++i) EXPECT_EQ(b[i], 0);
  MoxCharBuffer c;
  c.appendFill(4, u'x');
  c.appendFill(2, 0);
  ASSERT_EQ(c.size(), 6u);
  EXPECT_EQ(c[3], u'x');
  EXPECT_EQ(c[4], 0);
}

// A vector made with no slots at all grows from nothing when a cursor steps
// past its end, as it does when pushed to.
TEST(ValPtr, CursorExtendsAVectorWithNoSlots) {
  MoxVector* v = MoxVector::newFilled(0);
  v->addRef();
  EXPECT_EQ(v->capacity(), 0u);
  ValPtr p(v, 0);
  p += 1;
  EXPECT_EQ(v->size(), 2u);
  EXPECT_EQ(v->capacity(), 2u);
  *p = MoxValue(int32_t(4));
  EXPECT_EQ((*v)[1].asInt(), 4);
  EXPECT_EQ((*v)[0].type(), MVT_NULL);
  v->release();
}
