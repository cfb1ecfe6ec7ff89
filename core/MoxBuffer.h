// Growable byte and UTF-16 arrays. MoxBuffer stores multi-byte words
// little-endian at any index; the compiler emits bytecode into one and
// patches jump targets with the set operations.
#ifndef MOX_BUFFER_H
#define MOX_BUFFER_H

#include "core/MoxConfig.h"
#include "core/MoxValue.h"

class MOX_API MoxBuffer : public MoxRefObject {
 public:
  // Size 0, capacity 1.
  MoxBuffer();
  // Size 0, capacity n (1 when n is 0).
  explicit MoxBuffer(unsigned int n);
  MoxBuffer(const MoxBuffer& other);
  ~MoxBuffer() override;
  MoxBuffer& operator=(const MoxBuffer& other);

  // Unchecked access.
  unsigned char& operator[](unsigned int i) { return data_[i]; }
  unsigned char operator[](unsigned int i) const { return data_[i]; }
  uint16_t getW(unsigned int i) const { return uint16_t(data_[i] | (data_[i + 1] << 8)); }
  uint32_t getDW(unsigned int i) const {
    return uint32_t(data_[i]) | (uint32_t(data_[i + 1]) << 8) | (uint32_t(data_[i + 2]) << 16) |
           (uint32_t(data_[i + 3]) << 24);
  }
  unsigned int getNW(unsigned int i) const { return getDW(i); }
  void setW(unsigned int i, uint16_t w) {
    data_[i] = uint8_t(w);
    data_[i + 1] = uint8_t(w >> 8);
  }
  void setDW(unsigned int i, uint32_t dw) {
    setW(i, uint16_t(dw));
    setW(i + 2, uint16_t(dw >> 16));
  }
  void setNW(unsigned int i, unsigned int v) { setDW(i, v); }

  unsigned int size() const { return size_; }
  unsigned int capacity() const { return capacity_; }
  unsigned char* data() const { return data_; }

  // Capacity := max(n, size), n = 0 counting as 1; new bytes are zero.
  unsigned int setCapacity(unsigned int n);
  unsigned int shrink() { return setCapacity(size_); }

  // Each returns the index of the first byte stored.
  unsigned int push_back(unsigned char b);
  unsigned int push_backW(uint16_t w);
  unsigned int push_backDW(uint32_t dw);
  unsigned int push_backNW(unsigned int v) { return push_backDW(v); }
  // 0 when empty; popped bytes are zeroed.
  unsigned char pop_back();
  uint16_t pop_backW();
  uint32_t pop_backDW();
  unsigned int pop_backNW() { return pop_backDW(); }

  MoxBuffer operator+(const MoxBuffer& other) const;
  MoxBuffer& operator+=(const MoxBuffer& other);
  // Zeroes the bytes in use; the capacity stays.
  void clear();
  // False when n > capacity; no byte changes.
  bool setSize(unsigned int n);
  // Appends n copies of b in one go.
  void appendFill(unsigned int n, unsigned char b);

  // What the interpreter derives from these bytes when they run as code
  // (their translation), kept with the buffer while its size stays the
  // same; null when there is none. Bytes of code edited in place after it
  // ran are not noticed, and a buffer of code that is running must not
  // change its size (native code could; scripts cannot reach code
  // buffers): replace the procedure instead.
  const void* derived() const { return derivedSize_ == size_ ? derived_ : nullptr; }
  // Takes derived data made for the current size, which release frees when
  // the buffer changes size or ends.
  void setDerived(void* derived, void (*release)(void*));

 private:
  void append(const unsigned char* bytes, unsigned int n);

  uint32_t size_;
  uint32_t capacity_;
  unsigned char* data_;
  void* derived_ = nullptr;
  void (*releaseDerived_)(void*) = nullptr;
  uint32_t derivedSize_ = 0;
};

class MOX_API MoxCharBuffer : public MoxRefObject {
 public:
  MoxCharBuffer();
  explicit MoxCharBuffer(unsigned int n);
  MoxCharBuffer(const MoxCharBuffer& other);
  ~MoxCharBuffer() override;
  MoxCharBuffer& operator=(const MoxCharBuffer& other);

  MoxChar& operator[](unsigned int i) { return data_[i]; }
  MoxChar operator[](unsigned int i) const { return data_[i]; }

  unsigned int size() const { return size_; }
  unsigned int capacity() const { return capacity_; }
  MoxChar* data() const { return data_; }

  unsigned int setCapacity(unsigned int n);
  unsigned int shrink() { return setCapacity(size_); }

  void push_back(MoxChar ch);
  MoxChar pop_back();
  // Appends n copies of ch in one go.
  void appendFill(unsigned int n, MoxChar ch);

  MoxCharBuffer operator+(const MoxCharBuffer& other) const;
  MoxCharBuffer& operator+=(const MoxCharBuffer& other);
  void clear();
  // Forces a zero into the last unit of the block, then size := length of
  // the zero-terminated text at the start (so at most capacity - 1).
  void adjustSize();

 private:
  void append(const MoxChar* units, unsigned int n);

  uint32_t size_;
  uint32_t capacity_;
  MoxChar* data_;
};

#endif
