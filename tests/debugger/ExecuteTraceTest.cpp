// The trace of a real run: headers at each change of activation, one line
// per executed byte, the debugging statements and single-step mode.
#include <gtest/gtest.h>

#include "DebuggerTestUtil.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

int waits = 0;
bool countWait() { return ++waits < 3; }

struct TracedRun {
  MoxStringPrinter out, errors, trace;
  MoxVirtualMachine vm{&out};
  bool ok = false;

  std::vector<std::string> run(const char16_t* source, bool tracing) {
    EXPECT_TRUE(vm.compileText(source)) << out.a_str();
    ok = vm.execute(u"main", 0, nullptr, tracing, &errors, &trace);
    return splitLines(normalise(trace.a_str()));
  }
};

}  // namespace

#define SKIP_WITHOUT_INTERPRETER(r) \
  if (!(r).ok && std::string((r).errors.a_str()).empty()) GTEST_SKIP() << "interpreter not available"

TEST(ExecuteTrace, TracedRunOfASmallFunction) {
  TracedRun r;
  auto lines = r.run(u"main() { return 1 + 2; }\n", true);
  SKIP_WITHOUT_INTERPRETER(r);
  ASSERT_TRUE(r.ok) << r.errors.a_str();
  std::vector<std::string> want = {
      "-->current proc ::main, 0 arguments",
      "0000: 05   OP_PUSH SP:0000 SP[0]:MVT_NULL ",
      "0001: 1b    OP_LIT SP:0001 LIT[3]:MVT_INTEGER 1 ",
      "0003: 05   OP_PUSH SP:0001 SP[0]:MVT_INTEGER 1 ",
      "0004: 1b    OP_LIT SP:0002 LIT[4]:MVT_INTEGER 2 ",
      "0006: 08    OP_ADD SP:0002 SP[-1]:MVT_INTEGER 1 SP[0]:MVT_INTEGER 2 ",
      "0007: 1c OP_RETURN SP:0001 SP[0]:MVT_INTEGER 3 ",
  };
  EXPECT_EQ(lines, want);
}

TEST(ExecuteTrace, CallsPrintHeadersForEachActivation) {
  TracedRun r;
  auto lines = r.run(u"g(a) { return a; }\nmain() { return g(4); }\n", true);
  SKIP_WITHOUT_INTERPRETER(r);
  ASSERT_TRUE(r.ok) << r.errors.a_str();
  std::vector<std::string> headers;
  for (auto& l : lines)
    if (l.rfind("-->", 0) == 0) headers.push_back(l);
  std::vector<std::string> want = {"-->current proc ::main, 0 arguments",
                                   "-->current proc ::g, 1 arguments",
                                   "-->current proc ::main, 0 arguments"};
  EXPECT_EQ(headers, want);
  bool sawCall = false, sawArg = false;
  for (auto& l : lines) {
    if (l.find("OP_CALL") != std::string::npos && l.find("(1 arguments)") != std::string::npos)
      sawCall = true;
    if (l.find("BP[1](arg[0]):MVT_INTEGER 4 ") != std::string::npos) sawArg = true;
  }
  EXPECT_TRUE(sawCall);
  EXPECT_TRUE(sawArg);
}

TEST(ExecuteTrace, TronAndTroffInTheScript) {
  TracedRun r;
  auto lines = r.run(u"main() { 5; TRON; 6; TROFF; return 7; }\n", false);
  SKIP_WITHOUT_INTERPRETER(r);
  ASSERT_TRUE(r.ok) << r.errors.a_str();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "-->current proc ::main, 0 arguments");
  // Tracing starts with the instruction after OP_TRON and ends with OP_TROFF.
  EXPECT_NE(lines[1].find("OP_LIT"), std::string::npos);
  EXPECT_NE(lines.back().find("OP_TROFF"), std::string::npos);
  for (auto& l : lines) EXPECT_EQ(l.find("OP_RETURN"), std::string::npos);
}

TEST(ExecuteTrace, SingleStepAsksTheWaitProcedureAfterEachStep) {
  TracedRun r;
  waits = 0;
  r.vm.setDbgWaitProc(&countWait);
  auto lines = r.run(u"main() { TRSTEP; 1; 2; 3; 4; return 5; }\n", false);
  SKIP_WITHOUT_INTERPRETER(r);
  ASSERT_TRUE(r.ok) << r.errors.a_str();
  // Three steps: the wait procedure answers true twice, then false.
  EXPECT_EQ(waits, 3);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "-->current proc ::main, 0 arguments");
}
