// The mx2 program as a user runs it: usage, option errors, compile-only
// module output, modules found along MOXLIB and main's result as exit code.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "common/TestSupport.h"

namespace {

struct Mx2Run {
  std::string out;
  int code;
};

// Runs mx2 with the words (shell syntax) in dir; stdin is empty.
Mx2Run mx2(const std::string& words, const std::string& dir, const std::string& env = "") {
  std::string cmd = "cd '" + dir + "' && " + env + " '" MOX_BIN_DIR "/mx2' " + words + " </dev/null 2>/dev/null";
  Mx2Run r{"", -1};
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir.empty()); }
  void write(const std::string& name, const std::string& text) { tmp.write(name, text); }
  bool exists(const std::string& name) { return tmp.exists(name); }
  TempDir tmp{"driver"};
  const std::string dir = tmp.path();
};

}  // namespace

TEST_F(DriverTest, UsageAndInvalidOptions) {
  Mx2Run none = mx2("", dir);
  EXPECT_EQ(none.code, 255);
  EXPECT_NE(none.out.find("usage:\nmx2 [-i][-d][-t][-c] [sourcefile [..]] [-r objfile [..]] \n"), std::string::npos);
  EXPECT_NE(none.out.find("     # ... marks begin of user argument list\n"), std::string::npos);
  Mx2Run bad = mx2("-xyz", dir);
  EXPECT_EQ(bad.code, 255);
  EXPECT_EQ(bad.out.rfind("invalid option -xyz\n", 0), 0u);
  EXPECT_EQ(mx2("-", dir).out.rfind("invalid option -\n", 0), 0u);
}

TEST_F(DriverTest, MainResultIsTheExitCode) {
  write("a.mox", "main() { print(\"hi\\n\"); return 258; }\n");
  Mx2Run r = mx2("a", dir);  // ".mox" is added to a name without a dot
  EXPECT_EQ(r.out, "hi\n");
  EXPECT_EQ(r.code, 2);
  write("neg.mox", "main() { return -1; }\n");
  EXPECT_EQ(mx2("neg.mox", dir).code, 255);
  // "#" ends the options: nothing compiled, no main.
  EXPECT_EQ(mx2("'#' a.mox", dir).code, 255);
  EXPECT_EQ(mx2("missing.mox", dir).out, "error opening file missing.mox\n");
}

TEST_F(DriverTest, CompileOnlyWritesTheLastOutputName) {
  write("lib.mox", "twice(x) { return x * 2; }\n");
  write("app.mox", "main() { return twice(21); }\n");
  Mx2Run c = mx2("-c lib.mox -o first -o second", dir);
  EXPECT_EQ(c.code, 0);
  EXPECT_EQ(c.out, "");
  EXPECT_TRUE(exists("second.mxm"));
  EXPECT_FALSE(exists("first.mxm"));
  EXPECT_FALSE(exists("out.mxm"));
  // The module is found along MOXLIB, and its functions reach main.
  std::system(("mkdir -p '" + dir + "/libs' && mv '" + dir + "/second.mxm' '" + dir + "/libs/'").c_str());
  Mx2Run r = mx2("app.mox -r second", dir, "MOXLIB='" + dir + "/libs'");
  EXPECT_EQ(r.code, 42);
  EXPECT_EQ(mx2("app.mox -r nothere", dir).code, 255);
}

TEST_F(DriverTest, TraceAndInfoOptions) {
  write("t.mox", "main() { return 3; }\n");
  Mx2Run info = mx2("-i t.mox", dir);
  EXPECT_EQ(info.code, 3);
  EXPECT_NE(info.out.find("function main\n"), std::string::npos);
  Mx2Run trace = mx2("-t t.mox", dir);
  EXPECT_EQ(trace.code, 3);
  EXPECT_NE(trace.out.find("OP_RETURN"), std::string::npos);
  Mx2Run debug = mx2("-d t.mox", dir);
  EXPECT_NE(debug.out.find("::main ("), std::string::npos);
}

TEST_F(DriverTest, SingleStepEndsAtEndOfInput) {
  // TRSTEP asks the terminal or standard input; empty input leaves step mode
  // and the program runs to its end.
  write("s.mox", "main(;i) { TRSTEP; for (i = 0; i < 3; i++) ; return i; }\n");
  Mx2Run r = mx2("s.mox", dir, "setsid");
  EXPECT_EQ(r.code, 3);
}
