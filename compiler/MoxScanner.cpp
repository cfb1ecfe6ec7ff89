// Scanner: number conversion, the scanner chain of included sources, line
// handling and the token reader. The characters come from MoxCharSource.h.
#include "compiler/MoxScanner.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Keyword {
  const char16_t* text;
  MoxToken token;
};

const Keyword kKeywords[] = {
    {u"class", TOK_CLASS},   {u"static", TOK_STATIC}, {u"if", TOK_IF},
    {u"else", TOK_ELSE},     {u"while", TOK_WHILE},   {u"return", TOK_RETURN},
    {u"for", TOK_FOR},       {u"break", TOK_BREAK},   {u"continue", TOK_CONTINUE},
    {u"do", TOK_DO},         {u"new", TOK_NEW},       {u"delete", TOK_DELETE},
    {u"nil", TOK_NULL},      {u"null", TOK_NULL},     {u"TRON", TOK_TRON},
    {u"TROFF", TOK_TROFF},   {u"TRSTEP", TOK_TRSTEP}, {nullptr, TOK_NOTOKEN},
};

const char16_t* const kTokenNames[MOX_TOKEN_COUNT] = {
    u"<notoken>", u"<error>", u"<eof>", u"<string>", u"<ident>", u"<long>", u"<float>",
    u"class", u"static", u"if", u"else", u"while", u"return", u"for", u"break",
    u"continue", u"do", u"new", u"delete", u"null",
    u"<=", u"==", u"!=", u">=", u"<<", u">>", u"&&", u"||", u"++", u"--",
    u"+=", u"-=", u"*=", u"/=", u"%=", u"&=", u"|=", u"^=", u"~=", u"<<=", u">>=",
    u"=>", u"::", u"->", u"TRON", u"TROFF", u"TRSTEP", u"<any>",
};

