// mx2 --debug: a line debugger built on the machine's line and error hooks.
// It runs inside those hooks, on the machine's own thread, while the
// program waits; a program run without it pays nothing.
#include "driver/MoxLineDebugger.h"

#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxUtf8.h"
#include "core/MoxVector.h"
#include "driver/MoxRepl.h"
#include "driver/MoxSourceLines.h"
#include "interpreter/MoxInterpreter.h"
#include "vm/MoxLineTable.h"
#include "vm/MoxNameCheck.h"

namespace {

const char kHelp[] =
    "break FILE:LINE | break FUNCTION | break Class::method   set a breakpoint\n"
    "delete N      remove breakpoint N\n"
    "continue, c   run to the next breakpoint\n"
    "step, s       run to the next line, into calls\n"
    "next, n       run to the next line of this function, over calls\n"
    "finish, f     run until this function returns\n"
    "backtrace, bt the calls, innermost first, with their arguments\n"
    "print NAME    an argument, local, member of this or global\n"
    "locals        the arguments and locals of this function\n"
    "list, l       the source around this line\n"
    "quit, q       end the program\n";

std::string baseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct Breakpoint {
  int id;
  std::string file;  // with line: a line breakpoint
  int32_t line;
  std::string function;  // otherwise: "f" or "Class::method"
};

class LineDebugger {
 public:
  explicit LineDebugger(MoxVirtualMachine& vm) : vm_(vm), interactive_(isatty(STDIN_FILENO) != 0) {}

  void onLine(const MoxChar* source, int32_t line) {
    MoxInterpreter* in = vm_.interpreter();
    if (!in || !in->getProcInfo()) return;
    const std::string file = moxToUtf8(source ? source : u"");
    MoxVector* proc = in->getProcInfo()->getProc();
    const int depth = in->getCallDepth();
    const bool entered = proc != lastProc_ && depth > lastDepth_;
    file_ = file;
    line_ = line;
    lastProc_ = proc;
    lastDepth_ = depth;
    if (detached_) return;
    bool stop = false;
    switch (mode_) {
      case kStep: stop = true; break;
      case kNext: stop = depth <= modeDepth_; break;
      case kFinish: stop = depth < modeDepth_; break;
      case kContinue: break;
    }
    const Breakpoint* hit = nullptr;
    for (const Breakpoint& b : breakpoints_) {
      const bool atLine =
          b.line > 0 && b.line == line && (b.file == file || b.file == baseName(file));
      const bool atEntry = b.line == 0 && entered && b.function == moxToUtf8(moxProcedureName(proc));
      if (atLine || atEntry) {
        hit = &b;
        break;
      }
    }
    if (!stop && !hit) return;
    if (hit) printf("Breakpoint %d, ", hit->id);
    showLine("", line_);
    commands();
  }

  void onError() {
    MoxInterpreter* in = vm_.interpreter();
    if (detached_ || !in) return;
    printf("Error: %s", in->errors().a_str());
    showLine("", line_);
    commands();
  }

 private:
  enum Mode { kStep, kNext, kFinish, kContinue };

  void showLine(const char* prefix, int32_t line) {
    printf("%s%s:%d: %s\n", prefix, baseName(file_).c_str(), int(line), sourceLine(file_, line).c_str());
    fflush(stdout);
  }

  // Reads commands until one that lets the program go on.
  void commands() {
    std::string input;
    for (;;) {
      if (interactive_) {
        fputs("(mdb) ", stdout);
        fflush(stdout);
      }
      if (!readLine(input)) {
        // The end of the commands: the program runs to its end.
        detached_ = true;
        return;
      }
      std::istringstream words(input);
      std::string cmd, arg;
      words >> cmd;
      std::getline(words >> std::ws, arg);
      if (cmd.empty()) continue;
      MoxInterpreter* in = vm_.interpreter();
      const int depth = in ? in->getCallDepth() : 0;
      if (cmd == "continue" || cmd == "c") return go(kContinue, depth);
      if (cmd == "step" || cmd == "s") return go(kStep, depth);
      if (cmd == "next" || cmd == "n") return go(kNext, depth);
      if (cmd == "finish" || cmd == "f") return go(kFinish, depth);
      if (cmd == "quit" || cmd == "q") {
        fflush(stdout);
        exit(0);
      }
      if (cmd == "break" || cmd == "b") {
        addBreakpoint(arg);
      } else if (cmd == "delete" || cmd == "d") {
        removeBreakpoint(arg);
      } else if (cmd == "backtrace" || cmd == "bt") {
        backtrace();
      } else if (cmd == "print" || cmd == "p") {
        print(arg);
      } else if (cmd == "locals") {
        locals();
      } else if (cmd == "list" || cmd == "l") {
        list();
      } else if (cmd == "help" || cmd == "h") {
        fputs(kHelp, stdout);
      } else {
        printf("unknown command %s (help lists them)\n", cmd.c_str());
      }
      fflush(stdout);
    }
  }

