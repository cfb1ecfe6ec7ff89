// Files and console: stdio streams held in file values, line and character
// I/O, raw buffers, whole values and printing to the machine's printer.
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

#include "core/MoxBuffer.h"
#include "core/MoxString.h"
#include "core/MoxUtf8.h"
#include "modules/MoxDictionaryIO.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "stdlib/MoxStdSupport.h"
#include "vm/MoxWideStream.h"

using namespace moxstd;

namespace {

// Streams that a script has closed. A file value keeps its pointer after
// "fclose"; every function treats such a value as a null stream, so nothing
// touches the freed FILE. A later fopen that gets the same address opens it
// again.
// The set is the process's, shared by machines running in other threads.
struct ClosedStreams {
  std::mutex lock;
  std::set<FILE*> set;
};
ClosedStreams& closedStreams() {
  static ClosedStreams* closed = new ClosedStreams();
  return *closed;
}

bool isClosed(FILE* f) {
  ClosedStreams& c = closedStreams();
  std::lock_guard<std::mutex> hold(c.lock);
  return c.set.count(f) != 0;
}

FILE* liveStream(FILE* f) { return f && !isClosed(f) ? f : nullptr; }

// Exact file type: the value must be MVT_FILE; the stream may be null.
bool exactFile(MoxVirtualMachine* vm, const MoxValue& v, FILE*& out) {
  if (v.getType() != MVT_FILE) return fail(vm, u"invalid argument type");
  out = liveStream(static_cast<FILE*>(v.ptr()));
  return true;
}

// File conversion: a live stream or nothing.
FILE* convFile(const MoxValue& v) { return liveStream(static_cast<FILE*>(static_cast<void*>(v))); }

MoxString* stringArg(const MoxValue& v) { return isString(v) ? static_cast<MoxString*>(v) : nullptr; }

std::string utf8(const MoxString& s) {
  std::string out;
  moxUtf8Encode(s.c_str(), s.length(), out);
  return out;
}

// Reads one line into a new string value. False (the error reported) when
// the run has to stop while a long line is read.
bool readLine(MoxVirtualMachine* vm, FILE* f, bool wide, MoxValue& out) {
  std::u16string line;
  if (f) {
    for (unsigned n = 0;; ++n) {
      if (n == kWorkChunk) {
        if (!work(vm, n)) return false;
        n = 0;
      }
      // Only the end of the stream ends the line early: units decoded
      // before it (the tail of a cut-off sequence) still belong to it.
      int u = wide ? moxWideGet(f) : fgetc(f);
      if (u < 0 || u == 10) break;
      line += static_cast<MoxChar>(u);
    }
  }
  out = MoxValue(new MoxString(line.c_str(), static_cast<unsigned>(line.size())), false);
  return true;
}

}  // namespace

bool MoxDefaultFunctions::Mox_fopen(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_FILES) || !checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* path = stringArg(a[1]);
  MoxString* mode = stringArg(a[2]);
  if (!path || !mode) return fail(vm, u"invalid argument type");
  std::string m;
  for (char c : utf8(*mode))
    if (c != 't') m += c;
  FILE* f = fopen(utf8(*path).c_str(), m.c_str());
  if (!f) return resultNull(args, argc);
  {
    ClosedStreams& c = closedStreams();
    std::lock_guard<std::mutex> hold(c.lock);
    c.set.erase(f);
  }
  return result(args, argc, MoxValue(static_cast<void*>(f)));
}

bool MoxDefaultFunctions::Mox_fclose(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  FILE* f = nullptr;
  if (!exactFile(vm, *args, f)) return false;
  int r = -1;
  if (f) {
    {
      ClosedStreams& c = closedStreams();
      std::lock_guard<std::mutex> hold(c.lock);
      c.set.insert(f);
    }
    moxWideForget(f);
    r = fclose(f);
  }
  return result(args, argc, MoxValue(static_cast<int32_t>(r)));
}

bool MoxDefaultFunctions::Mox_feof(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  FILE* f = nullptr;
  if (!exactFile(vm, *args, f)) return false;
  return result(args, argc, MoxValue(static_cast<int32_t>(f ? feof(f) != 0 : 1)));
}

bool MoxDefaultFunctions::Mox_getc(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_FILES, streamRead(argc, args)) || !checkCount(vm, argc, 1, 1)) return false;
  FILE* f = nullptr;
  if (!exactFile(vm, *args, f)) return false;
  return result(args, argc, MoxValue(static_cast<int32_t>(f ? fgetc(f) : -1)));
}

