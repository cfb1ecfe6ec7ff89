// The growable array of values, and the cursor over one that the
// interpreter uses as stack and frame pointer and native functions receive
// to reach their arguments.
#ifndef MOX_VECTOR_H
#define MOX_VECTOR_H

#include "core/MoxConfig.h"
#include "core/MoxTrackLink.h"
#include "core/MoxValue.h"

class MOX_API MoxVector : public MoxRefObject, public MoxTrackLink {
 public:
  // Size 0, capacity 2.
  MoxVector();
  // Capacity max(n, 2); filled: n null elements, otherwise empty.
  MoxVector(unsigned int n, bool filled);
  MoxVector(const MoxVector& other);
  // n null elements in one block with the vector itself (an object's member
  // data: one allocation less per object). It grows like any other vector,
  // into a block of its own.
  static MoxVector* newFilled(unsigned int n);
  // The bytes newFilled(n) takes: the vector and its n slots.
  static size_t filledBytes(unsigned int n) {
    return sizeof(MoxVector) + size_t(n) * sizeof(MoxValue);
  }
  // newFilled's vector made at place, inside a block its owner allocated
  // and frees (an object's member data). The owner ends it with
  // endEmbedded(); it must never be released to 0 by anyone else.
  static MoxVector* placeEmbedded(void* place, unsigned int n);
  // True for a vector made by placeEmbedded. The vectors with slots in
  // their own block are kinds of vector (MoxVector.cpp) rather than flags:
  // a word of flags would move every object's block into the next malloc
  // size class.
  virtual bool isEmbedded() const { return false; }
  // Destroys an embedded vector in place, leaving its block to the owner.
  // Only for a vector that isEmbedded().
  void endEmbedded();
  ~MoxVector() override;
  MoxVector& operator=(const MoxVector& other);

  // The caller keeps the index below size().
  MoxValue& operator[](unsigned int i) { return data_[i]; }
  const MoxValue& operator[](unsigned int i) const { return data_[i]; }

  unsigned int size() const { return size_; }
  unsigned int capacity() const { return capacity_; }
  MoxValue* data() const { return data_; }

  // Capacity := max(n, size), n = 0 counting as 2; new slots are null.
  unsigned int setCapacity(unsigned int n);
  unsigned int shrink() { return setCapacity(size_); }

  // May push an element of this same vector.
  void push_back(const MoxValue& value);
  // The last element (removed), or null when empty.
  MoxValue pop_back();

  MoxVector operator+(const MoxVector& other) const;
  // Appending a vector to itself doubles its contents.
  MoxVector& operator+=(const MoxVector& other);

  ValPtr first();
  ValPtr last();
  void clear();

  // First MVT_STRING or MVT_STRINGREF element whose text equals s; -1 if none.
  int getStringIndex(const MoxChar* s) const;
  // First MVT_VAR element referring to e; -1 if none.
  int getVarIndex(const MoxDictionaryEntry* e) const;

 protected:
  // For a vector used as a stack: one more (null) slot at the end. Slots
  // past the size are null already, so this only counts it, unless the
  // block is full and doubles.
  void growByOne() {
    if (__builtin_expect(size_ < capacity_, 1)) ++size_;
    else extendTo(size_ + 1);
  }
  // Grows to n slots in one step (nothing when it has n already); the new
  // slots are null.
  void growTo(unsigned int n) {
    if (n <= size_) return;
    if (__builtin_expect(n <= capacity_, 1)) size_ = n;
    else extendTo(n);
  }
  // Counts the slots up to n (more than the size, at most the capacity),
  // which are null already.
  void takeNullTo(unsigned int n) { size_ = n; }
  // Forgets the last slot, which the caller has emptied (made null).
  void dropEmptyLast() { --size_; }
  // Forgets the slots from n on, which the caller has emptied.
  void dropEmptyFrom(unsigned int n) { size_ = n; }

 private:
  // The slots that came in the vector's own block, or null. data_ points
  // there until the vector first grows.
  virtual const MoxValue* ownSlots() const { return nullptr; }
  // The next two serve the kinds with slots in their own block, which only
  // MoxVector.cpp makes. They are defined inline there: the library never
  // inlines a member of an exported class that is not declared inline, and
  // making and ending an object's member data should take no calls of
  // their own.
  // n elements in the null slots that follow the vector.
  inline MoxVector(unsigned int n, MoxValue* slots);
  // Disposes the elements, last first (a value's release may run code that
  // looks at the vector, which then sees only live elements), and frees
  // data_ unless it is the slots given as own. Leaves no block behind.
  inline void releaseAll(const MoxValue* own);
  friend class MoxFilledVector;
  friend class MoxEmbeddedVector;

  // Grows by pushing null elements until size = n.
  void extendTo(unsigned int n);
  // Frees data unless it is the block that came with the vector.
  void freeData(MoxValue* data) const;
  friend class ValPtr;

  uint32_t size_;
  uint32_t capacity_;
  MoxValue* data_;
};

// A (vector, index) cursor. It never keeps its vector alive. Stepping
// forward past the end extends the vector with null values.
class MOX_API ValPtr {
 public:
  ValPtr() : vec_(nullptr), index_(-1) {}
  ValPtr(MoxVector* vec, int index) : vec_(vec), index_(index) {}
  ValPtr(const ValPtr& o) = default;
  ValPtr& operator=(const ValPtr& o) = default;
  ~ValPtr() {
    vec_ = nullptr;
    index_ = -1;
  }

  // The element at the index; null (pointer form) outside the vector.
  MoxValue* get() const {
    return (vec_ && index_ >= 0 && uint32_t(index_) < vec_->size_) ? vec_->data_ + index_
                                                                 : nullptr;
  }
  MoxValue& operator*() const { return *get(); }
  MoxValue* operator->() const { return get(); }
  operator MoxValue*() const { return get(); }

  ValPtr& operator+=(int n) {
    if (vec_) {
      index_ = int(uint32_t(index_) + uint32_t(n));
      if (index_ >= 0 && uint32_t(index_) >= vec_->size_) vec_->extendTo(uint32_t(index_) + 1);
    }
    return *this;
  }
  ValPtr& operator++() { return *this += 1; }
  ValPtr& operator++(int) { return *this += 1; }
  ValPtr& operator-=(int n) {
    if (vec_) index_ = int(uint32_t(index_) - uint32_t(n));
    return *this;
  }
  ValPtr& operator--() { return *this -= 1; }
  ValPtr& operator--(int) { return *this -= 1; }

  int current() const { return index_; }
  MoxVector* vector() const { return vec_; }
  // Unchecked: the element at index + i.
  MoxValue& operator[](int i) const { return vec_->data_[index_ + i]; }

  bool operator==(const ValPtr& o) const { return vec_ == o.vec_ && index_ == o.index_; }
  bool operator!=(const ValPtr& o) const { return !(*this == o); }

 private:
  MoxVector* vec_;
  int index_;
};

#endif
