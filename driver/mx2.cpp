// mx2: the command-line program. It loads precompiled modules, compiles
// sources, and then either writes a module file or runs the script function
// "main", whose result becomes the exit code.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "MoxVersion.h"
#include "driver/MoxLineDebugger.h"
#include "driver/MoxRepl.h"
#include "driver/MoxSourceLines.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxUtf8.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"
#include "vm/MoxNameCheck.h"
#include "vm/MoxPlatform.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

const MoxChar kUsage[] =
    u"mx2 - the mox script compiler and interpreter v" MOX_VERSION_SHORT "\n"
    u"written by the mox developers\n"
    u"\n"
    u"usage:\n"
    u"mx2 [-i][-d][-t][-c] [sourcefile [..]] [-r objfile [..]] \n"
    u"   [-o outfile] [# userarg [..]]\n"
    u"options:\n"
    u"    -d ... shows debug information during compilation\n"
    u"    -t ... trace bytecodes during execution\n"
    u"    -i ... info (shows syntax and names of compiled functions)\n"
    u"    -c ... compile only\n"
    u"    -r ... specifies precompiled files to be loaded\n"
    u"    -o ... name of output file (only used with -c)\n"
    u"     # ... marks begin of user argument list\n";

// Printed after the usage text by --help: what mx2 accepts beyond it.
const MoxChar kAdditions[] =
    u"additions:\n"
    u"    -- ... marks begin of user argument list, like #\n"
    u"           (a shell takes an unquoted # as the start of a comment)\n"
    u"    -w ... warns about names that functions use but nothing defines\n"
    u"    --repl ... an interactive session (after the sources and modules):\n"
    u"           declarations stay, statements run, expressions show values\n"
    u"    -e TEXT ... runs TEXT as the statements of main (after the sources'\n"
    u"           functions and classes are compiled); repeated -e are joined\n"
    u"    --sandbox ... runs the script without files, console input, the\n"
    u"           environment, native calls and modules, and includes\n"
    u"    --max-memory SIZE ... fails the run with \"not enough memory\" when\n"
    u"           its values need more than SIZE bytes (suffix k, M or G)\n"
    u"    --max-steps N ... fails the run after N instructions\n"
    u"    --debug ... runs the program under a line debugger that reads its\n"
    u"           commands from standard input (help lists them)\n"
    u"    --trace-lines ... shows each source line before it runs, as\n"
    u"           \"prog.mox:12: <the line>\", on standard error\n"
    u"    --version ... prints the version and exits\n"
    u"    --help ... prints this text and exits\n"
    u"    a sourcefile without \".\" whose .mox form does not exist is opened\n"
    u"    under its own name, so a script starting with #! can be run directly\n";

// Where the next plain argument goes.
enum ArgMode { MODE_SOURCES = 1, MODE_MODULES = 2, MODE_OUTPUT = 3 };

// The terminal the single-step prompt talks to: /dev/tty when the process
// has one, else standard error for the question and standard input for the
// answer.
struct PromptStreams {
  FILE* out;
  FILE* in;
  bool ownsTty;
};

PromptStreams openPrompt() {
  FILE* tty = fopen("/dev/tty", "r+");
  if (tty) return {tty, tty, true};
  return {stderr, stdin, false};
}

// Single-step wait procedure: Enter continues with the next step; "c" and
// Enter, or the end of input, leaves step mode.
bool singleStepWait() {
  PromptStreams p = openPrompt();
  fputs("Single Step Mode\nPress OK for next step\nor Cancel to leave step mode.\n"
        "[Enter = OK, c + Enter = Cancel] ",
        p.out);
  fflush(p.out);
  bool ok = true;
  bool first = true;
  for (;;) {
    int ch = fgetc(p.in);
    if (ch == EOF) {
      ok = false;
      break;
    }
    if (ch == '\n') break;
    if (first && (ch == 'c' || ch == 'C')) ok = false;
    first = false;
  }
  if (p.ownsTty) fclose(p.out);
  return ok;
}

