// Machines on several threads at once: each thread runs its own machines,
// files, environment variable and module file, and must see only its own
// results while the others run.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/TestSupport.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

const int kThreads = 4;
const int kRounds = 50;

// Everything a round does in one machine; 1 when every check held, else it
// prints what went wrong and returns 0.
const MoxChar* const kScript = uR"MOX(
work(tag, path, envname, round; f, i, k, n, line, want, w, s, u, parts, d, keys, t) {
    f = fopen(path, "w");
    if (f == null) { print("cannot open ", path, "\n"); return 0; }
    for (i = 0; i < 20; i++) fputs(newstring("%s line %d of round %s\n", tag, i, round), f);
    fclose(f);
    f = fopen(path, "r");
    n = 0;
    while (!feof(f)) {
        line = fgets(f);
        if (strlen(line)) {
            want = newstring("%s line %d of round %s", tag, n, round);
            if (line != want) { print("read [", line, "] for [", want, "]\n"); return 0; }
            n++;
        }
    }
    fclose(f);
    if (n != 20) { print(n, " lines\n"); return 0; }

    for (k = 0; k < 8; k++) {
        w = tag + " ä€😀 " + round + "." + string(k);
        f = fopen(path, "wb");
        for (i = 0; i < strlen(w); i++) putwc(w[i], f);
        fputws("\n" + w + "\n", f);
        fclose(f);
        f = fopen(path, "rb");
        s = newstring(0);
        while ((u = getwc(f)) != 10 && u != 65535) s = s + u;
        line = fgetws(f);
        fclose(f);
        if (s != w || line != w) { print("wide [", s, "] [", line, "] for [", w, "]\n"); return 0; }
    }

    parts = strsplit(newstring("%s,a;b,,c;%s", tag, round), ",;");
    s = "";
    for (i = 0; i < vecsize(parts); i++) s = s + parts[i] + "|";
    want = tag + "|a|b|c|" + round + "|";
    if (s != want) { print("split [", s, "] for [", want, "]\n"); return 0; }

    d = newdict(1);
    for (i = 0; i < 200; i++) d[tag + string(i % 37)] = i;
    keys = dictgetkeys(d);
    if (vecsize(keys) != 37 || d[tag + "5"] != 190 || !dictcontains(d, tag + "36")) {
        print("dictionary of ", vecsize(keys), "\n");
        return 0;
    }

    want = tag + "/" + round;
    if (!setenv(envname, want)) { print("setenv failed\n"); return 0; }
    for (k = 0; k < 40; k++) {
        s = getenv(envname);
        if (s != want) { print("getenv [", s, "] for [", want, "]\n"); return 0; }
        t = localtime(86400 * (365 * k + 180));
        if (t[5] != 1970 + k || strlen(ctime(k)) != 25) { print("time ", t[5], "\n"); return 0; }
    }
    return 1;
}
broken(tag) { return double("bad " + tag); }
forget(envname) { return setenv(envname, ""); }
)MOX";

std::string text(const MoxStringPrinter& out) { return utf8(out.c_str()); }

// Writes a module private to the thread from one machine and runs it in a
// fresh one, which reads it directly in even rounds and through "#use" (a
// search along MOXLIB first) in odd ones; empty when all held.
std::string moduleRound(const std::string& tag, const std::string& modulePath, int round) {
  std::string r = std::to_string(round);
  MoxStringPrinter out;
  {
    MoxVirtualMachine writer(&out);
    std::string lib = "class Box { v; Box(x); get(); }\n"
                      "Box::Box(x) { v = x; }\n"
                      "Box::get() { return TAG + \":\" + string(v); }\n"
                      "#defvar TAG \"" + tag + "\"\n";
    if (!writer.compileText(utf16(lib).c_str())) return "module compile: " + text(out);
    if (!writer.writeModule(utf16(modulePath).c_str())) return "writeModule: " + text(out);
  }
  MoxVirtualMachine reader(&out);
  std::string program = "main() { print(new Box(" + r + ")->get()); return 0; }\n";
  if (round % 2 == 0) {
    if (!reader.readModule(utf16(modulePath).c_str())) return "readModule: " + text(out);
  } else {
    program = "#use \"" + modulePath + "\"\n" + program;
  }
  if (!reader.compileText(utf16(program).c_str())) return "compile after read: " + text(out);
  if (!reader.execute(u"main")) return "run after read: " + text(out);
  std::string want = tag + ":" + r;
  if (text(out) != want) return "module gave [" + text(out) + "] for [" + want + "]";
  return std::string();
}

