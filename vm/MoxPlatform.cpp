// Platform services on Linux: allocation, directory-list search, the
// persistent environment store, calendar time, console input and formatted
// length.
#include "vm/MoxPlatform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "core/MoxFormat.h"
#include "core/MoxUtf8.h"
#include "vm/MoxWideStream.h"

namespace {

// The process environment is one for every thread, and getenv(3) reads it
// without any lock while setenv(3) and unsetenv(3) may move it. Every call
// this library makes to the three (and to localtime_r, which reads TZ) holds
// this lock; what a host does with its own threads is beyond it.
std::mutex& processEnvLock() {
  static std::mutex* lock = new std::mutex();  // usable while others exit
  return *lock;
}

// The process environment's value of name copied out; false when unset.
bool processEnv(const char* name, std::string& value) {
  std::lock_guard<std::mutex> hold(processEnvLock());
  const char* v = getenv(name);
  if (!v) return false;
  value = v;
  return true;
}

std::string toUtf8(const MoxChar* s) {
  std::string out;
  if (s) moxUtf8Encode(s, moxStrLen(s), out);
  return out;
}

std::u16string fromUtf8(const char* s, size_t len) {
  std::u16string out;
  moxUtf8Decode(s, len, out);
  return out;
}

// A regular (non-directory) file that can be opened for reading.
bool isReadableFile(const std::string& path) {
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return false;
  struct stat st;
  bool ok = fstat(fileno(f), &st) == 0 && !S_ISDIR(st.st_mode);
  fclose(f);
  return ok;
}

// ------------------------------------------------------ environment store

// Where the store lives; empty when no location can be determined.
std::string storePath() {
  std::string dir;
  if (processEnv("MOX_ENVIRONMENT", dir) && !dir.empty()) return dir;
  if (processEnv("XDG_CONFIG_HOME", dir) && !dir.empty() && dir[0] == '/')
    return dir + "/mox/environment";
  if (processEnv("HOME", dir) && !dir.empty()) return dir + "/.config/mox/environment";
  return std::string();
}

// Whole store text; empty when missing or unreadable.
std::string readStore(const std::string& path) {
  std::string text;
  if (path.empty()) return text;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

// Calls visit(line) for each line (without its line end) of text.
template <class Visit>
void forEachLine(const std::string& text, Visit visit) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    size_t len = end - pos;
    if (len && text[pos + len - 1] == '\r') --len;
    visit(text.substr(pos, len));
    pos = end + 1;
  }
}

bool lookupStore(const std::string& name, std::string& value) {
  bool found = false;
  forEachLine(readStore(storePath()), [&](const std::string& line) {
    size_t eq = line.find('=');
    if (eq != std::string::npos && line.compare(0, eq, name) == 0 && eq == name.size()) {
      value = line.substr(eq + 1);
      found = true;  // the last line for a name wins, like a later assignment
    }
  });
  return found;
}

// Creates every missing folder of path's parent; 0 or an errno value.
int makeParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    std::string dir = path.substr(0, slash);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

// Replaces the file at path with text, through a replacement file: readers
// see either the old or the new store, never a partial one.
int replaceFileAtomically(const std::string& path, const std::string& text) {
  int err = makeParents(path);
  if (err) return err;
  mox::FileReplacement file(path.c_str(), 0600);
  if (!file.stream()) return file.error();
  if (fwrite(text.data(), 1, text.size(), file.stream()) != text.size()) return errno ? errno : EIO;
  return file.commit();
}

// The permissions a new file gets from open(..., 0666): the process's umask
// applied. Read from the kernel's status, since asking umask() means
// changing it, which other threads would see.
mode_t defaultFileMode() {
  mode_t mask = 022;
  if (FILE* f = fopen("/proc/self/status", "r")) {
    char line[128];
    while (fgets(line, sizeof line, f))
      if (strncmp(line, "Umask:", 6) == 0) {
        mask = static_cast<mode_t>(strtoul(line + 6, nullptr, 8));
        break;
      }
    fclose(f);
  }
  return 0666 & ~mask;
}

// Sets (or with an empty value removes) one variable of the store.
// Holds an exclusive advisory lock on the file beside the store while it
// lives. Updates from several processes take turns, so none works from a
// store another is about to replace; readers never take it, and a writer
// that dies releases it with its descriptor.
class StoreLock {
 public:
  explicit StoreLock(const std::string& storeFile) {
    err_ = makeParents(storeFile);
    if (err_) return;
    fd_ = open((storeFile + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      err_ = errno;
      return;
    }
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        err_ = errno;
        return;
      }
    }
  }
  ~StoreLock() {
    if (fd_ >= 0) close(fd_);
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  // 0 when the lock is held, else an errno value.
  int error() const { return err_; }

 private:
  int fd_ = -1;
  int err_ = 0;
};

