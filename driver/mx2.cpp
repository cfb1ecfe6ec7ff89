// mx2: compiles mox sources and precompiled modules into one machine, then
// writes a module file or runs the script function "main".
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/MoxString.h"
#include "core/MoxUtf8.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"
#include "vm/MoxPlatform.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

const char kUsage[] =
    "mx2 - mox script compiler and interpreter v2.0\n"
    "bytecode compiler, virtual machine and standard library for mox scripts\n"
    "\n"
    "usage:\n"
    "mx2 [-i][-d][-t][-c] [sourcefile [..]] [-r objfile [..]] \n"
    "   [-o outfile] [# userarg [..]]\n"
    "options:\n"
    "    -d ... shows debug information during compilation\n"
    "    -t ... trace bytecodes during execution\n"
    "    -i ... info (shows syntax and names of compiled functions)\n"
    "    -c ... compile only\n"
    "    -r ... specifies precompiled files to be loaded\n"
    "    -o ... name of output file (only used with -c)\n"
    "     # ... marks begin of user argument list\n";

std::u16string fromUtf8(const char* s) {
  std::u16string out;
  moxUtf8Decode(s, strlen(s), out);
  return out;
}

std::string toUtf8(const MoxChar* s) {
  std::string out;
  moxUtf8Encode(s, moxStrLen(s), out);
  return out;
}

// The program's own absolute path; the argument itself when the link
// cannot be read.
std::string ownPath(const char* fallback) {
  std::vector<char> buf(256);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return fallback ? fallback : "mx2";
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
}

// Single-step wait: asks on the terminal; Enter continues, "c" or end of
// input leaves step mode.
bool waitForStep() {
  FILE* tty = fopen("/dev/tty", "r+");
  FILE* in = tty ? tty : stdin;
  FILE* out = tty ? tty : stderr;
  fputs("Single Step Mode\nPress OK for next step\nor Cancel to leave step mode.\n"
        "[Enter = OK, c Enter = Cancel] ",
        out);
  fflush(out);
  bool ok = false;
  int c = fgetc(in);
  if (c != EOF) {
    ok = c != 'c' && c != 'C';
    while (c != '\n' && c != EOF) c = fgetc(in);
  }
  if (tty) fclose(tty);
  return ok;
}

bool hasDot(const MoxChar* s) {
  for (; *s; ++s)
    if (*s == u'.') return true;
  return false;
}

MoxValue nameWithExtension(const MoxChar* word, const MoxChar* extension) {
  MoxString* s = new MoxString(word);
  if (!hasDot(word)) *s += extension;
  return MoxValue(s, false);
}

enum Mode { kSources = 1, kModules = 2, kOutput = 3 };

int run(int argc, MoxChar** argv) {
  MoxFileStreamPrinter printer(stdout, false);
  int code = -1;
  {
    MoxVirtualMachine vm(&printer);
    vm.setDbgWaitProc(waitForStep);
    vm.cmdargc() = argc;
    vm.cmdargv() = argv;
    bool compileOnly = false, debug = false, trace = false, info = false;
    MoxString outputName(u"out.mxm");
    MoxVector modules, sources;
    Mode mode = kSources;
    if (argc < 2) {
      fputs(kUsage, stdout);
      return -1;
    }
    for (int i = 1; i < argc; ++i) {
      const MoxChar* word = argv[i];
      if (word[0] == u'#') break;
      if (word[0] == u'-') {
        switch (word[1]) {
          case u'c': compileOnly = true; break;
          case u'd': debug = true; break;
          case u'i': info = true; break;
          case u't': trace = true; break;
          case u'r': mode = kModules; break;
          case u'o': mode = kOutput; break;
          default:
            fflush(stdout);
            printf("invalid option %s\n%s", toUtf8(word).c_str(), kUsage);
            return -1;
        }
        continue;
      }
      if (mode == kOutput) {
        outputName = MoxString(word);
        if (!hasDot(word)) outputName += u".mxm";
      } else if (mode == kModules) {
        modules.push_back(nameWithExtension(word, u".mxm"));
      } else {
        sources.push_back(nameWithExtension(word, u".mox"));
      }
    }
    fflush(stdout);
    for (unsigned i = 0; i < modules.size(); ++i) {
      MoxString name(*static_cast<MoxString*>(modules[i]));
      const MoxChar* found = mox::searchEnv(u"MOXLIB", name.c_str());
      MoxString path(found ? found : name.c_str());
      if (!vm.readModule(path.c_str())) return -1;
    }
    for (unsigned i = 0; i < sources.size(); ++i) {
      if (!vm.compileFile(static_cast<MoxString*>(sources[i])->c_str(), info, debug)) return -1;
    }
    if (compileOnly) {
      code = vm.writeModule(outputName.c_str()) ? 0 : -1;
    } else {
      std::vector<const MoxChar*> words(argv, argv + argc);
      if (vm.execute(u"main", argc, words.data(), trace))
        code = static_cast<int32_t>(vm.getResult());
      else
        code = -1;
    }
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::u16string> words;
  words.push_back(fromUtf8(ownPath(argc > 0 ? argv[0] : nullptr).c_str()));
  for (int i = 1; i < argc; ++i) words.push_back(fromUtf8(argv[i]));
  std::vector<MoxChar*> vector;
  for (auto& w : words) vector.push_back(&w[0]);
  int code = run(static_cast<int>(vector.size()), vector.data());
  fflush(stdout);
  return code & 0xFF;
}