bool isWhite(MoxChar c) {
  if (c == ' ' || (c >= 9 && c <= 13)) return true;
  if (c < 0x80) return false;
  return c == 0x1680 || (c >= 0x2000 && c <= 0x2006) || (c >= 0x2008 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x205F || c == 0x3000;
}

bool isDigit(MoxChar c) { return c >= '0' && c <= '9'; }

bool isHexDigit(MoxChar c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Letters that may start and continue identifiers: ASCII, and the letters of
// Latin-1, Latin Extended, Greek and Cyrillic.
bool isLetter(MoxChar c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  if (c < 0xC0) return c == 0xAA || c == 0xB5 || c == 0xBA;
  if (c <= 0x24F) return c != 0xD7 && c != 0xF7;
  return (c >= 0x370 && c <= 0x3FF && c != 0x37E && c != 0x387) || (c >= 0x400 && c <= 0x52F);
}

// Integer text with automatic base: "0x" hexadecimal, a leading "0" octal,
// otherwise decimal; stops at the first character that does not fit the
// base; saturates at the 32-bit limits.
int32_t toLong(const std::u16string& s) {
  size_t i = 0;
  unsigned base = 10;
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && s.size() > 2 &&
      isHexDigit(s[2])) {
    base = 16;
    i = 2;
  } else if (!s.empty() && s[0] == '0') {
    base = 8;
  }
  uint64_t v = 0;
  for (; i < s.size(); ++i) {
    MoxChar c = s[i];
    unsigned d;
    if (isDigit(c)) d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    if (d >= base) break;
    v = v * base + d;
    if (v > 0x7FFFFFFFu) return INT32_MAX;
  }
  return int32_t(v);
}

double toDouble(const std::u16string& s) {
  std::string narrow;
  narrow.reserve(s.size());
  for (MoxChar c : s) narrow += char(c < 0x80 ? c : '?');
  // strtod follows the C locale's decimal point; the texts here only ever
  // use '.', so the conversion is done with a locale-independent parse of
  // mantissa and exponent.
  const char* p = narrow.c_str();
  double mant = 0;
  int scale = 0;
  while (*p >= '0' && *p <= '9') mant = mant * 10 + (*p++ - '0');
  if (*p == '.') {
    ++p;
    while (*p >= '0' && *p <= '9') {
      mant = mant * 10 + (*p++ - '0');
      --scale;
    }
  }
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    int sign = 1;
    if (*q == '+' || *q == '-') sign = (*q++ == '-') ? -1 : 1;
    if (*q >= '0' && *q <= '9') {
      int e = 0;
      while (*q >= '0' && *q <= '9') {
        if (e < 100000) e = e * 10 + (*q - '0');
        ++q;
      }
      scale += sign * e;
    }
  }
  // Let the C library do the correctly rounded conversion of the normalised
  // text "<digits>e<scale>", which contains no locale-dependent character.
  std::string digits;
  for (const char* d = narrow.c_str(); *d && d < p; ++d)
    if (*d >= '0' && *d <= '9') digits += *d;
  if (digits.empty()) return mant;
  std::string norm = digits + "e" + std::to_string(scale);
  return strtod(norm.c_str(), nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and the scanner chain

MoxScanner::MoxScanner(FILE* stream, const MoxChar* name)
    : MoxScanner(new MoxStreamSource(stream, false), name) {}

MoxScanner::MoxScanner(const MoxChar* text, const MoxChar* name)
    : MoxScanner(new MoxTextSource(text), name) {}

MoxScanner::MoxScanner(MoxCharSource* source, const MoxChar* name)
    : floatValue_(0),
      longValue_(0),
      character_{0, 0},
      source_(source),
      current_(TOK_NOTOKEN),
      pushedBack_(false),
      lookAhead_(0),
      lastSource_(0),
      position_(0),
      lineNumber_(0),
      nested_(nullptr) {
  if (name != nullptr) name_ = name;
  text_.reserve(50);
  line_.reserve(50);
}

MoxScanner::~MoxScanner() {
  // The chain is unlinked iteratively so that a long chain cannot exhaust the
  // native stack.
  MoxScanner* n = nested_;
  nested_ = nullptr;
  while (n != nullptr) {
    MoxScanner* next = n->nested_;
    n->nested_ = nullptr;
    delete n;
    n = next;
  }
  delete source_;
}

MoxScanner* MoxScanner::innermost() {
  MoxScanner* s = this;
  while (s->nested_ != nullptr) s = s->nested_;
  return s;
}

const MoxScanner* MoxScanner::innermost() const {
  const MoxScanner* s = this;
  while (s->nested_ != nullptr) s = s->nested_;
  return s;
}

void MoxScanner::push(FILE* stream, const MoxChar* name) {
  innermost()->nested_ = new MoxScanner(new MoxStreamSource(stream, true), name);
}

void MoxScanner::push(const MoxChar* text, const MoxChar* name) {
  innermost()->nested_ = new MoxScanner(text, name);
}

unsigned MoxScanner::depth() const {
  unsigned n = 1;
  for (const MoxScanner* s = nested_; s != nullptr; s = s->nested_) ++n;
  return n;
}

MoxToken MoxScanner::getToken() {
  // Walk down to the innermost scanner; a nested source that has ended is
  // removed and its parent goes on.
  for (;;) {
    MoxScanner* parent = nullptr;
    MoxScanner* s = this;
    while (s->nested_ != nullptr) {
      parent = s;
      s = s->nested_;
    }
    if (s->pushedBack_) {
      s->pushedBack_ = false;
      return s->current_;
    }
    MoxToken t = s->readToken();
    s->current_ = t;
    if (t != TOK_EOF || parent == nullptr) return t;
    parent->nested_ = nullptr;
    delete s;
  }
}

bool MoxScanner::back() {
  MoxScanner* s = innermost();
  if (s->pushedBack_) return false;
  s->pushedBack_ = true;
  return true;
}

const MoxChar* MoxScanner::getTokenName(int token) const {
  if (token == TOK_ANY) return innermost()->character_;
  if (token >= 0 && token < TOK_ANY) return kTokenNames[token];
  return u"invalid token";
}

const MoxChar* MoxScanner::getTokenString() const { return innermost()->text_.c_str(); }
double MoxScanner::getDouble() const { return innermost()->floatValue_; }
int32_t MoxScanner::getLong() const { return innermost()->longValue_; }
MoxChar MoxScanner::getChar() const { return innermost()->character_[0]; }
const MoxChar* MoxScanner::getName() const { return innermost()->name_.c_str(); }
int32_t MoxScanner::getLineNumber() const { return innermost()->lineNumber_; }
unsigned MoxScanner::getPosition() const { return innermost()->position_; }

MoxToken MoxScanner::parseError(const MoxChar* message) {
  MoxScanner* s = innermost();
  std::u16string r = u"--> ";
  if (message != nullptr) r += message;
  r += u" \nin ";
  r += s->name_;
  r += u" line ";
  std::string num = std::to_string(s->lineNumber_) + " pos " + std::to_string(s->position_);
  r.append(num.begin(), num.end());
  r += u" \n";
  // The line text ends at its first zero unit, like any zero-terminated text.
  r += s->line_.c_str();
  r += u"\n";
  s->text_ = r;
  return TOK_ERROR;
}

// ---------------------------------------------------------------------------
// Characters and lines

// The source is read a whole line at a time, so that an error report can
// show the line it occurred in.
MoxChar MoxScanner::get() {
  if (lookAhead_ != 0) {
    MoxChar c = lookAhead_;
    lookAhead_ = 0;
    return c;
  }
  if (position_ < line_.size()) {
    MoxChar c = line_[position_++];
    if (c != 0) return c;
    // A zero character ends the line early: the rest of it is skipped, and
    // the line still ends like any other, so tokens never join across it.
    if (position_ < line_.size()) {
      position_ = unsigned(line_.size());
      return '\n';
    }
  }
  while (lastSource_ != MOX_EOF_CHAR) {
    line_.clear();
    position_ = 0;
    for (;;) {
      lastSource_ = source_->next();
      if (lastSource_ == MOX_EOF_CHAR || lastSource_ == '\n') break;
      line_ += lastSource_;
    }
    line_ += u'\n';
    ++lineNumber_;
    position_ = 1;
    if (line_[0] != 0) return line_[0];
    position_ = unsigned(line_.size());
    return '\n';
  }
  return MOX_EOF_CHAR;
}

MoxChar MoxScanner::skipWhite() {
  MoxChar c;
  do {
    c = get();
  } while (c != MOX_EOF_CHAR && isWhite(c));
  return c;
}

void MoxScanner::skipLineComment() {
  MoxChar c;
  do {
    c = get();
  } while (c != '\n' && c != MOX_EOF_CHAR);
}

void MoxScanner::skipBlockComment() {
  MoxChar prev = 0;
  for (;;) {
    MoxChar c = get();
    if (c == MOX_EOF_CHAR) return;
    if (prev == '*' && c == '/') return;
    prev = c;
  }
}

// ---------------------------------------------------------------------------
// Tokens

// token -> string | char | number | identifier | keyword | operator, after
// white space and comments ("//", "@" and "#!" to the line end, "/* */")
MoxToken MoxScanner::readToken() {
  for (;;) {
    MoxChar c = skipWhite();
    if (c == MOX_EOF_CHAR) return TOK_EOF;
    if (c == '"') return readString();
    if (c == '\'') return readCharLiteral();
    if (isDigit(c)) return readNumber(c);
    if (isLetter(c) || c == '_') return readIdent(c);
    if (c == '@') {
      skipLineComment();
      continue;
    }
    if (c == '/') {
      MoxChar n = get();
      if (n == '/') {
        skipLineComment();
        continue;
      }
      if (n == '*') {
        skipBlockComment();
        continue;
      }
      if (n == '=') return TOK_DIV_ASSIGN;
      if (n != MOX_EOF_CHAR) lookAhead_ = n;
      character_[0] = c;
      return TOK_ANY;
    }
    if (c == '#') {
      MoxChar n = get();
      if (n == '!') {
        skipLineComment();
        continue;
      }
      if (n != MOX_EOF_CHAR) lookAhead_ = n;
      character_[0] = c;
      return TOK_ANY;
    }
    return operatorToken(c);
  }
}

// identifier -> ( letter | '_' ) { letter | digit | '_' }
MoxToken MoxScanner::readIdent(MoxChar c) {
  text_.clear();
  text_ += c;
  for (;;) {
    c = get();
    if (c == MOX_EOF_CHAR) break;
    if (!(isLetter(c) || isDigit(c) || c == '_')) {
      lookAhead_ = c;
      break;
    }
    text_ += c;
  }
  // Keywords are 2 to 8 lower-case letters, or start with 'T'.
  if (text_.size() < 2 || text_.size() > 8 || !((text_[0] >= 'a' && text_[0] <= 'z') || text_[0] == 'T'))
    return TOK_IDENT;
  for (const Keyword* k = kKeywords; k->text != nullptr; ++k)
    if (text_ == k->text) return k->token;
  return TOK_IDENT;
}

// number -> digits [ '.' digits ] [ ( 'e' | 'E' ) [ '+' | '-' ] digits ]
//         | '0' ( 'x' | 'X' ) hexdigits
// A '.' or an exponent makes it a float; the text is converted at the end.
MoxToken MoxScanner::readNumber(MoxChar c) {
  floatValue_ = 0;
  longValue_ = 0;
  text_.clear();
  text_ += c;
  MoxToken kind = TOK_LONG;
  bool hex = false;
  for (;;) {
    c = get();
    if (c == MOX_EOF_CHAR) break;
    if (isDigit(c)) {
      text_ += c;
      continue;
    }
    if (hex) {
      if (isHexDigit(c)) {
        text_ += c;
        continue;
      }
      lookAhead_ = c;
      break;
    }
    if (c == '.') {
      if (kind == TOK_FLOAT) {
        lookAhead_ = c;
        break;
      }
      kind = TOK_FLOAT;
      text_ += c;
      continue;
    }
    if (c == 'e' || c == 'E') {
      kind = TOK_FLOAT;
      text_ += c;
      c = get();
      if (isDigit(c) || c == '+' || c == '-') {
        text_ += c;
        continue;
      }
      if (c != MOX_EOF_CHAR) lookAhead_ = c;
      break;
    }
    if ((c == 'x' || c == 'X') && text_.back() == '0') {
      hex = true;
      text_ += c;
      continue;
    }
    lookAhead_ = c;
    break;
  }
  if (kind == TOK_FLOAT) floatValue_ = toDouble(text_);
  else longValue_ = toLong(text_);
  return kind;
}

// char -> plain | '\\' ( 'a' | 'b' | 'f' | 'n' | 'r' | 't' | 'v' | number | other )
// A digit starts a numeric escape, a number in any base: "\65", "\0x41".
MoxToken MoxScanner::readLiteralChar(MoxChar c, int32_t* out, bool* numeric) {
  *numeric = false;
  if (c != '\\') {
    *out = c;
    return TOK_NOTOKEN;
  }
  c = get();
  switch (c) {
    case 'a': *out = 7; break;
    case 'b': *out = 8; break;
    case 'f': *out = 12; break;
    case 'n': *out = 10; break;
    case 'r': *out = 13; break;
    case 't': *out = 9; break;
    case 'v': *out = 11; break;
    case MOX_EOF_CHAR: *out = '\\'; break;
    default:
      if (isDigit(c)) {
        *numeric = true;
        if (readNumber(c) != TOK_LONG) return parseError(u"number literal expected");
        *out = longValue_;
      } else {
        *out = c;
      }
  }
  return TOK_NOTOKEN;
}

// string -> '"' { char } '"'   (after the opening quote; the end of the
// input also ends it)
MoxToken MoxScanner::readString() {
  std::u16string s;
  for (;;) {
    MoxChar c = get();
    if (c == MOX_EOF_CHAR || c == '"') break;
    int32_t value;
    bool numeric;
    if (c == '\\') {
      // The string grows in s, so the number reader may use the token text.
      if (readLiteralChar(c, &value, &numeric) == TOK_ERROR) return TOK_ERROR;
      s += MoxChar(uint32_t(value) & 0xFFFF);
    } else {
      s += c;
    }
  }
  // The text is zero-terminated: a zero escape ends it there.
  size_t zero = s.find(MoxChar(0));
  if (zero != std::u16string::npos) s.resize(zero);
  text_.swap(s);
  return TOK_STRING;
}

// char -> "'" char "'"   (after the opening quote): a TOK_LONG
MoxToken MoxScanner::readCharLiteral() {
  MoxChar c = get();
  int32_t value;
  bool numeric;
  if (readLiteralChar(c, &value, &numeric) == TOK_ERROR) return TOK_ERROR;
  floatValue_ = 0;
  longValue_ = value;
  if (get() != '\'') return parseError(u"closing single quote expected");
  return TOK_LONG;
}

// One character of look-ahead: next == the second character of a two-
// character operator gives yes, else the first character alone.
MoxToken MoxScanner::pick(MoxChar next, MoxToken yes, MoxChar first) {
  MoxChar c = get();
  if (c == next) return yes;
  if (c != MOX_EOF_CHAR) lookAhead_ = c;
  character_[0] = first;
  return TOK_ANY;
}

// One- to three-character operators, longest match first; any other
// character is TOK_ANY with the character in character_.
MoxToken MoxScanner::operatorToken(MoxChar c) {
  character_[0] = c;
  MoxChar n;
  switch (c) {
    case '+':
    case '-':
    case '&':
    case '|':
    case '=':
    case '<':
    case '>': {
      n = get();
      switch (c) {
        case '+':
          if (n == '+') return TOK_INC;
          if (n == '=') return TOK_ADD_ASSIGN;
          break;
        case '-':
          if (n == '-') return TOK_DEC;
          if (n == '=') return TOK_SUB_ASSIGN;
          if (n == '>') return TOK_ARROW;
          break;
        case '&':
          if (n == '&') return TOK_AND;
          if (n == '=') return TOK_AND_ASSIGN;
          break;
        case '|':
          if (n == '|') return TOK_OR;
          if (n == '=') return TOK_OR_ASSIGN;
          break;
        case '=':
          if (n == '=') return TOK_EQ;
          if (n == '>') return TOK_REF_ASSIGN;
          break;
        case '<':
        case '>': {
          bool lt = c == '<';
          if (n == '=') return lt ? TOK_LE : TOK_GE;
          if (n == c) {
            MoxChar m = get();
            if (m == '=') return lt ? TOK_SHL_ASSIGN : TOK_SHR_ASSIGN;
            if (m != MOX_EOF_CHAR) lookAhead_ = m;
            return lt ? TOK_SHL : TOK_SHR;
          }
          break;
        }
      }
      if (n != MOX_EOF_CHAR) lookAhead_ = n;
      return TOK_ANY;
    }
    case '*': return pick('=', TOK_MUL_ASSIGN, c);
    case '%': return pick('=', TOK_REM_ASSIGN, c);
    case '^': return pick('=', TOK_XOR_ASSIGN, c);
    case '~': return pick('=', TOK_NOT_ASSIGN, c);
    case '!': return pick('=', TOK_NE, c);
    case ':': return pick(':', TOK_SCOPE, c);
    default: return TOK_ANY;
  }
}