  void go(Mode mode, int depth) {
    mode_ = mode;
    modeDepth_ = depth;
  }

  bool readLine(std::string& line) {
    line.clear();
    int c;
    while ((c = fgetc(stdin)) != EOF && c != '\n') line += char(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!interactive_ && !(c == EOF && line.empty())) printf("(mdb) %s\n", line.c_str());
    return !(c == EOF && line.empty());
  }

  void addBreakpoint(const std::string& where) {
    if (where.empty()) {
      printf("break FILE:LINE, break FUNCTION or break Class::method\n");
      return;
    }
    Breakpoint b{nextId_++, std::string(), 0, std::string()};
    const size_t colon = where.rfind(':');
    if (colon != std::string::npos && colon + 1 < where.size() && where[colon - 1] != ':' &&
        where.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
      b.file = where.substr(0, colon);
      b.line = atoi(where.c_str() + colon + 1);
      printf("Breakpoint %d at %s:%d\n", b.id, b.file.c_str(), int(b.line));
    } else {
      b.function = where;
      printf("Breakpoint %d at %s\n", b.id, where.c_str());
    }
    breakpoints_.push_back(b);
  }

  void removeBreakpoint(const std::string& id) {
    const int n = atoi(id.c_str());
    for (size_t i = 0; i < breakpoints_.size(); ++i)
      if (breakpoints_[i].id == n) {
        breakpoints_.erase(breakpoints_.begin() + long(i));
        printf("Deleted breakpoint %d\n", n);
        return;
      }
    printf("No breakpoint %s\n", id.c_str());
  }

  // The line an activation is at: the current line for the innermost, the
  // line of the call for the others.
  void backtrace() {
    MoxInterpreter* in = vm_.interpreter();
    int n = 0;
    bool innermost = true;
    for (MoxProcInfo* rec = in ? in->getProcInfo() : nullptr; rec; rec = rec->getParent(), ++n) {
      std::string where;
      if (innermost) {
        where = baseName(file_) + ":" + std::to_string(line_);
      } else {
        const MoxChar* source = nullptr;
        int32_t line = 0;
        const uint32_t pc = rec->getResumePc();
        if (vm_.lineTables().lookup(rec->getProc(), pc > 0 ? pc - 1 : 0, &source, &line))
          where = baseName(moxToUtf8(source)) + ":" + std::to_string(line);
      }
      printf("#%d %s(%s)%s%s\n", n, moxToUtf8(moxProcedureName(rec->getProc())).c_str(),
             arguments(rec).c_str(), where.empty() ? "" : " at ", where.c_str());
      innermost = false;
      if (rec->isEntry()) break;
    }
  }

  std::string arguments(MoxProcInfo* rec) {
    const MoxProcNames* names = vm_.lineTables().names(rec->getProc());
    std::string out;
    // The named parameters (the words main receives beyond them are left out).
    const int shown = names ? std::min(rec->getNargs(), int(names->arguments.size())) : rec->getNargs();
    for (int i = 0; i < shown; ++i) {
      const MoxValue* v = slot(rec->bp().current() + i + 1);
      if (i) out += ", ";
      if (names) out += moxToUtf8(names->arguments[size_t(i)]) + "=";
      out += v ? moxValueText(vm_, *v) : "?";
    }
    return out;
  }