// Held by _tputenv from the store write to the process environment's update,
// so that two threads setting one variable leave the same value in both.
// Processes take turns on the store through StoreLock.
std::mutex& storeUpdateLock() {
  static std::mutex* lock = new std::mutex();
  return *lock;
}

int writeStore(const std::string& name, const std::string& value) {
  std::string path = storePath();
  if (path.empty()) return ENOENT;
  StoreLock lock(path);
  if (lock.error()) return lock.error();
  std::string old = readStore(path);
  std::string text;
  bool changed = false;
  bool placed = false;
  forEachLine(old, [&](const std::string& line) {
    size_t eq = line.find('=');
    if (eq == name.size() && line.compare(0, eq, name) == 0) {
      changed = true;
      if (!value.empty() && !placed) {
        text += name + "=" + value + "\n";
        placed = true;
      }
      return;
    }
    if (!line.empty()) text += line + "\n";  // other lines survive untouched
  });
  if (!value.empty() && !placed) {
    text += name + "=" + value + "\n";
    changed = true;
  }
  if (!changed) return 0;  // removing a variable the store never held
  return replaceFileAtomically(path, text);
}

// Text for the time services.
const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool toLocal(const uint32_t* t, struct tm& out) {
  if (!t) return false;
  time_t secs = static_cast<time_t>(*t);
  std::lock_guard<std::mutex> hold(processEnvLock());  // the zone comes from TZ
  return localtime_r(&secs, &out) != nullptr;
}

// Standard input is the process's, and so are the units of a character
// _gettche has read from it but not yet handed out (the second half of a
// pair, or the bytes of an ill-formed sequence). Readers take turns.
struct ConsoleInput {
  std::mutex lock;
  std::u16string pending;
};
ConsoleInput& consoleInput() {
  static ConsoleInput* input = new ConsoleInput();
  return *input;
}

}  // namespace

namespace mox {

void errorExit(int code) { exit(code); }

FILE* _wfopen(const MoxChar* path, const MoxChar* mode) {
  if (!path || !mode) return nullptr;
  std::string narrowMode;
  for (const MoxChar* m = mode; *m; ++m)
    if (*m != u't' && *m < 128) narrowMode.push_back(static_cast<char>(*m));
  return fopen(toUtf8(path).c_str(), narrowMode.c_str());
}

const MoxChar* searchDirList(const MoxChar* dirList, const MoxChar* fileName) {
  thread_local std::u16string found;
  if (!dirList || !fileName) return nullptr;
  std::string list = toUtf8(dirList);
  std::string name = toUtf8(fileName);
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t end = list.find_first_of(";:", pos);
    if (end == std::string::npos) end = list.size();
    if (end > pos) {
      std::string candidate = list.substr(pos, end - pos);
      if (candidate.back() != '/') candidate += '/';
      candidate += name;
      if (isReadableFile(candidate)) {
        found = fromUtf8(candidate.data(), candidate.size());
        return found.c_str();
      }
    }
    pos = end + 1;
  }
  return nullptr;
}

const MoxChar* searchEnv(const MoxChar* varName, const MoxChar* fileName) {
  if (!varName || !fileName) return nullptr;
  std::u16string list = _tgetenv(varName);  // copied out of the thread's value buffer
  if (list.empty()) return nullptr;
  return searchDirList(list.c_str(), fileName);
}

const MoxChar* searchPath(const MoxChar* fileName) {
  if (!fileName) return nullptr;
  const MoxChar* p = searchEnv(u"Path", fileName);
  return p ? p : searchEnv(u"PATH", fileName);
}

const MoxChar* _tgetenv(const MoxChar* name) {
  thread_local std::u16string value;
  value.clear();
  if (!name || !*name) return value.c_str();
  std::string key = toUtf8(name);
  std::string found;
  if (processEnv(key.c_str(), found) || lookupStore(key, found))
    moxUtf8Decode(found.data(), found.size(), value);
  return value.c_str();
}

int _tputenv(const MoxChar* assignment) {
  if (!assignment) return -1;
  std::string text = toUtf8(assignment);
  size_t eq = text.find('=');
  if (eq == std::string::npos) return -1;
  std::string name = text.substr(0, eq);
  std::string value = text.substr(eq + 1);
  // A line break would split the entry into two lines of the store.
  if (name.empty() || text.find_first_of("\r\n") != std::string::npos) return EINVAL;
  std::lock_guard<std::mutex> update(storeUpdateLock());
  int err = writeStore(name, value);
  if (err) return err;
  std::lock_guard<std::mutex> hold(processEnvLock());
  int rc = value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
  return rc == 0 ? 0 : errno;
}

