// Helpers for tracer tests: hand-built procedures and output normalisation.
#ifndef MOX_DEBUGGER_TEST_UTIL_H
#define MOX_DEBUGGER_TEST_UTIL_H

#include <cstdio>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"

// A procedure vector: code, class (may be null), name, then literals.
inline MoxVector* makeProc(const std::vector<uint8_t>& code, MoxClass* cls, const char16_t* name) {
  MoxVector* proc = new MoxVector();
  MoxBuffer* buf = new MoxBuffer();
  for (uint8_t b : code) buf->push_back(b);
  proc->push_back(MoxValue(buf));
  proc->push_back(cls ? MoxValue(cls) : MoxValue());
  proc->push_back(name ? MoxValue(new MoxString(name)) : MoxValue());
  return proc;
}

// Pointers print as 16 hexadecimal digits: each becomes "P".
inline std::string normalise(const std::string& s) {
  auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    size_t j = i;
    while (j < s.size() && hex(s[j])) ++j;
    if (j - i == 16) {
      out += 'P';
      i = j;
    } else if (j > i) {
      out.append(s, i, j - i);
      i = j;
    } else {
      out += s[i++];
    }
  }
  return out;
}

inline std::vector<std::string> splitLines(const std::string& s) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] == '\n') {
      lines.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  if (start < s.size()) lines.push_back(s.substr(start));
  return lines;
}

#endif
