// The lines of source files, read once per file, for the tools that show
// the line a program is at (the line trace, the debugger).
#ifndef MOX_SOURCE_LINES_H
#define MOX_SOURCE_LINES_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

class MoxSourceLines {
 public:
  // Line n (1-based, without its line end) of the file at path; empty when
  // the file or the line does not exist.
  const std::string& line(const std::string& path, int32_t n) {
    auto found = files_.find(path);
    if (found == files_.end()) found = files_.emplace(path, read(path)).first;
    static const std::string kNone;
    const std::vector<std::string>& lines = found->second;
    return n >= 1 && size_t(n) <= lines.size() ? lines[size_t(n) - 1] : kNone;
  }

 private:
  static std::vector<std::string> read(const std::string& path) {
    std::vector<std::string> lines;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return lines;
    std::string current;
    int c;
    while ((c = fgetc(f)) != EOF) {
      if (c != '\n') {
        current += char(c);
        continue;
      }
      if (!current.empty() && current.back() == '\r') current.pop_back();
      lines.push_back(current);
      current.clear();
    }
    if (!current.empty()) lines.push_back(current);
    fclose(f);
    return lines;
  }

  std::map<std::string, std::vector<std::string>> files_;
};

#endif
