// Character sources: where a scanner's UTF-16 units come from.
//
// A source hands out one unit at a time and MOX_EOF_CHAR at the end of its
// input, and from then on. Because that marker is itself a UTF-16 value, a
// real U+FFFF in the input is delivered as U+FFFD so that it cannot cut the
// source short.
#ifndef MOX_CHAR_SOURCE_H
#define MOX_CHAR_SOURCE_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/MoxConfig.h"

// End-of-input marker delivered by character sources.
constexpr MoxChar MOX_EOF_CHAR = 0xFFFF;

class MOX_API MoxCharSource {
 public:
  virtual ~MoxCharSource() {}
  virtual MoxChar next() = 0;
};

// A stdio stream decoded as UTF-8. Each byte of an ill-formed sequence
// becomes the unit of the same value, so plain byte sources (Latin-1, binary
// data) come through unchanged one byte to one character. Characters beyond
// U+FFFF arrive as a surrogate pair, high unit first.
class MOX_API MoxStreamSource : public MoxCharSource {
 public:
  // owned: the source closes the stream when it is destroyed.
  MoxStreamSource(FILE* stream, bool owned) : stream_(stream), owned_(owned) {}
  ~MoxStreamSource() override;
  MoxStreamSource(const MoxStreamSource&) = delete;
  MoxStreamSource& operator=(const MoxStreamSource&) = delete;

  MoxChar next() override;

 private:
  // Next byte of the stream, -1 at its end.
  int byte();
  void unread(int b) { unread_[unreadCount_++] = b; }
  // The character after lead byte b0 with need continuation bytes, the first
  // of them within [lo, hi]; b0 alone when the sequence is ill-formed.
  MoxChar decodeSequence(int b0, int need, uint32_t cp, int lo, int hi);

  FILE* stream_;
  bool owned_;
  bool eof_ = false;
  // Bytes read ahead of an ill-formed sequence, to be decoded anew.
  int unread_[4];
  int unreadCount_ = 0;
  // The low surrogate still to deliver.
  MoxChar pending_[2];
  int pendingCount_ = 0;
};

// A private copy of a UTF-16 text; its terminating zero is the end.
class MOX_API MoxTextSource : public MoxCharSource {
 public:
  explicit MoxTextSource(const MoxChar* text);
  MoxChar next() override;

 private:
  std::u16string text_;
  size_t cursor_ = 0;
};

#endif