  // The value of name in the innermost activation; false when nothing is
  // called so.
  bool lookup(const std::string& name, MoxValue& out) {
    MoxInterpreter* in = vm_.interpreter();
    MoxProcInfo* rec = in ? in->getProcInfo() : nullptr;
    if (!rec) return false;
    const std::u16string key = moxFromUtf8(name);
    if (const MoxProcNames* names = vm_.lineTables().names(rec->getProc())) {
      for (size_t i = 0; i < names->arguments.size() && int(i) < rec->getNargs(); ++i)
        if (names->arguments[i] == key) return read(slot(rec->bp().current() + int(i) + 1), out);
      for (size_t i = 0; i < names->temporaries.size(); ++i)
        if (names->temporaries[i] == key) {
          const int at = rec->fp().current() + int(i) + 1;
          // Locals get their slots as the function starts running.
          if (at > in->sp().current()) return false;
          return read(slot(at), out);
        }
    }
    if (member(rec, key, out)) return true;
    MoxDictionaryEntry* e = vm_.symbols().find(MoxString(key.c_str()));
    if (!e || e->getSymbolType() == SYM_FUNCTION) return false;
    out = e->getValue();
    return true;
  }

  static bool read(const MoxValue* v, MoxValue& out) {
    if (!v) return false;
    out = *v;
    return true;
  }

  // Slot index of the interpreter's stack, or null outside it.
  const MoxValue* slot(int index) const {
    MoxInterpreter* in = vm_.interpreter();
    if (!in || index < 0 || unsigned(index) >= in->size()) return nullptr;
    return in->data() + index;
  }

  // A data member of the method's object, or a static member of its class.
  bool member(MoxProcInfo* rec, const std::u16string& name, MoxValue& out) {
    MoxVector* proc = rec->getProc();
    const MoxValue& clsValue = proc && proc->size() > 1 ? (*proc)[1] : MoxValue();
    MoxClass* cls = static_cast<MoxClass*>(clsValue.getRef());
    if (!cls || (clsValue.type() != MVT_CLASS && clsValue.type() != MVT_CLASSREF)) return false;
    MoxDictionaryEntry* m = cls->findMember(MoxString(name.c_str()), true);
    if (!m) return false;
    if (m->getSymbolType() == SYM_VARIABLE) {
      out = m->getValue();
      return true;
    }
    if (m->getSymbolType() != SYM_MEMBER || rec->getNargs() < 1) return false;
    const MoxValue* self = slot(rec->bp().current() + 1);
    if (!self || (self->type() != MVT_OBJECT && self->type() != MVT_OBJECTREF) || !self->getRef())
      return false;
    MoxVector* data = static_cast<MoxObject*>(self->getRef())->getMemberData();
    const int32_t slot = static_cast<int32_t>(m->getValue());
    if (!data || slot < 0 || unsigned(slot) >= data->size()) return false;
    out = (*data)[unsigned(slot)];
    return true;
  }

  void print(const std::string& name) {
    MoxValue v;
    if (name.empty() || !lookup(name, v)) {
      printf("No variable %s\n", name.c_str());
      return;
    }
    printf("%s = %s\n", name.c_str(), moxValueText(vm_, v).c_str());
  }

  void locals() {
    MoxInterpreter* in = vm_.interpreter();
    MoxProcInfo* rec = in ? in->getProcInfo() : nullptr;
    const MoxProcNames* names = rec ? vm_.lineTables().names(rec->getProc()) : nullptr;
    if (!names) return;
    for (const std::u16string& n : names->arguments) print(moxToUtf8(n));
    for (const std::u16string& n : names->temporaries) print(moxToUtf8(n));
  }

  void list() {
    for (int32_t l = line_ > 5 ? line_ - 5 : 1; l <= line_ + 5; ++l) {
      const std::string text = sourceLine(file_, l);
      if (text.empty() && l > line_) break;
      printf("%s%4d  %s\n", l == line_ ? "=>" : "  ", int(l), text.c_str());
    }
  }

  const std::string& sourceLine(const std::string& name, int32_t line) {
    return lines_.line(name, line);
  }

  MoxVirtualMachine& vm_;
  bool interactive_;
  bool detached_ = false;
  Mode mode_ = kStep;
  int modeDepth_ = 0;
  std::vector<Breakpoint> breakpoints_;
  int nextId_ = 1;
  std::string file_;
  int32_t line_ = 0;
  const MoxVector* lastProc_ = nullptr;
  int lastDepth_ = -1;
  MoxSourceLines lines_;
};

}  // namespace

void moxAttachLineDebugger(MoxVirtualMachine& vm) {
  auto debugger = std::make_shared<LineDebugger>(vm);
  vm.setLineHook([debugger](const MoxChar* source, int32_t line) { debugger->onLine(source, line); });
  vm.setErrorHook([debugger]() { debugger->onError(); });
}
