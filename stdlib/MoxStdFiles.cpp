// Whole files and folders: readfile, writefile, readlines, fileexists,
// removefile, renamefile, listdir. Text is UTF-8 on disk; names are UTF-8 at
// the system boundary. Every function belongs to the files group of
// capabilities.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/MoxString.h"
#include "core/MoxUtf8.h"
#include "core/MoxVector.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "stdlib/MoxStdSupport.h"
#include "vm/MoxPlatform.h"

using namespace moxstd;

namespace {

// The UTF-8 form of a path argument. False when the value is no string (an
// error is then reported) or when the name holds a zero unit, which no file
// name can hold (*usable is then false, nothing reported).
bool pathArg(MoxVirtualMachine* vm, const MoxValue& v, std::string& out, bool* usable) {
  if (!isString(v)) return fail(vm, u"invalid argument type");
  const MoxString* s = static_cast<MoxString*>(v.getRef());
  out.clear();
  *usable = false;
  if (!s) return true;
  const unsigned n = s->length();
  const MoxChar* text = s->c_str();
  for (unsigned i = 0; i < n; ++i)
    if (text[i] == 0) return true;
  moxUtf8Encode(text, n, out);
  *usable = !out.empty();
  return true;
}

MoxValue newString(const std::u16string& text) {
  return MoxValue(new MoxString(text.c_str(), static_cast<unsigned>(text.size())), false);
}

// Reads the whole file at path and decodes it. False with an error reported
// when the run has to stop; *readable tells whether the file could be read.
bool readText(MoxVirtualMachine* vm, const std::string& path, std::u16string& text,
              bool* readable) {
  *readable = false;
  text.clear();
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return true;
  std::string bytes;
  // Room for the whole file at once where its size is known and fits, so
  // that the bytes are not copied again as they grow.
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && st.st_size > 0 &&
      mox::blockFits(size_t(st.st_size) + 1, sizeof(MoxChar) + 1))
    bytes.reserve(size_t(st.st_size) + 1);
  std::vector<char> chunk(kWorkChunk);
  bool failed = false;
  for (;;) {
    if (!work(vm, kWorkChunk)) {
      fclose(f);
      return false;
    }
    const size_t n = fread(chunk.data(), 1, chunk.size(), f);
    if (n > 0) {
      // Bytes and the text they decode to (at most one unit a byte) must
      // both fit.
      if (!mox::blockFits(bytes.size() + n + 1, sizeof(MoxChar) + 1)) {
        fclose(f);
        return fail(vm, u"not enough memory");
      }
      bytes.append(chunk.data(), n);
    }
    if (n < chunk.size()) {
      failed = ferror(f) != 0;
      break;
    }
  }
  fclose(f);
  // A string ends at a zero unit: a file holding a zero byte is no text
  // that a string can hold whole.
  if (failed || bytes.find('\0') != std::string::npos) return true;
  moxUtf8Decode(bytes.data(), bytes.size(), text);
  *readable = true;
  return true;
}

// The checks and the read that readfile and readlines share: false after an
// error; *readable false (and no error) when there is no readable file.
bool readWhole(MoxVirtualMachine* vm, int argc, ValPtr& args, std::u16string& text, bool* readable) {
  *readable = false;
  if (!allowed(vm, MOX_CAP_FILES) || !checkCount(vm, argc, 1, 1)) return false;
  std::string path;
  bool usable = false;
  if (!pathArg(vm, *args, path, &usable)) return false;
  if (!usable) return true;
  return readText(vm, path, text, readable);
}

}  // namespace

bool MoxDefaultFunctions::Mox_readfile(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  std::u16string text;
  bool readable = false;
  if (!readWhole(vm, argc, args, text, &readable)) return false;
  if (!readable) return resultNull(args, argc);
  return result(args, argc, newString(text));
}

bool MoxDefaultFunctions::Mox_readlines(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  std::u16string text;
  bool readable = false;
  if (!readWhole(vm, argc, args, text, &readable)) return false;
  if (!readable) return resultNull(args, argc);
  // One string a line; a last line without "\n" counts, an empty tail after
  // the last "\n" does not.
  size_t lines = 0;
  for (MoxChar c : text)
    if (c == u'\n') ++lines;
  if (!text.empty() && text.back() != u'\n') ++lines;
  if (!mox::blockFits(lines, sizeof(MoxValue))) return fail(vm, u"not enough memory");
  if (!work(vm, lines)) return false;
  MoxVector* v = new MoxVector();
  MoxValue held(v, false, false);
  if (lines) v->setCapacity(unsigned(lines));
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(u'\n', start);
    const size_t next = end == std::u16string::npos ? text.size() : end + 1;
    if (end == std::u16string::npos) end = text.size();
    size_t stop = end;
    if (stop > start && text[stop - 1] == u'\r' && end < text.size()) --stop;
    // Each line in one block with its object (the text holds no zero unit).
    v->push_back(MoxValue(MoxString::create(text.data() + start, unsigned(stop - start)), false));
    start = next;
  }
  return result(args, argc, held);
}

