// Platform services: directory-list search, the persistent environment
// store, time, allocation and formatted length.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/TestSupport.h"
#include "core/MoxUtf8.h"
#include "vm/MoxPlatform.h"

namespace {

std::string readFile(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return text;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

void writeFile(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

// Points the store at a private file for one test and restores the
// variables it changes.
class EnvironmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    save("MOX_ENVIRONMENT");
    save("XDG_CONFIG_HOME");
    save("HOME");
    store_ = dir_.path() + "/environment";
    setenv("MOX_ENVIRONMENT", store_.c_str(), 1);
    unsetenv("MOXT_A");
    unsetenv("MOXT_B");
  }
  void TearDown() override {
    for (auto& s : saved_) {
      if (s.set)
        setenv(s.name.c_str(), s.value.c_str(), 1);
      else
        unsetenv(s.name.c_str());
    }
    unsetenv("MOXT_A");
    unsetenv("MOXT_B");
  }
  void save(const char* name) {
    const char* v = getenv(name);
    saved_.push_back({name, v ? v : "", v != nullptr});
  }

  struct Saved {
    std::string name;
    std::string value;
    bool set;
  };
  std::vector<Saved> saved_;
  TempDir dir_;
  std::string store_;
};

// Runs one disabled test of this binary in a child process with extra
// variables; returns its exit status.
int runChild(const char* test, const std::string& store, const char* expect) {
  pid_t pid = fork();
  if (pid == 0) {
    setenv("MOX_ENVIRONMENT", store.c_str(), 1);
    setenv("MOXT_EXPECT", expect, 1);
    unsetenv("MOXT_A");
    int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    std::string filter = std::string("--gtest_filter=EnvironmentChild.") + test;
    execl("/proc/self/exe", "test_vm", filter.c_str(), "--gtest_also_run_disabled_tests", (char*)nullptr);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int vscw(const MoxChar* format, ...) {
  va_list args;
  va_start(args, format);
  int n = mox::_vscwprintf(format, args);
  va_end(args);
  return n;
}

int vsc(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = mox::_vscprintf(format, args);
  va_end(args);
  return n;
}

}  // namespace

TEST(SearchDirList, FindsTheFileInTheFirstDirectoryThatHoldsIt) {
  TempDir a, b;
  writeFile(b.path() + "/lib.mxm", "x");
  std::u16string names[] = {utf16(a.path() + ";" + b.path()), utf16(a.path() + ":" + b.path()),
                            utf16(";;" + a.path() + "/;" + b.path() + "/:")};
  for (const std::u16string& list : names) {
    const MoxChar* found = mox::searchDirList(list.c_str(), u"lib.mxm");
    ASSERT_NE(found, nullptr) << utf8(list.c_str());
    EXPECT_EQ(utf8(found), b.path() + "/lib.mxm");
  }
  // Both hold it: the first wins.
  writeFile(a.path() + "/lib.mxm", "y");
  std::u16string both = utf16(a.path() + ";" + b.path());
  EXPECT_EQ(utf8(mox::searchDirList(both.c_str(), u"lib.mxm")), a.path() + "/lib.mxm");
  // A name with a folder part is searched below each directory.
  mkdir((b.path() + "/sub").c_str(), 0700);
  writeFile(b.path() + "/sub/m.mxm", "z");
  EXPECT_EQ(utf8(mox::searchDirList(both.c_str(), u"sub/m.mxm")), b.path() + "/sub/m.mxm");
}

TEST(SearchDirList, MissesAndNulls) {
  TempDir a;
  std::u16string list = utf16(a.path());
  EXPECT_EQ(mox::searchDirList(u"", u"x"), nullptr);
  EXPECT_EQ(mox::searchDirList(u";:;", u"x"), nullptr);
  EXPECT_EQ(mox::searchDirList(list.c_str(), u"missing"), nullptr);
  EXPECT_EQ(mox::searchDirList(nullptr, u"x"), nullptr);
  EXPECT_EQ(mox::searchDirList(list.c_str(), nullptr), nullptr);
  // A folder of that name is not a file.
  mkdir((a.path() + "/dir").c_str(), 0700);
  EXPECT_EQ(mox::searchDirList(list.c_str(), u"dir"), nullptr);
  EXPECT_EQ(mox::searchEnv(nullptr, u"x"), nullptr);
  EXPECT_EQ(mox::searchPath(nullptr), nullptr);
}

TEST(SearchDirList, LongPathsAndNonAsciiNames) {
  TempDir a;
  std::string deep = a.path();
  for (int i = 0; i < 12; ++i) {
    deep += "/" + std::string(40, static_cast<char>('a' + i));
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  writeFile(deep + "/\xc3\xa9t\xc3\xa9.mxm", "x");
  std::u16string list = utf16(deep);
  const MoxChar* found = mox::searchDirList(list.c_str(), u"\u00e9t\u00e9.mxm");
  ASSERT_NE(found, nullptr);
  EXPECT_GT(moxStrLen(found), 260u);
  EXPECT_EQ(utf8(found), deep + "/\xc3\xa9t\xc3\xa9.mxm");
}

TEST_F(EnvironmentTest, SearchEnvAndPathFollowTheVariables) {
  TempDir a;
  writeFile(a.path() + "/tool.so", "x");
  std::string assignment = "MOXT_A=/nonexistent;" + a.path();
  ASSERT_EQ(mox::_tputenv(utf16(assignment).c_str()), 0);
  EXPECT_EQ(utf8(mox::searchEnv(u"MOXT_A", u"tool.so")), a.path() + "/tool.so");
  EXPECT_EQ(mox::searchEnv(u"MOXT_B", u"tool.so"), nullptr);
  save("Path");
  save("PATH");
  setenv("Path", "/nonexistent", 1);
  setenv("PATH", a.path().c_str(), 1);
  EXPECT_EQ(utf8(mox::searchPath(u"tool.so")), a.path() + "/tool.so");
}

TEST_F(EnvironmentTest, WritesReadsAndRemoves) {
  EXPECT_STREQ(utf8(mox::_tgetenv(u"MOXT_A")).c_str(), "");
  EXPECT_NE(mox::_tgetenv(u"MOXT_A"), nullptr);
  ASSERT_EQ(mox::_tputenv(u"MOXT_A=v\u00e9=1"), 0);
  ASSERT_EQ(mox::_tputenv(u"MOXT_B=two"), 0);
  EXPECT_EQ(readFile(store_), "MOXT_A=v\xc3\xa9=1\nMOXT_B=two\n");
  // The process environment follows.
  ASSERT_NE(getenv("MOXT_A"), nullptr);
  EXPECT_STREQ(getenv("MOXT_A"), "v\xc3\xa9=1");
  // And the store alone answers once the process forgets it.
  unsetenv("MOXT_A");
  EXPECT_EQ(utf8(mox::_tgetenv(u"MOXT_A")), "v\xc3\xa9=1");
  // Replacing keeps the other lines.
  ASSERT_EQ(mox::_tputenv(u"MOXT_A=new"), 0);
  EXPECT_EQ(readFile(store_), "MOXT_A=new\nMOXT_B=two\n");
  // An empty value removes the variable from both.
  ASSERT_EQ(mox::_tputenv(u"MOXT_A="), 0);
  EXPECT_EQ(getenv("MOXT_A"), nullptr);
  EXPECT_EQ(utf8(mox::_tgetenv(u"MOXT_A")), "");
  EXPECT_EQ(readFile(store_), "MOXT_B=two\n");
  ASSERT_EQ(mox::_tputenv(u"MOXT_A="), 0);  // removing again is fine
}

TEST_F(EnvironmentTest, RejectsWithoutTouchingAnything) {
  ASSERT_EQ(mox::_tputenv(u"MOXT_A=keep"), 0);
  std::string before = readFile(store_);
  EXPECT_EQ(mox::_tputenv(u"MOXT_A"), -1);
  EXPECT_EQ(mox::_tputenv(nullptr), -1);
  // A line break would turn one entry into two.
  EXPECT_NE(mox::_tputenv(u"MOXT_A=x\nMOXT_B=injected"), 0);
  EXPECT_NE(mox::_tputenv(u"=value"), 0);
  EXPECT_EQ(readFile(store_), before);
  EXPECT_STREQ(getenv("MOXT_A"), "keep");
}

TEST_F(EnvironmentTest, ProcessEnvironmentComesFirst) {
  writeFile(store_, "MOXT_A=from store\nbroken line\nMOXT_B=b\n");
  EXPECT_EQ(utf8(mox::_tgetenv(u"MOXT_A")), "from store");
  setenv("MOXT_A", "from process", 1);
  EXPECT_EQ(utf8(mox::_tgetenv(u"MOXT_A")), "from process");
  setenv("MOXT_A", "", 1);  // set, though empty
  EXPECT_EQ(utf8(mox::_tgetenv(u"MOXT_A")), "");
  // Lines the store cannot interpret survive a write.
  ASSERT_EQ(mox::_tputenv(u"MOXT_B=c"), 0);
  EXPECT_EQ(readFile(store_), "MOXT_A=from store\nbroken line\nMOXT_B=c\n");
}

TEST_F(EnvironmentTest, WritesReplaceTheFileAtomically) {
  ASSERT_EQ(mox::_tputenv(u"MOXT_A=old"), 0);
  // A reader holding the old file keeps seeing all of it: the new store is
  // a different file renamed over it, never the old one rewritten in place.
  int fd = open(store_.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  struct stat before, after;
  ASSERT_EQ(fstat(fd, &before), 0);
  std::string big = "MOXT_B=" + std::string(100000, 'x');
  ASSERT_EQ(mox::_tputenv(utf16(big).c_str()), 0);
  ASSERT_EQ(stat(store_.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  char buf[64] = {0};
  ASSERT_EQ(pread(fd, buf, sizeof buf - 1, 0), 11);
  EXPECT_STREQ(buf, "MOXT_A=old\n");
  close(fd);
  EXPECT_EQ(readFile(store_), "MOXT_A=old\n" + big + "\n");
  // No temporary file is left behind (the lock file beside the store stays).
  DIR* d = opendir(dir_.path().c_str());
  ASSERT_NE(d, nullptr);
  int entries = 0;
  while (struct dirent* e = readdir(d))
    if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..") && strcmp(e->d_name, "environment.lock"))
      ++entries;
  closedir(d);
  EXPECT_EQ(entries, 1);
}

TEST_F(EnvironmentTest, StoreLocationFallsBackToConfigFolders) {
  std::string nested = dir_.path() + "/a/b/environment";
  setenv("MOX_ENVIRONMENT", nested.c_str(), 1);
  ASSERT_EQ(mox::_tputenv(u"MOXT_A=1"), 0);
  EXPECT_EQ(readFile(nested), "MOXT_A=1\n");  // folders created

  unsetenv("MOX_ENVIRONMENT");
  setenv("XDG_CONFIG_HOME", (dir_.path() + "/xdg").c_str(), 1);
  ASSERT_EQ(mox::_tputenv(u"MOXT_A=2"), 0);
  EXPECT_EQ(readFile(dir_.path() + "/xdg/mox/environment"), "MOXT_A=2\n");

  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", (dir_.path() + "/home").c_str(), 1);
  ASSERT_EQ(mox::_tputenv(u"MOXT_A=3"), 0);
  EXPECT_EQ(readFile(dir_.path() + "/home/.config/mox/environment"), "MOXT_A=3\n");
}

TEST_F(EnvironmentTest, StoreFailureIsReportedAndChangesNothing) {
  writeFile(dir_.path() + "/file", "");
  std::string impossible = dir_.path() + "/file/environment";  // below a plain file
  setenv("MOX_ENVIRONMENT", impossible.c_str(), 1);
  EXPECT_GT(mox::_tputenv(u"MOXT_A=1"), 0);
  EXPECT_EQ(getenv("MOXT_A"), nullptr);
  EXPECT_EQ(utf8(mox::_tgetenv(u"MOXT_A")), "");
}

// Helpers run in a child process by the test below.
TEST(EnvironmentChild, DISABLED_Write) { ASSERT_EQ(mox::_tputenv(u"MOXT_A=written by child"), 0); }
TEST(EnvironmentChild, DISABLED_Read) {
  const char* expect = getenv("MOXT_EXPECT");
  ASSERT_NE(expect, nullptr);
  EXPECT_EQ(utf8(mox::_tgetenv(u"MOXT_A")), expect);
}

TEST_F(EnvironmentTest, VariablesPersistBetweenProcesses) {
  ASSERT_EQ(runChild("DISABLED_Write", store_, ""), 0);
  EXPECT_EQ(getenv("MOXT_A"), nullptr);  // the child's environment is its own
  EXPECT_EQ(utf8(mox::_tgetenv(u"MOXT_A")), "written by child");
  ASSERT_EQ(mox::_tputenv(u"MOXT_A=written by parent"), 0);
  EXPECT_EQ(runChild("DISABLED_Read", store_, "written by parent"), 0);
  EXPECT_NE(runChild("DISABLED_Read", store_, "something else"), 0);  // the child really checks
  ASSERT_EQ(mox::_tputenv(u"MOXT_A="), 0);
  EXPECT_EQ(runChild("DISABLED_Read", store_, ""), 0);
}

class TimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    hadTz_ = tz != nullptr;
    if (tz) oldTz_ = tz;
  }
  void TearDown() override {
    if (hadTz_)
      setenv("TZ", oldTz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  void zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  bool hadTz_ = false;
  std::string oldTz_;
};

TEST_F(TimeTest, CurrentTime) {
  uint32_t stored = 0;
  uint32_t now = mox::time(&stored);
  EXPECT_EQ(now, stored);
  uint32_t system = static_cast<uint32_t>(::time(nullptr));
  EXPECT_LE(system - now, 2u);
  EXPECT_NE(mox::time(nullptr), 0u);
}

TEST_F(TimeTest, TextAndRecordInTheLocalZone) {
  zone("UTC");
  uint32_t t = 10;
  EXPECT_EQ(utf8(mox::_tctime(&t)), "Thu Jan 01 00:00:10 1970\n");
  const mox::MoxTm* r = mox::localtime(&t);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->sec, 10);
  EXPECT_EQ(r->mday, 1);
  EXPECT_EQ(r->mon, 1);
  EXPECT_EQ(r->year, 1970);
  EXPECT_EQ(r->wday, 4);
  EXPECT_EQ(r->yday, -1);
  EXPECT_EQ(r->isdst, -1);

  uint32_t march = 1205584496u;  // 2008-03-15 12:34:56 UTC, a Saturday
  EXPECT_EQ(utf8(mox::_tctime(&march)), "Sat Mar 15 12:34:56 2008\n");
  r = mox::localtime(&march);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->mon, 3);
  EXPECT_EQ(r->year, 2008);
  EXPECT_EQ(r->hour, 12);
  EXPECT_EQ(r->min, 34);
  EXPECT_EQ(r->wday, 6);

  // The local zone moves the fields, also across a date line.
  zone("EST5");
  EXPECT_EQ(utf8(mox::_tctime(&t)), "Wed Dec 31 19:00:10 1969\n");
  r = mox::localtime(&t);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->year, 1969);
  EXPECT_EQ(r->mon, 12);
  EXPECT_EQ(r->hour, 19);

  // Beyond 2038 the unsigned count still converts.
  zone("UTC");
  uint32_t late = 4000000000u;
  EXPECT_EQ(utf8(mox::_tctime(&late)), "Tue Oct 02 07:06:40 2096\n");

  EXPECT_EQ(mox::_tctime(nullptr), nullptr);
  EXPECT_EQ(mox::localtime(nullptr), nullptr);
}

TEST(Platform, FormattedLengths) {
  EXPECT_EQ(vscw(u"%s-%d", u"\u00e9t\u00e9", 42), 6);
  EXPECT_EQ(vscw(u""), 0);
  EXPECT_EQ(vsc("%s-%d", "\xc3\xa9t\xc3\xa9", 42), 8);  // bytes
  EXPECT_EQ(vsc(nullptr), -1);
  EXPECT_EQ(vscw(nullptr), -1);
}

TEST(Platform, AllocationAndExit) {
  char* p = static_cast<char*>(mox::allocmem(16));
  ASSERT_NE(p, nullptr);
  memcpy(p, "0123456789abcde", 16);
  p = static_cast<char*>(mox::reallocmem(p, 4096));
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p, "0123456789abcde");
  free(p);
  void* zero = mox::allocmem(0);  // a usable block, never a failure
  EXPECT_NE(zero, nullptr);
  free(zero);
  EXPECT_EXIT(mox::errorExit(3), ::testing::ExitedWithCode(3), "");
#if !defined(__SANITIZE_ADDRESS__)
  // Under the address sanitizer an impossible request aborts inside it.
  EXPECT_EXIT(mox::allocmem(SIZE_MAX / 2), ::testing::ExitedWithCode(1), "");
  EXPECT_EXIT(mox::reallocmem(nullptr, SIZE_MAX / 2), ::testing::ExitedWithCode(1), "");
#endif
}

TEST(Platform, ConsoleReadsOneUnitAndEchoes) {
  // Feed standard input from a pipe in a child and compare the echo.
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    MoxChar a = mox::_gettche();
    MoxChar hi = mox::_gettche();
    MoxChar lo = mox::_gettche();
    MoxChar bad = mox::_gettche();
    MoxChar end = mox::_gettche();
    bool ok = a == u'\u00e9' && hi == 0xD83D && lo == 0xDE00 && bad == 0xFF && end == 0xFFFF;
    _exit(ok ? 0 : 1);
  }
  close(in[0]);
  close(out[1]);
  const char feed[] = "\xc3\xa9\xf0\x9f\x98\x80\xff";
  ASSERT_EQ(write(in[1], feed, sizeof feed - 1), static_cast<ssize_t>(sizeof feed - 1));
  close(in[1]);
  std::string echo;
  char buf[64];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) echo.append(buf, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(echo, std::string(feed));
}

TEST(Platform, WideOpenTakesUtf8PathsAndDropsTextMode) {
  TempDir a;
  std::string path = a.path() + "/\xc3\xa9.txt";
  writeFile(path, "data");
  std::u16string wide = utf16(path);
  FILE* f = mox::_wfopen(wide.c_str(), u"rt");
  ASSERT_NE(f, nullptr);
  char buf[8] = {0};
  EXPECT_EQ(fread(buf, 1, sizeof buf - 1, f), 4u);
  EXPECT_STREQ(buf, "data");
  fclose(f);
  EXPECT_EQ(mox::_wfopen(nullptr, u"r"), nullptr);
  EXPECT_EQ(mox::_wfopen(wide.c_str(), nullptr), nullptr);
}

TEST(BlockLimit, BoundsSingleRequestsAndCanBeSet) {
  const size_t standard = mox::getBlockLimit();
  EXPECT_GT(standard, 0u);
  EXPECT_LE(standard, size_t(1) << 30);
  EXPECT_TRUE(mox::blockFits(standard, 1));
  EXPECT_FALSE(mox::blockFits(standard + 1, 1));
  // No overflow for counts whose byte size does not fit a size_t.
  EXPECT_FALSE(mox::blockFits(SIZE_MAX / 2, 16));
  EXPECT_TRUE(mox::blockFits(SIZE_MAX, 0));
  mox::setBlockLimit(1000);
  EXPECT_EQ(mox::getBlockLimit(), 1000u);
  EXPECT_TRUE(mox::blockFits(62, 16));
  EXPECT_FALSE(mox::blockFits(63, 16));
  mox::setBlockLimit(0);
  EXPECT_EQ(mox::getBlockLimit(), standard);
}

TEST(BlockLimit, CallocmemGivesZeroedMemory) {
  unsigned char* p = static_cast<unsigned char*>(mox::callocmem(4096, 2));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 8192; ++i) ASSERT_EQ(p[i], 0);
  free(p);
  free(mox::callocmem(0, 0));
}

