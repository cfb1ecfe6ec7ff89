// MoxVector: a block of values that doubles when a push finds it full.
//
// Slots beyond the size always hold MVT_NULL values, which are all-zero
// bytes, so new slots are zero-filled and values can be moved by realloc
// (a MoxValue holds no pointer into itself).
#include "core/MoxVector.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "vm/MoxMemory.h"
#include "vm/MoxPlatform.h"

namespace {

MoxValue* allocValues(unsigned int n) {
  return static_cast<MoxValue*>(mox::callocmem(n, sizeof(MoxValue)));
}

// Copies n values into zeroed slots (each copy takes its reference).
void copyValues(MoxValue* dst, const MoxValue* src, unsigned int n) {
  for (unsigned int i = 0; i < n; ++i) dst[i] = src[i];
}

}  // namespace

MoxVector::MoxVector(unsigned int n, MoxValue* slots) : size_(n), capacity_(n), data_(slots) {
  MoxMemoryLedger::track(this);
}

void MoxVector::releaseAll(const MoxValue* own) {
  while (size_ > 0) data_[--size_].dispose();
  if (data_ != own) mox::freemem(data_);
  data_ = nullptr;
  capacity_ = 0;
}

// The kinds of vector with slots in their own block. Neither leaves this
// file (the library does not export them).

// A vector whose first slots follow it in its own block (newFilled).
class MoxFilledVector : public MoxVector {
 public:
  MoxFilledVector(unsigned int n, MoxValue* slots) : MoxVector(n, slots) {}
  ~MoxFilledVector() override {
    if (data()) releaseAll(slotsOf(this));
  }
  MoxFilledVector(const MoxFilledVector&) = delete;
  MoxFilledVector& operator=(const MoxFilledVector&) = delete;

  static const MoxValue* slotsOf(const MoxFilledVector* v) {
    return reinterpret_cast<const MoxValue*>(static_cast<const MoxVector*>(v) + 1);
  }

 private:
  const MoxValue* ownSlots() const override { return slotsOf(this); }
};

// Member data inside its object's block (placeEmbedded).
class MoxEmbeddedVector final : public MoxFilledVector {
 public:
  MoxEmbeddedVector(unsigned int n, MoxValue* slots) : MoxFilledVector(n, slots) {}
  // Released here, so that the vector still says it is embedded while its
  // elements go.
  ~MoxEmbeddedVector() override { releaseAll(slotsOf(this)); }
  bool isEmbedded() const override { return true; }
};

// The slots sit at sizeof(MoxVector) whatever the kind.
static_assert(sizeof(MoxFilledVector) == sizeof(MoxVector) &&
                  sizeof(MoxEmbeddedVector) == sizeof(MoxVector),
              "the kinds of vector add no members");
// An object made by MoxObject::create is one block: its header, this vector
// and the slots, so each word added here moves every object into the next
// malloc size class. With glibc an object of up to three slots then fits
// the 128-byte chunks of the fast bins, which malloc and free serve far
// more cheaply than larger chunks.
static_assert(sizeof(MoxVector) == sizeof(MoxRefObject) + sizeof(MoxTrackLink) +
                                       2 * sizeof(uint32_t) + sizeof(MoxValue*),
              "a vector is its counts, its link and its three fields, without padding");

MoxVector::MoxVector() : size_(0), capacity_(2), data_(allocValues(2)) {
  MoxMemoryLedger::track(this);
}

MoxVector::MoxVector(unsigned int n, bool filled)
    : size_(filled ? n : 0), capacity_(n < 2 ? 2 : n), data_(allocValues(capacity_)) {
  MoxMemoryLedger::track(this);
}

MoxVector::MoxVector(const MoxVector& other)
    : MoxRefObject(), MoxTrackLink(), size_(other.size_), capacity_(other.capacity_),
      data_(allocValues(other.capacity_)) {
  copyValues(data_, other.data_, size_);
  MoxMemoryLedger::track(this);
}

MoxVector* MoxVector::newFilled(unsigned int n) {
  // The block is freed as a whole by MoxRefObject's operator delete, like
  // that of any object made by new.
  char* block = static_cast<char*>(MoxRefObject::operator new(filledBytes(n)));
  MoxValue* slots = reinterpret_cast<MoxValue*>(block + sizeof(MoxVector));
  memset(static_cast<void*>(slots), 0, size_t(n) * sizeof(MoxValue));
  return ::new (block) MoxFilledVector(n, slots);
}

MoxVector* MoxVector::placeEmbedded(void* place, unsigned int n) {
  char* at = static_cast<char*>(place);
  MoxValue* slots = reinterpret_cast<MoxValue*>(at + sizeof(MoxVector));
  memset(static_cast<void*>(slots), 0, size_t(n) * sizeof(MoxValue));
  return ::new (at) MoxEmbeddedVector(n, slots);
}