bool MoxDefaultFunctions::Mox_putc(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  FILE* f = convFile(a[2]);
  if (a[1].getType() != MVT_INTEGER || !f) return fail(vm, u"invalid argument type");
  moxWideFlush(f);
  return result(args, argc, MoxValue(static_cast<int32_t>(fputc(static_cast<int32_t>(a[1]), f))));
}

bool MoxDefaultFunctions::Mox_getwc(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_FILES, streamRead(argc, args)) || !checkCount(vm, argc, 1, 1)) return false;
  FILE* f = nullptr;
  if (!exactFile(vm, *args, f)) return false;
  int u = f ? moxWideGet(f) : -1;
  return result(args, argc, MoxValue(static_cast<int32_t>(u & 0xFFFF)));
}

bool MoxDefaultFunctions::Mox_putwc(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  FILE* f = convFile(a[2]);
  if (a[1].getType() != MVT_INTEGER || !f) return fail(vm, u"invalid argument type");
  int r = moxWidePut(static_cast<MoxChar>(static_cast<int32_t>(a[1]) & 0xFFFF), f);
  return result(args, argc, MoxValue(static_cast<int32_t>(r & 0xFFFF)));
}

bool MoxDefaultFunctions::Mox_gets(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_FILES, stdin) || !checkCount(vm, argc, 0, 0)) return false;
  MoxValue line;
  if (!readLine(vm, liveStream(stdin), true, line)) return false;
  return result(args, argc, line);
}

bool MoxDefaultFunctions::Mox_fgets(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_FILES, streamRead(argc, args)) || !checkCount(vm, argc, 1, 1)) return false;
  FILE* f = convFile(*args);
  if (!f) return fail(vm, u"invalid argument type");
  MoxValue line;
  if (!readLine(vm, f, false, line)) return false;
  return result(args, argc, line);
}

bool MoxDefaultFunctions::Mox_fgetws(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_FILES, streamRead(argc, args)) || !checkCount(vm, argc, 1, 1)) return false;
  FILE* f = convFile(*args);
  if (!f) return fail(vm, u"invalid argument type");
  MoxValue line;
  if (!readLine(vm, f, true, line)) return false;
  return result(args, argc, line);
}

bool MoxDefaultFunctions::Mox_fputs(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* s = stringArg(a[1]);
  FILE* f = convFile(a[2]);
  if (!s || !f) return fail(vm, u"invalid argument");
  moxWideFlush(f);
  return result(args, argc, MoxValue(static_cast<int32_t>(fputs(utf8(*s).c_str(), f))));
}

bool MoxDefaultFunctions::Mox_fputws(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* s = stringArg(a[1]);
  FILE* f = convFile(a[2]);
  if (!s || !f) return fail(vm, u"invalid argument");
  bool ok = moxWideWrite(s->c_str(), s->length(), f);
  return result(args, argc, MoxValue(static_cast<int32_t>(ok ? 0 : -1)));
}

namespace {

// Shared checks of "fread" and "fwrite": the file last, the buffer first,
// then count and size as exact integers.
bool bufferCall(MoxVirtualMachine* vm, int argc, ValPtr& args, FILE*& f, MoxBuffer*& b, int32_t& size,
                int32_t& count) {
  if (!checkCount(vm, argc, 2, 4)) return false;
  ValPtr a = argBase(args, argc);
  f = convFile(a[argc]);
  if (!f) return fail(vm, u"invalid argument type", u" (FILE expected)");
  b = a[1].getType() == MVT_BUFFER || a[1].getType() == MVT_BUFFERREF ? static_cast<MoxBuffer*>(a[1]) : nullptr;
  if (!b) return fail(vm, u"invalid argument type", u" (Buffer expected)");
  size = 1;
  count = -1;
  if (argc >= 3) {
    if (a[argc - 1].getType() != MVT_INTEGER) return fail(vm, u"invalid argument type", u" (int expected)");
    count = static_cast<int32_t>(a[argc - 1]);
  }
  if (argc == 4) {
    if (a[2].getType() != MVT_INTEGER) return fail(vm, u"invalid argument type", u" (int expected)");
    size = static_cast<int32_t>(a[2]);
  }
  return true;
}

}  // namespace