// The program's own absolute path, as UTF-8.
std::string ownPath(const char* fallback) {
  std::vector<char> buf(256);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return fallback ? fallback : "mx2";
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

bool hasDot(const MoxString& s) { return s.find(u'.', 0) >= 0; }

bool isEqual(const MoxChar* a, const char* b) {
  while (*a != 0 && *a == static_cast<MoxChar>(static_cast<unsigned char>(*b))) ++a, ++b;
  return *a == 0 && *b == 0;
}

bool fileExists(const MoxString& name) {
  std::string narrow;
  moxUtf8Encode(name.c_str(), name.length(), narrow);
  struct stat st;
  return stat(narrow.c_str(), &st) == 0;
}

// A new list element: the name, with the suffix appended when it holds no ".".
MoxValue nameValue(const MoxChar* arg, const MoxChar* suffix) {
  MoxString* name = new MoxString(arg);
  if (!hasDot(*name)) *name += suffix;
  return MoxValue(name, false);
}

// Frames printed at each end of a long trace; the ones between are counted.
const size_t kTraceEnds = 10;

// Writes the trace of the run-time error that ended the run on standard
// error, shortening a long recursion to its first and last frames.
void printErrorTrace(const MoxVirtualMachine& vm) {
  std::string text = moxToUtf8(vm.getErrorTrace());
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines.size() > 2 * kTraceEnds + 1 && i == kTraceEnds) {
      fprintf(stderr, "... (%zu frames left out)\n", lines.size() - 2 * kTraceEnds);
      i = lines.size() - kTraceEnds;
    }
    fprintf(stderr, "%s\n", lines[i].c_str());
  }
}

// True when the machine holds something that can run as main; otherwise
// says so on standard error.
bool checkMain(MoxVirtualMachine& vm) {
  MoxDictionaryEntry* entry = vm.symbols().find(MoxString(u"main"));
  MoxValueType kind = entry ? entry->getValue().type() : MVT_NULL;
  if (kind == MVT_BYTECODE || kind == MVT_BYTECODEREF || kind == MVT_CODE) return true;
  fprintf(stderr, "no function main\n");
  return false;
}

// Warns on standard error about every name a function reads that nothing
// defines or assigns, and about every undeclared global that two functions
// assign (a loop variable both forgot to make local).
void warnUndefinedNames(MoxVirtualMachine& vm) {
  for (const MoxUndefinedUse& use : moxFindUndefinedNames(vm)) {
    std::string where = use.line > 0 ? moxToUtf8(use.source.empty() ? u"<text>" : use.source) + ":" +
                                           std::to_string(use.line) + ": "
                                     : std::string();
    fprintf(stderr, "%swarning: '%s' is used in %s but never defined\n", where.c_str(),
            moxToUtf8(use.name).c_str(), moxToUtf8(use.function).c_str());
  }
  for (const MoxSharedAssignment& use : moxFindSharedAssignments(vm)) {
    std::string where = use.line > 0 ? moxToUtf8(use.source.empty() ? u"<text>" : use.source) + ":" +
                                           std::to_string(use.line) + ": "
                                     : std::string();
    fprintf(stderr,
            "%swarning: '%s' is assigned in %s and %s without a declaration: they share one "
            "global\n",
            where.c_str(), moxToUtf8(use.name).c_str(), moxToUtf8(use.first).c_str(),
            moxToUtf8(use.second).c_str());
  }
}

// A source name: as for modules, except that a name without "." whose
// ".mox" form does not exist stays as given (an executable "#!" script).
MoxValue sourceValue(const MoxChar* arg) {
  MoxString* name = new MoxString(arg);
  if (!hasDot(*name)) {
    *name += u".mox";
    if (!fileExists(*name) && fileExists(MoxString(arg))) *name = MoxString(arg);
  }
  return MoxValue(name, false);
}

// "--" is a second spelling of the "#" that starts the user arguments. The
// first marker is rewritten to "#" before anyone sees the words, so scripts
// asking for their user arguments find them under either spelling.
void spellUserMarker(int argc, MoxChar** argv) {
  static MoxChar hash[] = u"#";
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == u'#') return;
    if (isEqual(argv[i], "--")) {
      argv[i] = hash;
      return;
    }
  }
}

