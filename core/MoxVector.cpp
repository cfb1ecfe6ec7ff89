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

MoxVector::MoxVector(unsigned int n, MoxValue* slots)
    : size_(n), capacity_(n), data_(slots), inlineData_(true) {
  MoxMemoryLedger::track(this);
}

size_t MoxVector::filledBytes(unsigned int n) {
  return sizeof(MoxVector) + size_t(n) * sizeof(MoxValue);
}

MoxVector* MoxVector::newFilled(unsigned int n) {
  // The block is freed as a whole by MoxRefObject's operator delete, like
  // that of any object made by new.
  char* block = static_cast<char*>(MoxRefObject::operator new(filledBytes(n)));
  MoxValue* slots = reinterpret_cast<MoxValue*>(block + sizeof(MoxVector));
  memset(static_cast<void*>(slots), 0, size_t(n) * sizeof(MoxValue));
  return ::new (block) MoxVector(n, slots);
}

MoxVector* MoxVector::placeEmbedded(void* place, unsigned int n) {
  char* at = static_cast<char*>(place);
  MoxValue* slots = reinterpret_cast<MoxValue*>(at + sizeof(MoxVector));
  memset(static_cast<void*>(slots), 0, size_t(n) * sizeof(MoxValue));
  MoxVector* v = ::new (at) MoxVector(n, slots);
  v->embedded_ = true;
  return v;
}

void MoxVector::freeData(MoxValue* data) const {
  if (!inlineData_ || data != reinterpret_cast<const MoxValue*>(this + 1)) mox::freemem(data);
}

MoxVector::~MoxVector() {
  // Dispose from the back: a value's release may run code that looks at the
  // vector, which then sees only live elements.
  while (size_ > 0) data_[--size_].dispose();
  freeData(data_);
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
  if (n != capacity_ && inlineData_ && data_ == reinterpret_cast<MoxValue*>(this + 1)) {
    // The slots that came with the vector stay behind, unused.
    MoxValue* block = allocValues(n);
    memcpy(static_cast<void*>(block), static_cast<const void*>(data_), size_t(size_) * sizeof(MoxValue));
    memset(static_cast<void*>(data_), 0, size_t(size_) * sizeof(MoxValue));
    data_ = block;
    capacity_ = n;
  } else if (n != capacity_) {
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
    // The same capacities that pushing one null value at a time would give.
    unsigned int cap = capacity_;
    while (cap < n) cap = cap > 0x7FFFFFFFu ? n : cap * 2;
    setCapacity(cap);
  }
  size_ = n;
}