// The rounds of one thread; empty when every check held. Each round also
// reports its error once more on the stream all threads share.
std::string runThread(int id, const std::string& dir, FILE* shared, std::atomic<bool>& go) {
  while (!go.load()) std::this_thread::yield();
  const std::string tag = "T" + std::to_string(id);
  const std::u16string tag16 = utf16(tag);
  const std::u16string path = utf16(dir + "/data_" + tag + ".txt");
  const std::u16string envName = utf16("MOX_THREAD_TEST_" + tag);
  const std::string modulePath = dir + "/module_" + tag + ".mxm";
  for (int round = 0; round < kRounds; ++round) {
    const std::u16string round16 = utf16(std::to_string(round));
    MoxStringPrinter out;
    MoxVirtualMachine vm(&out);
    if (!vm.compileText(kScript)) return tag + " compile: " + text(out);
    const MoxChar* args[] = {tag16.c_str(), path.c_str(), envName.c_str(), round16.c_str()};
    if (!vm.execute(u"work", 4, args)) return tag + " work failed: " + text(out);
    if (static_cast<int32_t>(vm.getResult()) != 1) return tag + " work: " + text(out);

    // A run-time error reports this thread's own text and call.
    out.clear();
    if (vm.execute(u"broken", 1, args)) return tag + " broken succeeded";
    const std::string wantError = "invalid argument format: bad " + tag + "\n";
    if (text(out) != wantError) return tag + " error [" + text(out) + "] for [" + wantError + "]";
    if (utf8(vm.getErrorTrace()).find("in broken") == std::string::npos)
      return tag + " trace [" + utf8(vm.getErrorTrace()) + "]";
    MoxFileStreamPrinter sharedOut(shared, false);
    if (vm.execute(u"broken", 1, args, false, &sharedOut)) return tag + " broken succeeded";

    std::string moduleFailure = moduleRound(tag, modulePath, round);
    if (!moduleFailure.empty()) return tag + " " + moduleFailure;
  }
  MoxStringPrinter out;
  MoxVirtualMachine vm(&out);
  const MoxChar* args[] = {envName.c_str()};
  if (!vm.compileText(kScript) || !vm.execute(u"forget", 1, args)) return tag + " forget: " + text(out);
  return std::string();
}

}  // namespace

TEST(Threads, MachinesOnSeveralThreadsKeepTheirOwnResults) {
  TempDir dir("threads");
  ASSERT_FALSE(dir.path().empty());
  // Run by hand, the binary still keeps away from the home folder's store.
  const char* store = getenv("MOX_ENVIRONMENT");
  if (!store || !*store) setenv("MOX_ENVIRONMENT", (dir.path() + "/environment").c_str(), 1);

  FILE* shared = tmpfile();
  ASSERT_NE(shared, nullptr);

  std::atomic<bool> go{false};
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] { failures[i] = runThread(i, dir.path(), shared, go); });
  go.store(true);
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(failures[i], "") << "thread " << i;

  // Every report reached the shared stream whole, once a round.
  std::vector<int> reports(kThreads);
  std::string sharedText, line;
  rewind(shared);
  for (int c; (c = fgetc(shared)) != EOF;) sharedText += static_cast<char>(c);
  fclose(shared);
  size_t pos = 0;
  for (size_t end; (end = sharedText.find('\n', pos)) != std::string::npos; pos = end + 1) {
    line = sharedText.substr(pos, end - pos);
    int id = -1;
    for (int i = 0; i < kThreads; ++i)
      if (line == "invalid argument format: bad T" + std::to_string(i)) id = i;
    EXPECT_GE(id, 0) << "line [" << line << "]";
    if (id >= 0) ++reports[id];
  }
  EXPECT_EQ(pos, sharedText.size());
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(reports[i], kRounds) << "thread " << i;
}
