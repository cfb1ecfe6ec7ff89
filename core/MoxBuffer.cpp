// Byte and UTF-16 unit buffers. Both keep the bytes beyond the size zero
// (new and grown parts are zero-filled, popped and cleared elements zeroed).
#include "core/MoxBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "vm/MoxPlatform.h"

namespace {

template <typename T>
T* allocZeroed(unsigned int n) {
  return static_cast<T*>(mox::callocmem(n, sizeof(T)));
}

// Reallocates a block from oldCap to newCap elements, zeroing any new part.
template <typename T>
T* resize(T* data, unsigned int oldCap, unsigned int newCap) {
  T* block = static_cast<T*>(mox::reallocmem(data, size_t(newCap) * sizeof(T)));
  if (newCap > oldCap) memset(block + oldCap, 0, size_t(newCap - oldCap) * sizeof(T));
  return block;
}

// Doubling that stays within 32 bits.
unsigned int grown(unsigned int cap) { return cap > 0x7FFFFFFFu ? 0xFFFFFFFFu : cap * 2; }

}  // namespace

// ---- MoxBuffer ----

MoxBuffer::MoxBuffer() : size_(0), capacity_(1), data_(allocZeroed<unsigned char>(1)) {}

MoxBuffer::MoxBuffer(unsigned int n)
    : size_(0), capacity_(n ? n : 1), data_(allocZeroed<unsigned char>(capacity_)) {}

MoxBuffer::MoxBuffer(const MoxBuffer& other)
    : MoxRefObject(), size_(other.size_), capacity_(other.capacity_),
      data_(allocZeroed<unsigned char>(other.capacity_)) {
  memcpy(data_, other.data_, size_);
}

MoxBuffer::~MoxBuffer() {
  mox::freemem(data_);
  setDerived(nullptr, nullptr);
}

// Every change of the size drops the table, so that content of the same
// size written afterwards cannot meet a table made for the old bytes.
void MoxBuffer::setDerived(void* derived, void (*release)(void*)) {
  if (derived_ && releaseDerived_) releaseDerived_(derived_);
  derived_ = derived;
  releaseDerived_ = derived ? release : nullptr;
  derivedSize_ = derived ? size_ : 0;
}

MoxBuffer& MoxBuffer::operator=(const MoxBuffer& other) {
  if (this == &other) return *this;
  setDerived(nullptr, nullptr);
  unsigned char* block = allocZeroed<unsigned char>(other.capacity_);
  memcpy(block, other.data_, other.size_);
  mox::freemem(data_);
  data_ = block;
  size_ = other.size_;
  capacity_ = other.capacity_;
  return *this;
}

unsigned int MoxBuffer::setCapacity(unsigned int n) {
  if (n == 0) n = 1;
  if (n < size_) n = size_;
  if (n != capacity_) {
    data_ = resize(data_, capacity_, n);
    capacity_ = n;
  }
  return capacity_;
}

unsigned int MoxBuffer::push_back(unsigned char b) {
  if (derived_) setDerived(nullptr, nullptr);
  if (size_ == capacity_) setCapacity(grown(capacity_));
  data_[size_] = b;
  return size_++;
}

unsigned int MoxBuffer::push_backW(uint16_t w) {
  push_back(uint8_t(w));
  push_back(uint8_t(w >> 8));
  return size_ - 2;
}

unsigned int MoxBuffer::push_backDW(uint32_t dw) {
  push_backW(uint16_t(dw));
  push_backW(uint16_t(dw >> 16));
  return size_ - 4;
}

unsigned char MoxBuffer::pop_back() {
  if (derived_) setDerived(nullptr, nullptr);
  if (size_ == 0) return 0;
  unsigned char b = data_[--size_];
  data_[size_] = 0;
  return b;
}

uint16_t MoxBuffer::pop_backW() {
  unsigned int high = pop_back();
  unsigned int low = pop_back();
  return uint16_t(low | (high << 8));
}

uint32_t MoxBuffer::pop_backDW() {
  uint32_t high = pop_backW();
  uint32_t low = pop_backW();
  return low | (high << 16);
}

void MoxBuffer::append(const unsigned char* bytes, unsigned int n) {
  if (derived_) setDerived(nullptr, nullptr);
  if (n == 0) return;
  if (capacity_ - size_ < n) setCapacity(size_ + n);
  memmove(data_ + size_, bytes, n);
  size_ += n;
}

MoxBuffer MoxBuffer::operator+(const MoxBuffer& other) const {
  MoxBuffer result(size_ + other.size_);
  result.append(data_, size_);
  result.append(other.data_, other.size_);
  return result;
}