void MoxVector::endEmbedded() {
  // Only placeEmbedded makes embedded vectors: the kind is known, and the
  // destructor needs no virtual call.
  static_cast<MoxEmbeddedVector*>(this)->~MoxEmbeddedVector();
}

void MoxVector::freeData(MoxValue* data) const {
  if (data != ownSlots()) mox::freemem(data);
}

// The kinds with slots of their own have let go of everything already.
MoxVector::~MoxVector() {
  if (data_) releaseAll(nullptr);
}

MoxVector& MoxVector::operator=(const MoxVector& other) {
  if (this == &other) return *this;
  MoxValue* block = allocValues(other.capacity_);
  copyValues(block, other.data_, other.size_);
  MoxValue* oldData = data_;
  unsigned int oldSize = size_;
  data_ = block;
  size_ = other.size_;
  capacity_ = other.capacity_;
  for (unsigned int i = 0; i < oldSize; ++i) oldData[i].dispose();
  freeData(oldData);
  return *this;
}

unsigned int MoxVector::setCapacity(unsigned int n) {
  if (n == 0) n = 2;
  if (n < size_) n = size_;
  if (n == capacity_) return capacity_;
  const MoxValue* own = ownSlots();
  if (own && data_ == own) {
    // The slots that came with the vector stay behind, unused.
    MoxValue* block = allocValues(n);
    memcpy(static_cast<void*>(block), static_cast<const void*>(data_), size_t(size_) * sizeof(MoxValue));
    memset(static_cast<void*>(data_), 0, size_t(size_) * sizeof(MoxValue));
    data_ = block;
    capacity_ = n;
  } else {
    void* block = mox::reallocmem(static_cast<void*>(data_), size_t(n) * sizeof(MoxValue));
    data_ = static_cast<MoxValue*>(block);
    if (n > capacity_)
      memset(static_cast<void*>(data_ + capacity_), 0, size_t(n - capacity_) * sizeof(MoxValue));
    capacity_ = n;
  }
  return capacity_;
}

void MoxVector::push_back(const MoxValue& value) {
  if (size_ == capacity_) {
    // value may be one of our own elements: copy it before the block moves.
    MoxValue copy(value);
    setCapacity(size_ * 2);
    data_[size_++] = std::move(copy);
  } else {
    data_[size_++] = value;
  }
}

MoxValue MoxVector::pop_back() {
  if (size_ == 0) return MoxValue();
  --size_;
  return MoxValue(std::move(data_[size_]));
}

MoxVector MoxVector::operator+(const MoxVector& other) const {
  unsigned int total = size_ + other.size_;
  MoxVector result(total, false);
  copyValues(result.data_, data_, size_);
  copyValues(result.data_ + size_, other.data_, other.size_);
  result.size_ = total;
  return result;
}

MoxVector& MoxVector::operator+=(const MoxVector& other) {
  unsigned int n = other.size_;
  if (capacity_ < size_ + n) setCapacity(size_ + n);
  // When other is this vector, its first n elements are the originals and
  // the copies go behind them.
  for (unsigned int i = 0; i < n; ++i) data_[size_ + i] = other.data_[i];
  size_ += n;
  return *this;
}

ValPtr MoxVector::first() { return ValPtr(this, size_ ? 0 : -1); }

ValPtr MoxVector::last() { return ValPtr(this, int(size_) - 1); }

void MoxVector::clear() {
  while (size_ > 0) data_[--size_].dispose();
}

int MoxVector::getStringIndex(const MoxChar* s) const {
  if (!s) return -1;
  for (unsigned int i = 0; i < size_; ++i) {
    MoxValueType t = data_[i].type();
    if ((t != MVT_STRING && t != MVT_STRINGREF) || !data_[i].getRef()) continue;
    const MoxChar* a = static_cast<MoxString*>(data_[i].getRef())->c_str();
    const MoxChar* b = s;
    while (*a && *a == *b) {
      ++a;
      ++b;
    }
    if (*a == *b) return int(i);
  }
  return -1;
}

int MoxVector::getVarIndex(const MoxDictionaryEntry* e) const {
  if (!e) return -1;
  for (unsigned int i = 0; i < size_; ++i)
    if (data_[i].type() == MVT_VAR && data_[i].ptr() == e) return int(i);
  return -1;
}

void MoxVector::extendTo(unsigned int n) {
  if (n <= size_) return;
  if (n > capacity_) {
    // The same capacities that pushing one null value at a time would give;
    // a vector with no slots at all (newFilled(0)) gets 2 first.
    unsigned int cap = capacity_;
    while (cap < n) cap = cap == 0 ? 2 : cap > 0x7FFFFFFFu ? n : cap * 2;
    setCapacity(cap);
  }
  size_ = n;
}
