// Fixtures shared by the GoogleTest folders (each binary has tests/ on its
// include path): a scratch folder, printf into a std::string, and UTF-8 /
// UTF-16 conversion for readable expectations.
#ifndef MOX_TEST_SUPPORT_H
#define MOX_TEST_SUPPORT_H

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/MoxString.h"
#include "core/MoxUtf8.h"

// A fresh folder in the system's temporary folder, removed with everything
// in it when the fixture goes. path() is empty when none could be made.
class TempDir {
 public:
  explicit TempDir(const char* tag = "test") {
    const char* tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/mox_" + tag + "_XXXXXX";
    if (mkdtemp(&tmpl[0])) path_ = tmpl;
  }
  ~TempDir() {
    if (!path_.empty()) nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes name (which may name subfolders, made as needed) with text;
  // returns the full path.
  std::string write(const std::string& name, const std::string& text) const {
    size_t slash = name.find('/');
    for (; slash != std::string::npos; slash = name.find('/', slash + 1))
      mkdir((path_ + "/" + name.substr(0, slash)).c_str(), 0700);
    std::string full = path_ + "/" + name;
    if (FILE* f = fopen(full.c_str(), "wb")) {
      fwrite(text.data(), 1, text.size(), f);
      fclose(f);
    }
    return full;
  }
  bool exists(const std::string& name) const {
    struct stat st;
    return stat((path_ + "/" + name).c_str(), &st) == 0;
  }

 private:
  static int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
  }
  std::string path_;
};

// printf into a std::string (up to 1023 bytes).
inline std::string fmt(const char* format, ...) {
  char buf[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

inline std::u16string utf16(const std::string& s) {
  std::u16string out;
  moxUtf8Decode(s.data(), s.size(), out);
  return out;
}

// Up to the first zero unit; null gives "".
inline std::string utf8(const MoxChar* s) {
  std::string out;
  if (s) moxUtf8Encode(s, moxStrLen(s), out);
  return out;
}

// Every unit, zero units included.
inline std::string utf8(const std::u16string& s) {
  std::string out;
  moxUtf8Encode(s.data(), s.size(), out);
  return out;
}

#endif
