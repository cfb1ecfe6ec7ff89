// The four output sinks over the UTF-16 formatting engine.
#include "vm/MoxPrinter.h"

#include <cstdarg>
#include <string>

#include "core/MoxFormat.h"
#include "core/MoxUtf8.h"
#include "vm/MoxPlatform.h"
#include "vm/MoxWideStream.h"

namespace {

// Scratch buffers for the file printer, which calls nothing that could
// print again while it holds them; they keep their capacity between calls.
std::u16string& wideScratch() {
  thread_local std::u16string s;
  s.clear();
  return s;
}

std::string& narrowScratch() {
  thread_local std::string s;
  s.clear();
  return s;
}

int clampCount(size_t n) { return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n); }

}  // namespace

IMoxPrinter::~IMoxPrinter() {}

int MoxDummyPrinter::operator()(const MoxChar*, ...) { return 0; }

// ------------------------------------------------------------ file stream

MoxFileStreamPrinter::MoxFileStreamPrinter(FILE* stream, bool ownsStream)
    : stream_(stream), ownsStream_(ownsStream) {}

MoxFileStreamPrinter::MoxFileStreamPrinter(const MoxChar* path, const MoxChar* mode)
    : stream_(nullptr), ownsStream_(true) {
  stream_ = mox::_wfopen(path, mode);  // null for a null path or mode
}

MoxFileStreamPrinter::~MoxFileStreamPrinter() {
  if (ownsStream_ && stream_) fclose(stream_);
}

int MoxFileStreamPrinter::operator()(const MoxChar* format, ...) {
  if (!format || !stream_) return -1;
  std::u16string& wide = wideScratch();
  va_list args;
  va_start(args, format);
  size_t n = moxVFormat(wide, format, args);
  va_end(args);
  if (n == 0) return 0;
  std::string& bytes = narrowScratch();
  moxUtf8Encode(wide.data(), wide.size(), bytes);
  moxWideFlush(stream_);  // a surrogate that "putwc" holds comes first
  if (fwrite(bytes.data(), 1, bytes.size(), stream_) == 0) return -1;
  return clampCount(n);
}

// --------------------------------------------------------------- callback

MoxCallbackPrinter::MoxCallbackPrinter(Callback callback) : callback_(callback) {}

int MoxCallbackPrinter::operator()(const MoxChar* format, ...) {
  if (!callback_) return 0;
  if (!format) return -1;
  // Local buffers: the callback may well print through this printer again.
  std::u16string wide;
  va_list args;
  va_start(args, format);
  size_t n = moxVFormat(wide, format, args);
  va_end(args);
  if (n == 0) return 0;
  // The callback gets its own UTF-8 copy rather than the thread's buffer
  // behind MoxString::a_str, so nothing it does can change the text under it.
  std::string bytes;
  moxUtf8Encode(wide.data(), wide.size(), bytes);
  callback_(bytes.c_str());
  return clampCount(n);
}

// ----------------------------------------------------------------- string

MoxStringPrinter::MoxStringPrinter() {}

int MoxStringPrinter::operator()(const MoxChar* format, ...) {
  if (!format) return -1;
  std::u16string& wide = wideScratch();
  va_list args;
  va_start(args, format);
  size_t n = moxVFormat(wide, format, args);
  va_end(args);
  if (n > 0) text += wide.c_str();
  return clampCount(n);
}
