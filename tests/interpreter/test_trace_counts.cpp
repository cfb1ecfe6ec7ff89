// The trace shows reference counts, so the loop's own element access, its
// result moves and cached sends must leave every count where the general
// path leaves it.
#include <sstream>

#include "InterpTestUtil.h"

namespace {

// The trace text with each 16-digit address replaced by "P".
std::vector<std::string> tracedLines(const char16_t* source) {
  MoxStringPrinter out, errors, trace;
  MoxVirtualMachine vm(&out);
  EXPECT_TRUE(vm.compileText(source)) << out.a_str();
  EXPECT_TRUE(vm.execute(u"main", 0, nullptr, true, &errors, &trace)) << errors.a_str();
  std::string s = trace.a_str(), masked;
  auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  for (size_t i = 0; i < s.size();) {
    size_t j = i;
    while (j < s.size() && hex(s[j])) ++j;
    if (j - i == 16) masked += 'P';
    else masked.append(s, i, j > i ? j - i : 1);
    i = j > i ? j : i + 1;
  }
  std::vector<std::string> lines;
  std::istringstream in(masked);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

bool has(const std::vector<std::string>& lines, const std::string& want) {
  for (const auto& l : lines)
    if (l == want) return true;
  return false;
}

}  // namespace

TEST(TraceCounts, ElementAccessSendsAndReturns) {
  auto lines = tracedLines(
      u"class P { P(); f(x); } P::P() { } P::f(x) { return x * 0.5; }\n"
      u"main(;v, p, i, s) { v = newvector(2); p = new P(); v[0] = p; v[1] = v[0]; s = 0;"
      u" for (i = 0; i < 2; i++) s = s + v[i]->f(i + 0.5); return s; }\n");
  const char* want[] = {
      "001e: 21   OP_VSET SP:0007 SP[-2](dest):MVT_VECTOR P (#2) SP[-1](index):MVT_INTEGER 0 "
      "SP[0](val):MVT_OBJECT P (#2) (class P) ",
      "002a: 20   OP_VREF SP:0008 SP[-1](src):MVT_VECTOR P (#3) SP[0](index:)MVT_INTEGER 0 ",
      "002b: 21   OP_VSET SP:0007 SP[-2](dest):MVT_VECTOR P (#2) SP[-1](index):MVT_INTEGER 1 "
      "SP[0](val):MVT_OBJECT P (#3) (class P) ",
      "0059: 05   OP_PUSH SP:0006 SP[0]:MVT_OBJECT P (#4) (class P) ",
      "0063: 29   OP_SEND SP:0008 SP[-2](obj):MVT_OBJECT P (#4) (class P) "
      "SP[-1](name):MVT_STRING P (#2) \"f\") (2 arguments)",
      "0004: 1c OP_RETURN SP:0007 SP[0]:MVT_OBJECT P (#3) (class P) ",
  };
  for (const char* w : want) EXPECT_TRUE(has(lines, w)) << w;
  // Both passes of the loop send from the same instruction with the same
  // counts.
  int sends = 0;
  for (const auto& l : lines)
    if (l == want[4]) ++sends;
  EXPECT_EQ(sends, 2);
}
