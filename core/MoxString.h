// The library's text type: zero-terminated UTF-16 in a heap block that keeps
// its length and, once appended to, some room to grow. A null block is the
// empty string. Script strings, dictionary keys, names and error texts are
// all MoxStrings. Strings made by create() keep their text in the object's
// own allocation, right behind it, until an edit needs more room.
#ifndef MOX_STRING_H
#define MOX_STRING_H

#include "core/MoxConfig.h"
#include "core/MoxValue.h"

class MOX_API MoxString : public MoxRefObject {
 public:
  MoxString() : text_(nullptr), len_(0), cap_(0), exposed_(false), inBlock_(false) {}
  // Copy of the text; null gives the empty string.
  MoxString(const MoxChar* text);
  // The first len units of text (stops early at a zero unit).
  MoxString(const MoxChar* text, unsigned int len);
  // UTF-8 text; ill-formed bytes become units of the same value.
  MoxString(const char* text);
  // The first leftLen units of left followed by the first rightLen units of
  // right, in one block; the texts must hold no zero unit within those counts.
  MoxString(const MoxChar* left, unsigned int leftLen, const MoxChar* right, unsigned int rightLen);
  MoxString(const MoxString& other);
  MoxString(MoxString&& other) noexcept : MoxString() { take(other); }
  // Formats up to argc script values args[0], args[1], ... with format.
  MoxString(const MoxChar* format, unsigned int argc, ValPtr& args);
  ~MoxString() override;

  // printf-style formatting of a UTF-16 format ("%s" takes UTF-16 text).
  static MoxString format(const MoxChar* format, ...);

  // A new heap string (reference count 0, freed by release or delete) made
  // in a single allocation that holds the object and its text: half the
  // allocations of new MoxString and less memory, for strings that are
  // kept as they are (dictionary keys) or made and dropped at a high rate
  // (concatenation results). The arguments are those of the matching
  // constructors; the texts must hold no zero unit within the counts.
  static MoxString* create(const MoxChar* text, unsigned int len) {
    return create(text, len, nullptr, 0);
  }
  static MoxString* create(const MoxChar* left, unsigned int leftLen, const MoxChar* right,
                           unsigned int rightLen);

  MoxString& operator=(const MoxString& other);
  MoxString& operator=(MoxString&& other) noexcept;
  MoxString& operator+=(const MoxString& other);
  MoxString& operator+=(const MoxChar* text);
  MoxString& operator+=(MoxChar ch);
  MoxString operator+(const MoxString& other) const;
  void clear();

  // Stored, except for a string whose text was handed out for writing.
  unsigned int length() const { return len_ != kUnmeasured ? len_ : measure(); }
  bool empty() const { return text_ == nullptr || text_[0] == 0; }
  const MoxChar* c_str() const { return text_ ? text_ : u""; }
  const MoxChar* w_str() const { return c_str(); }
  // UTF-8 form in one buffer shared by every string of the thread; valid
  // until the thread's next a_str call on any string.
  const char* a_str() const;

  // One unit of a string, for reading and writing; a zero written ends the
  // text there. Writes at or past the end are ignored.
  class UnitRef {
   public:
    UnitRef(MoxString& s, unsigned int i) : s_(s), i_(i) {}
    operator MoxChar() const { return s_.text_[i_]; }
    UnitRef& operator=(MoxChar ch) {
      s_.setUnit(i_, ch);
      return *this;
    }
    UnitRef& operator=(const UnitRef& other) { return *this = MoxChar(other); }

   private:
    MoxString& s_;
    unsigned int i_;
  };
  // The caller keeps the index below length().
  UnitRef operator[](unsigned int i) { return UnitRef(*this, i); }
  const MoxChar& operator[](unsigned int i) const { return text_[i]; }
  // The text for native code that may write into it (never past the
  // terminator). From then on the string measures its length on every call,
  // since it cannot know when such writes happen. Null for the empty string.
  MoxChar* exposeText();

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
  enum : uint32_t { kUnmeasured = 0xFFFFFFFFu };
  unsigned int measure() const;
  void setUnit(unsigned int i, MoxChar ch);
  // Records a new length n (the terminator is written at n); the block is
  // freed when n is 0.
  void setLength(size_t n);
  // Makes room for n units plus the terminator, keeping the text; grows
  // geometrically so that repeated appends take amortized constant time.
  void reserve(size_t n);
  // Takes over an exactly sized block of len units plus terminator (null
  // when len is 0).
  void adopt(MoxChar* block, size_t len);
  // Replaces the text with len units of text (which may alias nothing of ours).
  void assign(const MoxChar* text, size_t len);
  void append(const MoxChar* text, size_t len);
  // Frees the text unless it lies in the object's own allocation, and
  // leaves the string with no text.
  void dropText();
  // Moves other's text here (this holds none); other is left empty.
  void take(MoxString& other);

  MoxChar* text_;
  // Units before the terminator, or kUnmeasured.
  mutable uint32_t len_;
  // Units the block holds before its terminator slot.
  uint32_t cap_;
  bool exposed_;
  // text_ lies right behind the object in its allocation: it is never freed
  // on its own, and it cannot be handed to another string.
  bool inBlock_;
};

#endif