// A count with an optional binary suffix (k, M, G; either case) into out.
// False for anything else, and for a count that does not fit 64 bits.
bool parseCount(const MoxChar* text, bool suffixes, uint64_t& out) {
  if (!text || !*text) return false;
  uint64_t n = 0;
  const MoxChar* p = text;
  for (; *p >= u'0' && *p <= u'9'; ++p) {
    const uint64_t digit = uint64_t(*p - u'0');
    if (n > (UINT64_MAX - digit) / 10) return false;
    n = n * 10 + digit;
  }
  if (p == text) return false;
  unsigned shift = 0;
  if (suffixes && *p) {
    switch (*p) {
      case u'k': case u'K': shift = 10; break;
      case u'm': case u'M': shift = 20; break;
      case u'g': case u'G': shift = 30; break;
      default: return false;
    }
    ++p;
  }
  if (*p) return false;
  if (shift && n > (UINT64_MAX >> shift)) return false;
  out = n << shift;
  return true;
}

// The limits and capabilities the long options ask for.
struct RunControls {
  bool sandbox = false;
  bool traceLines = false;
  bool repl = false;
  bool debug = false;
  uint64_t maxMemory = 0;
  uint64_t maxSteps = 0;
};

// "--sandbox", "--max-memory SIZE" and "--max-steps N" (also written
// "--max-memory=SIZE"). Returns 0 when arg is none of them, 1 when it was
// taken (*i moves past a separate value), -1 after reporting a bad value.
int controlOption(int argc, MoxChar** argv, int* i, RunControls& controls, IMoxPrinter& printer) {
  const MoxChar* arg = argv[*i];
  if (isEqual(arg, "--sandbox")) {
    controls.sandbox = true;
    return 1;
  }
  if (isEqual(arg, "--debug")) {
    controls.debug = true;
    return 1;
  }
  if (isEqual(arg, "--repl")) {
    controls.repl = true;
    return 1;
  }
  if (isEqual(arg, "--trace-lines")) {
    controls.traceLines = true;
    return 1;
  }
  static const struct {
    const char* name;
    bool suffixes;
  } kValued[] = {{"--max-memory", true}, {"--max-steps", false}};
  for (unsigned k = 0; k < 2; ++k) {
    const char* name = kValued[k].name;
    const size_t len = strlen(name);
    size_t j = 0;
    while (j < len && arg[j] == MoxChar(name[j])) ++j;
    if (j < len || (arg[len] != 0 && arg[len] != u'=')) continue;
    const MoxChar* value = nullptr;
    if (arg[len] == u'=')
      value = arg + len + 1;
    else if (*i + 1 < argc)
      value = argv[++*i];
    uint64_t n = 0;
    if (!parseCount(value, kValued[k].suffixes, n)) {
      printer(u"invalid value for %s: %s\n", MoxString(name).c_str(), value ? value : u"");
      return -1;
    }
    (k == 0 ? controls.maxMemory : controls.maxSteps) = n;
    return 1;
  }
  return 0;
}

// The line trace of --trace-lines: "prog.mox:12: <the line>" on standard
// error before each source line that runs, the program's own output
// flushed first so that the two stay in order on a terminal.
class LineTracer {
 public:
  void operator()(const MoxChar* source, int32_t line) {
    const std::string name = moxToUtf8(source ? source : u"");
    fflush(stdout);
    fprintf(stderr, "%s:%d: %s\n", name.empty() ? "<text>" : name.c_str(), int(line),
            lines_.line(name, line).c_str());
  }

 private:
  MoxSourceLines lines_;
};

// "--version" and "--help": the answer on the printer and true. Any other
// word starting with "--" is left to the invalid-option report.
bool longOption(const MoxChar* arg, IMoxPrinter& printer) {
  if (isEqual(arg, "--version")) {
    printer(u"mx2 %s\n", MoxString(MOX_VERSION).c_str());
    return true;
  }
  if (isEqual(arg, "--help")) {
    printer(u"%s%s", kUsage, kAdditions);
    return true;
  }
  return false;
}

