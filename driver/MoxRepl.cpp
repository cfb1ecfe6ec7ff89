// mx2 --repl: an interactive session on one machine.
//
// Each entry (one line, or several when braces, parentheses or a string are
// still open) is one of: a command (":help"), declarations (functions,
// classes, directives), compiled into the machine where they stay, or
// statements, compiled into a function of their own and run at once. An
// entry that does not end in ";" or "}" is tried first as an expression,
// whose value is printed. Names the statements assign without declaring
// are globals, so later entries see them.
#include "driver/MoxRepl.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

#ifdef MOX_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxUtf8.h"
#include "core/MoxVector.h"
#include "vm/MoxHost.h"

namespace {

const char kHelp[] =
    "Enter declarations (functions, classes, #directives), statements, or an\n"
    "expression to see its value. An entry goes on over several lines while\n"
    "braces, parentheses or a string are open. Names you assign are globals.\n"
    "  :help        this text\n"
    "  :load FILE   compiles a source file into the session\n"
    "  :vars        the globals and their values\n"
    "  :quit        ends the session (so does the end of input)\n"
    "Ctrl-C stops a running entry.\n";

// The function an entry's statements are compiled into.
const char16_t kEntryName[] = u"__entry__";
// Elements of a container shown before "...".
const unsigned kShownElements = 20;

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return std::string();
  const size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

// ------------------------------------------------------------------ input

// True when text is a whole entry: no bracket, string or comment left open.
bool isComplete(const std::string& text) {
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"' || c == '\'') {
      size_t j = i + 1;
      while (j < text.size() && text[j] != c && text[j] != '\n') j += text[j] == '\\' ? 2 : 1;
      if (j >= text.size()) return false;  // the string goes on
      i = j;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      i = text.find('\n', i);
      if (i == std::string::npos) break;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      i = text.find("*/", i + 2);
      if (i == std::string::npos) return false;
      ++i;
    } else if (c == '(' || c == '[' || c == '{') {
      ++depth;
    } else if (c == ')' || c == ']' || c == '}') {
      --depth;
    }
  }
  if (depth > 0) return false;
  // "if (...)", "while (...)", "for (...)" or "else" at the end of a line
  // wait for the statement they govern.
  static const std::regex governs(R"((^|[\s;{}])(if|while|for)\s*\(.*\)\s*$|(^|[\s;{}])else\s*$)");
  return !std::regex_search(trim(text), governs);
}

// Lines from standard input: through libedit, with history, on a terminal;
// plainly otherwise (a pipe, a file), without prompts.
class LineReader {
 public:
  LineReader() : interactive_(isatty(STDIN_FILENO) != 0) {
#ifdef MOX_HAVE_LIBEDIT
    if (interactive_) {
      history_ = historyPath();
      if (!history_.empty()) read_history(history_.c_str());
    }
#endif
  }
  ~LineReader() {
#ifdef MOX_HAVE_LIBEDIT
    if (interactive_ && !history_.empty()) write_history(history_.c_str());
#endif
  }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  bool interactive() const { return interactive_; }

  // One line without its line end; false at the end of input.
  bool read(const char* prompt, std::string& line) {
#ifdef MOX_HAVE_LIBEDIT
    if (interactive_) {
      char* got = readline(prompt);
      if (!got) return false;
      line = got;
      free(got);
      return true;
    }
#endif
    if (interactive_) {
      fputs(prompt, stdout);
      fflush(stdout);
    }
    line.clear();
    int c;
    while ((c = fgetc(stdin)) != EOF && c != '\n') line += char(c);
    if (c == EOF && line.empty()) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }

  void remember(const std::string& entry) {
#ifdef MOX_HAVE_LIBEDIT
    if (interactive_ && !trim(entry).empty()) add_history(entry.c_str());
#else
    (void)entry;
#endif
  }

 private:
  // $XDG_DATA_HOME/mox/history, else ~/.local/share/mox/history; the
  // folders are made when missing.
  static std::string historyPath() {
    std::string dir;
    const char* xdg = getenv("XDG_DATA_HOME");
    const char* home = getenv("HOME");
    if (xdg && *xdg == '/')
      dir = xdg;
    else if (home && *home)
      dir = std::string(home) + "/.local/share";
    else
      return std::string();
    dir += "/mox";
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
      mkdir(dir.substr(0, slash).c_str(), 0700);
      if (slash == std::string::npos) break;
    }
    return dir + "/history";
  }

  bool interactive_;
  std::string history_;
};

// ------------------------------------------------------------------ Ctrl-C

