// A module file is replaced only by a complete one: a write that fails (a
// value too deep to write, a full disk) leaves the earlier module as it was
// and no temporary file beside it.
#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "common/TestSupport.h"
#include "core/MoxString.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

bool writeWith(const MoxChar* source, const std::string& path, std::string* errors = nullptr) {
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  if (!vm.compileText(source) || !vm.execute(u"setup")) return false;
  const bool ok = vm.writeModule(MoxString(path.c_str()).c_str());
  if (errors) *errors = out.a_str();
  return ok;
}

// The result of answer() in a machine that reads the module; -1 when the
// module cannot be read.
int answerOf(const std::string& path) {
  MoxVirtualMachine vm;
  if (!vm.readModule(MoxString(path.c_str()).c_str()) || !vm.execute(u"answer")) return -1;
  return int32_t(vm.getResult());
}

int entriesIn(const std::string& dir) {
  int n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++n;
    closedir(d);
  }
  return n;
}

const MoxChar* kFirst = u"setup() { return 0; } answer() { return 42; }";
const MoxChar* kSecond = u"setup() { return 0; } answer() { return 7; }";
// A global holding a chain of vectors deeper than the writer goes.
const MoxChar* kTooDeep =
    u"setup(;v, w, i) { v = newvector(1); w = v;"
    u" for (i = 0; i < 1000; i++) { w[0] = newvector(1); w = w[0]; }"
    u" DEEP = v; return 0; } answer() { return 1; }";
// Enough text that a small file-size limit stops the write.
const MoxChar* kLarge =
    u"setup() { BIG = newstring(100000, 'x'); return 0; } answer() { return 2; }";

}  // namespace

TEST(ModuleReplace, OnlyACompleteModuleReplacesTheOldOne) {
  TempDir dir("replace");
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir.path() + "/lib.mxm";
  ASSERT_TRUE(writeWith(kFirst, path));
  EXPECT_EQ(answerOf(path), 42);

  std::string errors;
  EXPECT_FALSE(writeWith(kTooDeep, path, &errors));
  EXPECT_NE(errors.find("values nested too deeply to write"), std::string::npos) << errors;
  EXPECT_EQ(answerOf(path), 42);
  EXPECT_EQ(entriesIn(dir.path()), 1);

  // A full disk, as a file-size limit in a child process.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(writeWith(kLarge, path) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(answerOf(path), 42);
  EXPECT_EQ(entriesIn(dir.path()), 1);

  // A folder that does not exist: the old message, nothing made.
  EXPECT_FALSE(writeWith(kSecond, dir.path() + "/none/lib.mxm", &errors));
  EXPECT_NE(errors.find("opening "), std::string::npos) << errors;

  // A complete write replaces the module, and a new one appears whole.
  EXPECT_TRUE(writeWith(kSecond, path));
  EXPECT_EQ(answerOf(path), 7);
  EXPECT_TRUE(writeWith(kFirst, dir.path() + "/new.mxm"));
  EXPECT_EQ(answerOf(dir.path() + "/new.mxm"), 42);
  EXPECT_EQ(entriesIn(dir.path()), 2);
}
