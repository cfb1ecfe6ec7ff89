// Character sources: UTF-8 decoding of streams, and in-memory texts.
#include "compiler/MoxCharSource.h"

namespace {

// A real U+FFFF in the input would read as the end marker and silently cut
// the source short; it is delivered as the replacement character instead.
inline MoxChar notEnd(MoxChar c) { return c == MOX_EOF_CHAR ? MoxChar(0xFFFD) : c; }

}  // namespace

// ---------------------------------------------------------------------------
// Streams

MoxStreamSource::~MoxStreamSource() {
  if (owned_ && stream_ != nullptr) fclose(stream_);
}

int MoxStreamSource::byte() {
  if (unreadCount_ > 0) return unread_[--unreadCount_];
  // A stream that reported its end once is not read again: a terminal may
  // deliver more input after an end-of-file, a finished source must not.
  if (stream_ == nullptr || eof_) return -1;
  int c = fgetc(stream_);
  if (c == EOF) {
    eof_ = true;
    return -1;
  }
  return c;
}

MoxChar MoxStreamSource::next() {
  if (pendingCount_ > 0) return pending_[--pendingCount_];
  int b0 = byte();
  if (b0 < 0) return MOX_EOF_CHAR;
  if (b0 < 0x80) return MoxChar(b0);
  // The ranges of the first continuation byte exclude overlong forms,
  // encoded surrogates (after 0xED) and values beyond U+10FFFF (after 0xF4).
  if (b0 >= 0xC2 && b0 <= 0xDF) return decodeSequence(b0, 1, b0 & 0x1F, 0x80, 0xBF);
  if (b0 >= 0xE0 && b0 <= 0xEF)
    return decodeSequence(b0, 2, b0 & 0x0F, b0 == 0xE0 ? 0xA0 : 0x80, b0 == 0xED ? 0x9F : 0xBF);
  if (b0 >= 0xF0 && b0 <= 0xF4)
    return decodeSequence(b0, 3, b0 & 0x07, b0 == 0xF0 ? 0x90 : 0x80, b0 == 0xF4 ? 0x8F : 0xBF);
  return MoxChar(b0);
}

MoxChar MoxStreamSource::decodeSequence(int b0, int need, uint32_t cp, int lo, int hi) {
  int got[3];
  for (int i = 0; i < need; ++i) {
    int b = byte();
    bool ok = b >= 0 && (i == 0 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF));
    if (!ok) {
      // Give back the bytes after the lead byte; they are decoded anew.
      if (b >= 0) unread(b);
      for (int j = i - 1; j >= 0; --j) unread(got[j]);
      return MoxChar(b0);
    }
    got[i] = b;
    cp = (cp << 6) | uint32_t(b & 0x3F);
  }
  if (cp < 0x10000) return notEnd(MoxChar(cp));
  cp -= 0x10000;
  pending_[pendingCount_++] = MoxChar(0xDC00 + (cp & 0x3FF));
  return MoxChar(0xD800 + (cp >> 10));
}

// ---------------------------------------------------------------------------
// Texts

MoxTextSource::MoxTextSource(const MoxChar* text) {
  if (text != nullptr) text_ = text;
}

MoxChar MoxTextSource::next() {
  if (cursor_ >= text_.size()) return MOX_EOF_CHAR;
  return notEnd(text_[cursor_++]);
}
