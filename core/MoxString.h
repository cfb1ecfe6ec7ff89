// The library's text type: zero-terminated UTF-16 in an exactly sized heap
// block (no stored length, no spare capacity). A null block is the empty
// string. Script strings, dictionary keys, names and error texts are all
// MoxStrings.
#ifndef MOX_STRING_H
#define MOX_STRING_H

#include "core/MoxConfig.h"
#include "core/MoxValue.h"

class MOX_API MoxString : public MoxRefObject {
 public:
  MoxString() : text_(nullptr) {}
  // Copy of the text; null gives the empty string.
  MoxString(const MoxChar* text);
  // The first len units of text (stops early at a zero unit).
  MoxString(const MoxChar* text, unsigned int len);
  // UTF-8 text; ill-formed bytes become units of the same value.
  MoxString(const char* text);
  MoxString(const MoxString& other);
  MoxString(MoxString&& other) noexcept : MoxRefObject(), text_(other.text_) {
    other.text_ = nullptr;
  }
  // Formats up to argc script values args[0], args[1], ... with format.
  MoxString(const MoxChar* format, unsigned int argc, ValPtr& args);
  ~MoxString() override;

  // printf-style formatting of a UTF-16 format ("%s" takes UTF-16 text).
  static MoxString format(const MoxChar* format, ...);

  MoxString& operator=(const MoxString& other);
  MoxString& operator=(MoxString&& other) noexcept;
  MoxString& operator+=(const MoxString& other);
  MoxString& operator+=(const MoxChar* text);
  MoxString& operator+=(MoxChar ch);
  MoxString operator+(const MoxString& other) const;
  void clear();

  unsigned int length() const;
  bool empty() const { return text_ == nullptr || text_[0] == 0; }
  const MoxChar* c_str() const { return text_ ? text_ : u""; }
  const MoxChar* w_str() const { return c_str(); }
  // UTF-8 form in one buffer shared by every string; valid until the next
  // a_str call on any string.
  const char* a_str() const;

  // The caller keeps the index below length().
  MoxChar& operator[](unsigned int i) { return text_[i]; }
  const MoxChar& operator[](unsigned int i) const { return text_[i]; }

  // Code-unit order: negative, 0 or positive.
  int compare(const MoxString& other) const;
  // Case-insensitive order (units folded to lower case).
  int icompare(const MoxString& other) const;
  bool operator<(const MoxString& other) const { return compare(other) < 0; }
  bool operator==(const MoxString& other) const { return compare(other) == 0; }
  bool operator!=(const MoxString& other) const { return compare(other) != 0; }

  // Index of the first occurrence at or after pos, or -1 (also when this is
  // empty or pos >= length); an empty s is found at pos.
  int32_t find(const MoxString& s, unsigned int pos = 0) const;
  int32_t find(MoxChar ch, unsigned int pos = 0) const;

  // count < 0 or past the end: to the end.
  MoxString substr(unsigned int pos, int32_t count) const;
  MoxString& erase(unsigned int pos, int32_t count);
  MoxString& insert(unsigned int pos, const MoxString& s);
  MoxString& insert(unsigned int pos, MoxChar ch, unsigned int count);
  // Replaces every occurrence, left to right; replacements are not rescanned.
  MoxString& replace(const MoxString& from, const MoxString& to);
  MoxString& replace(MoxChar from, MoxChar to);

 private:
  // Takes over a block of len units plus terminator (null when len is 0).
  void adopt(MoxChar* block);
  // Replaces the text with len units of text (which may alias nothing of ours).
  void assign(const MoxChar* text, size_t len);
  void append(const MoxChar* text, size_t len);

  MoxChar* text_;
};

#endif
