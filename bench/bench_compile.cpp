// Compiler throughput: compiles a generated source of 10,000 functions
// (about 100,000 lines) into a fresh machine and prints the time taken.
#include <chrono>
#include <cstdio>
#include <string>

#include "compiler/MoxCompiler.h"
#include "core/MoxDictionary.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// Ten lines per function: loops, conditions, calls, sends, indexing and
// globals, so every part of the compiler takes its share.
std::u16string generate(int functions, int* lines) {
  std::string s;
  s.reserve(size_t(functions) * 400);
  s += "class Counter { n; step(k); static total = 0; }\n";
  s += "Counter::step(k) { n += k; return this; }\n";
  *lines = 2;
  for (int i = 0; i < functions; ++i) {
    std::string name = "f" + std::to_string(i);
    s += name + "(a, b; i, sum) {\n";
    s += "  sum = 0;\n";
    s += "  for (i = 0; i < a; i++) {\n";
    s += "    if (i % 2 == 0) sum += b[i]; else sum -= g" + std::to_string(i % 97) + "(i, \"x\");\n";
    s += "  }\n";
    s += "  while (sum > 100 && a) { sum = sum / 2; a--; }\n";
    s += "  c = new Counter(); c->step(sum)->step(1);\n";
    s += "  b[0] = [1, 2, 3]; Counter::total = Counter::total + 1;\n";
    s += "  return sum > 0 ? sum : -sum;\n";
    s += "}\n";
    *lines += 10;
  }
  std::u16string out(s.begin(), s.end());
  return out;
}

}  // namespace

int main() {
  int lines = 0;
  std::u16string src = generate(10000, &lines);
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  MoxCompiler compiler(vm, &out);
  auto t0 = std::chrono::steady_clock::now();
  bool ok = compiler.compile(src.c_str(), u"bench.mox");
  auto t1 = std::chrono::steady_clock::now();
  double ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
  printf("compiled %d lines (%zu characters) in %.1f ms: %s, %u symbols\n", lines, src.size(), ms,
         ok ? "ok" : "FAILED", vm.symbols().count());
  if (!ok) printf("%s", out.a_str());
  return ok ? 0 : 1;
}