bool MoxDefaultFunctions::Mox_fread(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_FILES, streamRead(argc, args))) return false;
  FILE* f = nullptr;
  MoxBuffer* b = nullptr;
  int32_t size = 0, count = 0;
  if (!bufferCall(vm, argc, args, f, b, size, count)) return false;
  // The result keeps the buffer alive while it grows.
  MoxValue keep(argBase(args, argc)[1]);
  int32_t got = 0;
  if (argc == 2) {
    for (int c; (c = fgetc(f)) != EOF; ++got) {
      if ((got & (kWorkChunk - 1)) == kWorkChunk - 1 && !work(vm, kWorkChunk)) return false;
      b->push_back(static_cast<unsigned char>(c));
    }
  } else if (size > 0 && count > 0) {
    const unsigned long long want = static_cast<unsigned long long>(size) * static_cast<unsigned>(count);
    const unsigned old = b->size();
    if (want <= 0x7FFFFFFFull - old) {
      // Whole items in chunks of about kWorkChunk bytes; the buffer grows
      // with what arrives (doubling), not by the whole count up front.
      const unsigned itemSize = static_cast<unsigned>(size);
      const unsigned perChunk = itemSize >= kWorkChunk ? 1u : kWorkChunk / itemSize;
      const unsigned end = old + static_cast<unsigned>(want);
      unsigned left = static_cast<unsigned>(count);
      while (left > 0) {
        const unsigned items = left < perChunk ? left : perChunk;
        if (!work(vm, uint64_t(items) * itemSize)) return false;
        const unsigned at = b->size();
        const unsigned need = at + items * itemSize;
        if (b->capacity() < need) {
          const unsigned doubled = b->capacity() > end / 2 ? end : b->capacity() * 2;
          b->setCapacity(doubled > need ? doubled : need);
        }
        const size_t n = fread(b->data() + at, itemSize, items, f);
        b->setSize(at + static_cast<unsigned>(n) * itemSize);
        got += static_cast<int32_t>(n);
        left -= static_cast<unsigned>(n);
        if (n < items) break;
      }
    }
  }
  return result(args, argc, MoxValue(got));
}

bool MoxDefaultFunctions::Mox_fwrite(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  FILE* f = nullptr;
  MoxBuffer* b = nullptr;
  int32_t size = 0, count = 0;
  if (!bufferCall(vm, argc, args, f, b, size, count)) return false;
  size_t written = 0;
  moxWideFlush(f);
  if (argc == 2) {
    written = fwrite(b->data(), 1, b->size(), f);
  } else if (size > 0 && count > 0) {
    // Never read beyond the buffer's data: at most the whole items it holds.
    size_t items = static_cast<size_t>(count);
    size_t held = b->size() / static_cast<size_t>(size);
    if (items > held) items = held;
    written = fwrite(b->data(), static_cast<size_t>(size), items, f);
  }
  return result(args, argc, MoxValue(static_cast<int32_t>(written)));
}

bool MoxDefaultFunctions::Mox_freadval(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_FILES, streamRead(argc, args)) || !checkCount(vm, argc, 1, 1)) return false;
  FILE* f = convFile(*args);
  if (!f) return fail(vm, u"invalid argument type");
  MoxDictionaryIO io(*vm);
  MoxValue value;
  if (!io.readSingleValue(f, value)) value.dispose();
  return result(args, argc, value);
}

bool MoxDefaultFunctions::Mox_fwriteval(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  FILE* f = convFile(a[2]);
  if (!f) return fail(vm, u"invalid argument type");
  moxWideFlush(f);
  MoxDictionaryIO io(*vm);
  MoxValue value(a[1]);
  return result(args, argc, MoxValue(static_cast<int32_t>(io.writeSingleValue(f, value) ? 1 : 0)));
}

bool MoxDefaultFunctions::Mox_print(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (argc < 0) return fail(vm, u"too few arguments");
  ValPtr a = argBase(args, argc);
  IMoxPrinter& out = vm->printer();
  for (int i = 1; i <= argc; ++i) {
    const MoxValue& v = a[i];
    switch (v.getType()) {
      case MVT_INTEGER:
        out(u"%ld", static_cast<int32_t>(v));
        break;
      case MVT_FLOAT:
      case MVT_DOUBLE:
        out(u"%f", static_cast<double>(v));
        break;
      case MVT_STRING:
      case MVT_STRINGREF:
        if (MoxString* s = static_cast<MoxString*>(v)) out(u"%s", s->c_str());
        break;
      default:
        out(u"(%s:%p)", getValueTypeName(v.getType()), v.ptr());
        break;
    }
  }
  return resultNull(args, argc);
}