bool MoxDefaultFunctions::Mox_writefile(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_FILES) || !checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  std::string path;
  bool usable = false;
  if (!pathArg(vm, a[1], path, &usable)) return false;
  if (!isString(a[2])) return fail(vm, u"invalid argument type");
  const MoxString* s = static_cast<MoxString*>(a[2].getRef());
  const unsigned len = s ? s->length() : 0;
  const MoxChar* text = s ? s->c_str() : u"";
  if (!mox::blockFits(size_t(len) * 3 + 1, 1)) return fail(vm, u"not enough memory");
  if (!usable) return result(args, argc, MoxValue(int32_t(0)));
  mox::FileReplacement out(path.c_str());
  FILE* f = out.stream();
  if (!f) return result(args, argc, MoxValue(int32_t(0)));
  // Encoded and written a chunk at a time; a chunk never ends inside a
  // surrogate pair, so each pair is encoded whole.
  std::string bytes;
  bool written = true;
  unsigned at = 0;
  while (at < len) {
    if (!work(vm, kWorkChunk)) return false;  // the replacement is dropped
    unsigned n = len - at < kWorkChunk ? len - at : kWorkChunk;
    if (at + n < len && text[at + n - 1] >= 0xD800 && text[at + n - 1] <= 0xDBFF) ++n;
    bytes.clear();
    moxUtf8Encode(text + at, n, bytes);
    if (fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
      written = false;
      break;
    }
    at += n;
  }
  const bool ok = written && out.commit() == 0;
  return result(args, argc, MoxValue(int32_t(ok ? 1 : 0)));
}

bool MoxDefaultFunctions::Mox_fileexists(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_FILES) || !checkCount(vm, argc, 1, 1)) return false;
  std::string path;
  bool usable = false;
  if (!pathArg(vm, *args, path, &usable)) return false;
  struct stat st;
  const bool exists = usable && stat(path.c_str(), &st) == 0;
  return result(args, argc, MoxValue(int32_t(exists ? 1 : 0)));
}

bool MoxDefaultFunctions::Mox_removefile(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_FILES) || !checkCount(vm, argc, 1, 1)) return false;
  std::string path;
  bool usable = false;
  if (!pathArg(vm, *args, path, &usable)) return false;
  // Files only: a folder stays.
  const bool removed = usable && unlink(path.c_str()) == 0;
  return result(args, argc, MoxValue(int32_t(removed ? 1 : 0)));
}

bool MoxDefaultFunctions::Mox_renamefile(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_FILES) || !checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  std::string from, to;
  bool usableFrom = false, usableTo = false;
  if (!pathArg(vm, a[1], from, &usableFrom) || !pathArg(vm, a[2], to, &usableTo)) return false;
  const bool renamed = usableFrom && usableTo && rename(from.c_str(), to.c_str()) == 0;
  return result(args, argc, MoxValue(int32_t(renamed ? 1 : 0)));
}

bool MoxDefaultFunctions::Mox_listdir(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_FILES) || !checkCount(vm, argc, 1, 1)) return false;
  std::string path;
  bool usable = false;
  if (!pathArg(vm, *args, path, &usable)) return false;
  if (!usable) return resultNull(args, argc);
  DIR* dir = opendir(path.c_str());
  if (!dir) return resultNull(args, argc);
  std::vector<std::u16string> names;
  size_t units = 0;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    units += name.size() + 1;
    if (names.size() % 4096 == 4095 && !work(vm, 4096 * 16)) {
      closedir(dir);
      return false;
    }
    if (!mox::blockFits(names.size() + 1, sizeof(MoxValue)) ||
        !mox::blockFits(units, sizeof(MoxChar))) {
      closedir(dir);
      return fail(vm, u"not enough memory");
    }
    std::u16string decoded;
    moxUtf8Decode(name.data(), name.size(), decoded);
    names.push_back(decoded);
  }
  closedir(dir);
  // Sorted by code units, the order strcmp gives.
  std::sort(names.begin(), names.end());
  MoxVector* v = new MoxVector();
  MoxValue held(v, false, false);
  for (const std::u16string& n : names) v->push_back(newString(n));
  return result(args, argc, held);
}
