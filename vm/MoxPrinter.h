// Output sinks. Every text the library produces goes through an IMoxPrinter:
// a printf-style callable over a UTF-16 format (see core/MoxFormat.h for the
// conversions).
#ifndef MOX_PRINTER_H
#define MOX_PRINTER_H

#include <cstdio>

#include "core/MoxConfig.h"
#include "core/MoxString.h"

class MOX_API IMoxPrinter {
 public:
  IMoxPrinter() = default;
  IMoxPrinter(const IMoxPrinter&) = default;
  IMoxPrinter& operator=(const IMoxPrinter&) = default;
  virtual ~IMoxPrinter();
  // Returns the number of UTF-16 units produced, or -1 when nothing could be
  // written.
  virtual int operator()(const MoxChar* format, ...) = 0;
};

// Discards everything.
class MOX_API MoxDummyPrinter : public IMoxPrinter {
 public:
  int operator()(const MoxChar* format, ...) override;
};

// Writes UTF-8 to a stdio stream.
class MOX_API MoxFileStreamPrinter : public IMoxPrinter {
 public:
  MoxFileStreamPrinter(FILE* stream, bool ownsStream);
  MoxFileStreamPrinter(const MoxChar* path, const MoxChar* mode);
  ~MoxFileStreamPrinter() override;
  MoxFileStreamPrinter(const MoxFileStreamPrinter&) = delete;
  MoxFileStreamPrinter& operator=(const MoxFileStreamPrinter&) = delete;
  int operator()(const MoxChar* format, ...) override;
  FILE* stream() const { return stream_; }

 private:
  FILE* stream_;
  bool ownsStream_;
};

// Hands each formatted text, as UTF-8, to a caller's function.
class MOX_API MoxCallbackPrinter : public IMoxPrinter {
 public:
  typedef void (*Callback)(const char* text);
  explicit MoxCallbackPrinter(Callback callback);
  int operator()(const MoxChar* format, ...) override;

 private:
  Callback callback_;
};

// Collects everything printed in a string.
class MOX_API MoxStringPrinter : public IMoxPrinter {
 public:
  MoxStringPrinter();
  int operator()(const MoxChar* format, ...) override;
  const MoxChar* c_str() const { return text.c_str(); }
  const MoxChar* w_str() const { return text.w_str(); }
  const char* a_str() const { return text.a_str(); }
  void clear() { text.clear(); }

  MoxString text;
};

#endif