int run(int argc, MoxChar** argv) {
  MoxFileStreamPrinter printer(stdout, false);
  int exitCode = -1;
  {
    MoxVirtualMachine vm(&printer);
    vm.setDbgWaitProc(singleStepWait);
    vm.cmdargc() = argc;
    vm.cmdargv() = argv;

    bool compileOnly = false, debug = false, trace = false, info = false;
    bool warnNames = false;
    MoxString outputName(u"out.mxm");
    MoxVector modules;
    MoxVector sources;
    ArgMode mode = MODE_SOURCES;
    RunControls controls;
    // The statements given with -e, which become main.
    std::u16string mainText;
    bool hasMainText = false;

    if (argc < 2) {
      printer(u"%s", kUsage);
      return -1;
    }
    for (int i = 1; i < argc; ++i) {
      const MoxChar* arg = argv[i];
      if (arg[0] == u'#') break;
      if (arg[0] == u'-') {
        if (arg[1] == u'-' && longOption(arg, printer)) return 0;
        if (arg[1] == u'-') {
          const int taken = controlOption(argc, argv, &i, controls, printer);
          if (taken < 0) return -1;
          if (taken > 0) continue;
        }
        switch (arg[1]) {
          case u'c': compileOnly = true; break;
          case u'd': debug = true; break;
          case u'i': info = true; break;
          case u't': trace = true; break;
          case u'w': warnNames = true; break;
          case u'r': mode = MODE_MODULES; break;
          case u'e':
            if (arg[2] != 0 || i + 1 >= argc) {
              printer(u"invalid option %s\n%s", arg, kUsage);
              return -1;
            }
            mainText += argv[++i];
            mainText += u"\n";
            hasMainText = true;
            break;
          case u'o': mode = MODE_OUTPUT; break;
          default:
            printer(u"invalid option %s\n%s", arg, kUsage);
            return -1;
        }
        continue;
      }
      switch (mode) {
        case MODE_OUTPUT:
          outputName = MoxString(arg);
          if (!hasDot(outputName)) outputName += u".mxm";
          break;
        case MODE_MODULES: modules.push_back(nameValue(arg, u".mxm")); break;
        case MODE_SOURCES: sources.push_back(sourceValue(arg)); break;
      }
    }

    if (controls.sandbox) vm.setCapabilities(MOX_CAP_NONE);
    if (controls.traceLines) {
      auto tracer = std::make_shared<LineTracer>();
      vm.setLineHook([tracer](const MoxChar* source, int32_t line) { (*tracer)(source, line); });
    }
    vm.setMemoryLimit(controls.maxMemory > SIZE_MAX ? SIZE_MAX : size_t(controls.maxMemory));
    vm.setInstructionLimit(controls.maxSteps);

    for (unsigned int i = 0; i < modules.size(); ++i) {
      const MoxChar* name = static_cast<MoxString*>(modules[i])->c_str();
      const MoxChar* found = mox::searchEnv(u"MOXLIB", name);
      // The search result lives in a shared buffer; keep a copy.
      MoxString path(found ? found : name);
      if (!vm.readModule(path.c_str())) return -1;
    }
    for (unsigned int i = 0; i < sources.size(); ++i) {
      const MoxChar* name = static_cast<MoxString*>(sources[i])->c_str();
      if (!vm.compileFile(name, info, debug, nullptr, nullptr)) return -1;
    }
    if (controls.repl) {
      exitCode = moxRunRepl(vm, printer);
      fflush(stdout);
      return exitCode;
    }
    if (hasMainText) {
      // On the first line, so that errors give the lines as written.
      const std::u16string source = u"main() { " + mainText + u"}\n";
      if (!vm.compileText(source.c_str(), info, debug, nullptr, nullptr)) return -1;
    }
    if (warnNames) warnUndefinedNames(vm);
    if (controls.debug) moxAttachLineDebugger(vm);
    if (compileOnly) {
      exitCode = vm.writeModule(outputName.c_str()) ? 0 : -1;
    } else if (!checkMain(vm)) {
      exitCode = -1;
    } else if (vm.execute(u"main", argc, const_cast<const MoxChar**>(argv), trace, nullptr,
                          nullptr)) {
      exitCode = static_cast<int32_t>(vm.getResult());
    } else {
      fflush(stdout);
      printErrorTrace(vm);
    }
  }
  fflush(stdout);
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  // Element 0 is the program's own path, then the words as the shell passed
  // them; each becomes a UTF-16 copy that lives for the whole run.
  std::vector<MoxString> words;
  words.reserve(argc > 0 ? argc : 1);
  words.emplace_back(ownPath(argc > 0 ? argv[0] : nullptr).c_str());
  for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
  std::vector<MoxChar*> vec;
  for (MoxString& w : words) vec.push_back(const_cast<MoxChar*>(w.c_str()));
  spellUserMarker(static_cast<int>(vec.size()), vec.data());
  return run(static_cast<int>(vec.size()), vec.data()) & 0xff;
}