// SIGINT is taken by a thread of its own, which stops the running entry
// through the machine's interrupt (safe from any thread); at the prompt it
// does nothing. The other threads keep the signal blocked.
class InterruptWatch {
 public:
  explicit InterruptWatch(MoxVirtualMachine& vm) : vm_(vm) {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set_, &saved_);
    started_ = pthread_create(&thread_, nullptr, watch, this) == 0;
  }
  ~InterruptWatch() {
    if (started_) {
      done_ = true;
      pthread_kill(thread_, SIGINT);
      pthread_join(thread_, nullptr);
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

 private:
  static void* watch(void* self) {
    InterruptWatch* w = static_cast<InterruptWatch*>(self);
    for (;;) {
      int sig = 0;
      if (sigwait(&w->set_, &sig) != 0 || w->done_) break;
      w->vm_.interrupt();
    }
    return nullptr;
  }

  MoxVirtualMachine& vm_;
  sigset_t set_;
  sigset_t saved_;
  pthread_t thread_;
  bool started_ = false;
  std::atomic<bool> done_{false};
};

// ------------------------------------------------------------------ values

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\x%02x", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

// The shortest text that reads back as the same double.
std::string number(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  char buf[40];
  for (int precision = 1; precision <= 17; ++precision) {
    snprintf(buf, sizeof buf, "%.*g", precision, d);
    if (strtod(buf, nullptr) == d) break;
  }
  std::string s = buf;
  if (s.find_first_of(".en") == std::string::npos) s += ".0";
  return s;
}

class ValueShow {
 public:
  explicit ValueShow(MoxVirtualMachine& vm) : vm_(vm) {}

  std::string operator()(const MoxValue& v, int depth = 0) {
    switch (v.type()) {
      case MVT_NULL: return "null";
      case MVT_INTEGER: return std::to_string(int32_t(v));
      case MVT_FLOAT:
      case MVT_DOUBLE: return number(double(v));
      case MVT_STRING:
      case MVT_STRINGREF: return v.getRef() ? quoted(mox::asString(v)) : "null";
      case MVT_VECTOR:
      case MVT_VECTORREF: return v.getRef() ? vector(static_cast<MoxVector*>(v.getRef()), depth) : "null";
      case MVT_DICTIONARY:
      case MVT_DICTIONARYREF:
        return v.getRef() ? dictionary(static_cast<MoxDictionary*>(v.getRef()), depth) : "null";
      case MVT_OBJECT:
      case MVT_OBJECTREF: return v.getRef() ? object(v) : "null";
      default: return "<" + moxToUtf8(getValueTypeName(v.type())) + ">";
    }
  }

 private:
  std::string vector(const MoxVector* vec, int depth) {
    if (depth >= 3) return "[...]";
    std::string out = "[";
    for (unsigned i = 0; i < vec->size(); ++i) {
      if (i) out += ", ";
      if (i == kShownElements) return out + "... (" + std::to_string(vec->size()) + " in all)]";
      out += (*this)((*vec)[i], depth + 1);
    }
    return out + "]";
  }

  std::string dictionary(const MoxDictionary* dict, int depth) {
    if (depth >= 3) return "{...}";
    std::string out = "{";
    unsigned n = 0;
    for (MoxDictionaryEntry* e = dict->getFirst(); e; e = e->getNext(), ++n) {
      if (n) out += ", ";
      if (n == kShownElements) return out + "... (" + std::to_string(dict->count()) + " in all)}";
      out += quoted(e->getKey() ? moxToUtf8(e->getKey()->c_str()) : std::string()) + ": ";
      out += (*this)(e->getValue(), depth + 1);
    }
    return out + "}";
  }

  // An object's toString when its class has one, else its class's name.
  std::string object(const MoxValue& v) {
    MoxObject* obj = static_cast<MoxObject*>(v.getRef());
    MoxClass* cls = obj->getClass();
    std::string name = cls && cls->getClassName() ? moxToUtf8(cls->getClassName()->c_str()) : "?";
    MoxDictionaryEntry* m = cls ? cls->findMember(MoxString(u"toString"), true) : nullptr;
    if (m && m->getSymbolType() == SYM_METHOD) {
      if (!helper_) helper_ = vm_.compileText(u"__show__(o) { return string(o); }");
      std::string text;
      MoxStringPrinter quiet;
      if (vm_.executeValues(u"__show__", 1, &v, &quiet) && mox::asString(vm_.getResult(), &text))
        return text;
    }
    return "<" + name + " object>";
  }

  MoxVirtualMachine& vm_;
  bool helper_ = false;
};

// ------------------------------------------------------------------ entries

// Functions ("f(a) {", "C::m(a) {"), classes and directives.
bool isDeclaration(const std::string& entry) {
  static const std::regex function(R"(^([A-Za-z_]\w*)(::~?[A-Za-z_]\w*)?\s*\([^)]*\)\s*\{)");
  static const std::regex statement(R"(^(if|while|for|do|switch|return|delete|new)\b)");
  if (entry.compare(0, 6, "class ") == 0 || entry.compare(0, 6, "class\t") == 0 || entry[0] == '#')
    return true;
  return std::regex_search(entry, function) && !std::regex_search(entry, statement);
}

class Session {
 public:
  Session(MoxVirtualMachine& vm, IMoxPrinter& printer) : vm_(vm), printer_(printer), show_(vm) {}

  // Runs one complete entry; false for ":quit".
  bool take(const std::string& text) {
    const std::string entry = trim(text);
    if (entry.empty()) return true;
    if (entry[0] == ':') return command(entry);
    if (isDeclaration(entry)) {
      vm_.compileText(moxFromUtf8(entry).c_str());
      return true;
    }
    const char last = entry.back();
    if (last != ';' && last != '}') {
      // An expression, when it compiles as one: its value is printed.
      MoxStringPrinter quiet;
      const std::u16string asValue = std::u16string(kEntryName) + u"() { return (" + moxFromUtf8(entry) + u"); }";
      if (vm_.compileText(asValue.c_str(), false, false, &quiet)) {
        if (run()) {
          // A copy: showing an object runs its toString, a run of its own.
          const MoxValue value = vm_.getResult();
          printer_(u"=> %s\n", moxFromUtf8(show_(value)).c_str());
        }
        return true;
      }
    }
    std::u16string body = moxFromUtf8(entry);
    if (last != ';' && last != '}') body += u";";
    const std::u16string asStatements = std::u16string(kEntryName) + u"() { " + body + u"\n}";
    if (vm_.compileText(asStatements.c_str())) run();
    return true;
  }

 private:
  bool run() {
    if (vm_.execute(kEntryName)) return true;
    fflush(stdout);
    // The calls that led to the error, without the entry's own function.
    const std::string trace = moxToUtf8(vm_.getErrorTrace());
    size_t at = 0;
    while (at < trace.size()) {
      size_t end = trace.find('\n', at);
      if (end == std::string::npos) end = trace.size();
      const std::string line = trace.substr(at, end - at);
      if (line.find(" in __entry__") == std::string::npos && line != "in __entry__")
        fprintf(stderr, "%s\n", line.c_str());
      at = end + 1;
    }
    return false;
  }

  bool command(const std::string& entry) {
    const size_t space = entry.find_first_of(" \t");
    const std::string name = entry.substr(0, space);
    const std::string arg = space == std::string::npos ? std::string() : trim(entry.substr(space));
    if (name == ":quit" || name == ":q") return false;
    if (name == ":help") {
      printer_(u"%s", moxFromUtf8(kHelp).c_str());
    } else if (name == ":load" && !arg.empty()) {
      vm_.compileFile(moxFromUtf8(arg).c_str());
    } else if (name == ":vars") {
      vars();
    } else {
      printer_(u"unknown command %s (:help lists them)\n", moxFromUtf8(entry).c_str());
    }
    return true;
  }

  void vars() {
    for (MoxDictionaryEntry* e = vm_.symbols().getFirst(); e; e = e->getNext()) {
      const MoxSymbolType kind = e->getSymbolType();
      if ((kind != SYM_VARIABLE && kind != SYM_UNDEFINED) || !e->getKey()) continue;
      const std::string name = moxToUtf8(e->getKey()->c_str());
      if (name == "stdin" || name == "stdout" || name == "stderr") continue;
      if (e->getValue().type() == MVT_NULL && kind == SYM_UNDEFINED) continue;
      printer_(u"%s = %s\n", moxFromUtf8(name).c_str(), moxFromUtf8(show_(e->getValue())).c_str());
    }
  }

  MoxVirtualMachine& vm_;
  IMoxPrinter& printer_;
  ValueShow show_;
};

}  // namespace

std::string moxValueText(MoxVirtualMachine& vm, const MoxValue& value) {
  ValueShow show(vm);
  return show(value);
}

int moxRunRepl(MoxVirtualMachine& vm, IMoxPrinter& printer) {
  LineReader reader;
  InterruptWatch watch(vm);
  Session session(vm, printer);
  if (reader.interactive()) printer(u"mox: :help for help, :quit or Ctrl-D to leave\n");
  std::string entry, line;
  while (reader.read(entry.empty() ? "mox> " : "...> ", line)) {
    entry += line;
    entry += '\n';
    if (!isComplete(entry)) continue;
    reader.remember(trim(entry));
    const bool goOn = session.take(entry);
    entry.clear();
    fflush(stdout);
    if (!goOn) break;
  }
  if (reader.interactive()) printer(u"\n");
  return 0;
}