FileReplacement::FileReplacement(const char* path, int mode) {
  if (!path || !*path) {
    err_ = ENOENT;
    return;
  }
  // A link is followed: the file it names is the one replaced.
  std::string real = path;
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = realpath(path, nullptr)) {
      real = resolved;
      free(resolved);
    }
  }
  target_ = real;
  const size_t slash = real.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : real.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? real : real.substr(slash + 1);
  temp_ = dir + "." + base + ".XXXXXX";
  int fd = mkostemp(&temp_[0], O_CLOEXEC);
  if (fd < 0) {
    err_ = errno;
    temp_.clear();
    return;
  }
  // The new file keeps the old one's permissions; a file that is new gets
  // what a plain create would give it.
  mode_t wanted = mode >= 0 ? mode_t(mode) : defaultFileMode();
  if (mode < 0 && stat(real.c_str(), &st) == 0) wanted = st.st_mode & 07777;
  fchmod(fd, wanted);
  stream_ = fdopen(fd, "wb");
  if (!stream_) {
    err_ = errno;
    close(fd);
    unlink(temp_.c_str());
    temp_.clear();
  }
}

FileReplacement::~FileReplacement() {
  if (stream_) fclose(stream_);
  if (!temp_.empty()) unlink(temp_.c_str());
}

int FileReplacement::commit() {
  if (!stream_) return err_ ? err_ : EBADF;
  int err = 0;
  if (fflush(stream_) != 0 || ferror(stream_)) err = errno ? errno : EIO;
  if (!err && fsync(fileno(stream_)) != 0) err = errno;
  if (fclose(stream_) != 0 && !err) err = errno ? errno : EIO;
  stream_ = nullptr;
  if (!err && rename(temp_.c_str(), target_.c_str()) != 0) err = errno;
  if (err) {
    err_ = err;
    return err;  // the destructor removes the temporary file
  }
  temp_.clear();
  // Make the rename itself durable.
  const size_t slash = target_.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".")
                                                     : target_.substr(0, slash == 0 ? 1 : slash);
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return 0;
}

uint32_t time(uint32_t* t) {
  uint32_t now = static_cast<uint32_t>(::time(nullptr));
  if (t) *t = now;
  return now;
}

const MoxChar* _tctime(const uint32_t* t) {
  thread_local std::u16string text;
  struct tm tmv;
  if (!toLocal(t, tmv)) return nullptr;
  char buf[64];
  snprintf(buf, sizeof buf, "%s %s %02d %02d:%02d:%02d %04d\n", kWeekdays[tmv.tm_wday % 7],
           kMonths[tmv.tm_mon % 12], tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec,
           tmv.tm_year + 1900);
  text = fromUtf8(buf, strlen(buf));
  return text.c_str();
}

const MoxTm* localtime(const uint32_t* t) {
  thread_local MoxTm record;
  struct tm tmv;
  if (!toLocal(t, tmv)) return nullptr;
  record.sec = tmv.tm_sec;
  record.min = tmv.tm_min;
  record.hour = tmv.tm_hour;
  record.mday = tmv.tm_mday;
  record.mon = tmv.tm_mon + 1;
  record.year = tmv.tm_year + 1900;
  record.wday = tmv.tm_wday;
  record.yday = -1;
  record.isdst = -1;
  return &record;
}

MoxChar _gettche() {
  ConsoleInput& input = consoleInput();
  std::lock_guard<std::mutex> hold(input.lock);
  std::u16string& pending = input.pending;
  if (!pending.empty()) {
    MoxChar u = pending[0];
    pending.erase(0, 1);
    return u;
  }
  // On a terminal, take the key without waiting for Enter; the echo is ours.
  struct termios saved;
  bool raw = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (raw) {
    struct termios t = saved;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &t);
  }
  char bytes[4];
  size_t n = 0;
  int c = fgetc(stdin);
  if (c != EOF) {
    bytes[n++] = static_cast<char>(c);
    size_t need = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    while (n < need) {
      int d = fgetc(stdin);
      if (d == EOF) break;
      if ((d & 0xC0) != 0x80) {
        ungetc(d, stdin);
        break;
      }
      bytes[n++] = static_cast<char>(d);
    }
  }
  if (raw) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  if (n == 0) return 0xFFFF;
  moxWideFlush(stdout);
  fwrite(bytes, 1, n, stdout);
  fflush(stdout);
  std::u16string units = fromUtf8(bytes, n);
  pending.assign(units, 1, std::u16string::npos);
  return units[0];
}

int _vscwprintf(const MoxChar* format, va_list args) { return moxVFormatLength(format, args); }

int _vscprintf(const char* format, va_list args) {
  if (!format) return -1;
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  return n;
}

}  // namespace mox