// Many mx2 processes updating the store at the same moment: every update
// must be in it afterwards (each rewrite starts from the store the previous
// one left).
TEST_F(EnvironmentTest, ConcurrentWritersLoseNoUpdate) {
  const int kProcs = 24, kVars = 4;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcs; ++p) {
    std::string script = dir_.path() + "/w" + std::to_string(p) + ".mox";
    std::string text = "main(;i) {\n";
    for (int v = 0; v < kVars; ++v)
      text += "  setenv(\"MOXC_" + std::to_string(p) + "_" + std::to_string(v) + "\", \"v" +
              std::to_string(p) + "\");\n";
    text += "  return 0;\n}\n";
    writeFile(script, text);
  }
  for (int p = 0; p < kProcs; ++p) {
    std::string script = dir_.path() + "/w" + std::to_string(p) + ".mox";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int devnull = open("/dev/null", O_WRONLY);
      if (devnull >= 0) dup2(devnull, 1);
      execl(MOX_BIN_DIR "/mx2", "mx2", script.c_str(), (char*)nullptr);
      _exit(127);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  const std::string store = readFile(store_);
  for (int p = 0; p < kProcs; ++p)
    for (int v = 0; v < kVars; ++v) {
      std::string line = "MOXC_" + std::to_string(p) + "_" + std::to_string(v) + "=v" + std::to_string(p) + "\n";
      EXPECT_NE(store.find(line), std::string::npos) << line;
    }
  // The lock file lies beside the store; no temporary file is left behind.
  EXPECT_EQ(access((store_ + ".lock").c_str(), F_OK), 0);
  DIR* d = opendir(dir_.path().c_str());
  ASSERT_NE(d, nullptr);
  while (struct dirent* e = readdir(d)) EXPECT_EQ(std::string(e->d_name).find(".environment."), std::string::npos);
  closedir(d);
}

TEST_F(EnvironmentTest, AStoreWhoseLockCannotBeHadIsNotWritten) {
  ASSERT_EQ(mkdir((store_ + ".lock").c_str(), 0700), 0);
  EXPECT_EQ(mox::_tputenv(u"MOXT_A=1"), EISDIR);
  EXPECT_EQ(access(store_.c_str(), F_OK), -1);
  EXPECT_EQ(getenv("MOXT_A"), nullptr);
}