MoxBuffer& MoxBuffer::operator+=(const MoxBuffer& other) {
  if (derived_) setDerived(nullptr, nullptr);
  // Appending a buffer to itself: the source moves with the block.
  unsigned int n = other.size_;
  if (capacity_ - size_ < n) setCapacity(size_ + n);
  memmove(data_ + size_, other.data_, n);
  size_ += n;
  return *this;
}

void MoxBuffer::clear() {
  if (derived_) setDerived(nullptr, nullptr);
  memset(data_, 0, size_);
  size_ = 0;
}

bool MoxBuffer::setSize(unsigned int n) {
  if (derived_) setDerived(nullptr, nullptr);
  if (n > capacity_) return false;
  size_ = n;
  return true;
}

void MoxBuffer::appendFill(unsigned int n, unsigned char b) {
  if (derived_) setDerived(nullptr, nullptr);
  if (n == 0) return;
  if (capacity_ - size_ < n) setCapacity(size_ + n);
  // Bytes beyond the size are zero already.
  if (b) memset(data_ + size_, b, n);
  size_ += n;
}

// ---- MoxCharBuffer ----

MoxCharBuffer::MoxCharBuffer() : size_(0), capacity_(1), data_(allocZeroed<MoxChar>(1)) {}

MoxCharBuffer::MoxCharBuffer(unsigned int n)
    : size_(0), capacity_(n ? n : 1), data_(allocZeroed<MoxChar>(capacity_)) {}

MoxCharBuffer::MoxCharBuffer(const MoxCharBuffer& other)
    : MoxRefObject(), size_(other.size_), capacity_(other.capacity_),
      data_(allocZeroed<MoxChar>(other.capacity_)) {
  memcpy(data_, other.data_, size_t(size_) * sizeof(MoxChar));
}

MoxCharBuffer::~MoxCharBuffer() { mox::freemem(data_); }

MoxCharBuffer& MoxCharBuffer::operator=(const MoxCharBuffer& other) {
  if (this == &other) return *this;
  MoxChar* block = allocZeroed<MoxChar>(other.capacity_);
  memcpy(block, other.data_, size_t(other.size_) * sizeof(MoxChar));
  mox::freemem(data_);
  data_ = block;
  size_ = other.size_;
  capacity_ = other.capacity_;
  return *this;
}

unsigned int MoxCharBuffer::setCapacity(unsigned int n) {
  if (n == 0) n = 1;
  if (n < size_) n = size_;
  if (n != capacity_) {
    data_ = resize(data_, capacity_, n);
    capacity_ = n;
  }
  return capacity_;
}

void MoxCharBuffer::push_back(MoxChar ch) {
  if (size_ == capacity_) setCapacity(grown(capacity_));
  data_[size_++] = ch;
}

MoxChar MoxCharBuffer::pop_back() {
  if (size_ == 0) return 0;
  MoxChar ch = data_[--size_];
  data_[size_] = 0;
  return ch;
}

void MoxCharBuffer::append(const MoxChar* units, unsigned int n) {
  if (n == 0) return;
  if (capacity_ - size_ < n) setCapacity(size_ + n);
  memmove(data_ + size_, units, size_t(n) * sizeof(MoxChar));
  size_ += n;
}

MoxCharBuffer MoxCharBuffer::operator+(const MoxCharBuffer& other) const {
  MoxCharBuffer result(size_ + other.size_);
  result.append(data_, size_);
  result.append(other.data_, other.size_);
  return result;
}

MoxCharBuffer& MoxCharBuffer::operator+=(const MoxCharBuffer& other) {
  unsigned int n = other.size_;
  if (capacity_ - size_ < n) setCapacity(size_ + n);
  memmove(data_ + size_, other.data_, size_t(n) * sizeof(MoxChar));
  size_ += n;
  return *this;
}

void MoxCharBuffer::appendFill(unsigned int n, MoxChar ch) {
  if (n == 0) return;
  if (capacity_ - size_ < n) setCapacity(size_ + n);
  if (ch) std::fill_n(data_ + size_, n, ch);
  size_ += n;
}

void MoxCharBuffer::clear() {
  memset(data_, 0, size_t(size_) * sizeof(MoxChar));
  size_ = 0;
}

void MoxCharBuffer::adjustSize() {
  if (!data_ || capacity_ == 0) {
    size_ = 0;
    return;
  }
  data_[capacity_ - 1] = 0;
  unsigned int n = 0;
  while (data_[n]) ++n;
  size_ = n;
}
