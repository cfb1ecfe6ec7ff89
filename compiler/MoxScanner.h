// The scanner: turns script source text into tokens for the compiler.
//
// A scanner reads from an open stdio stream (decoded as UTF-8, each byte of an
// ill-formed sequence taken as the character of the same value) or from a
// UTF-16 text in memory. It keeps the current line for error reports, allows
// one token of push-back, and can stack a nested scanner on itself, which is
// how "include" reads another file in the middle of a source. Every query
// goes to the innermost scanner of the chain, so while an included file is
// read, token text, values and error positions are those of that file. The
// scanner never prints anything; errors come back as formatted text.
#ifndef MOX_SCANNER_H
#define MOX_SCANNER_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "compiler/MoxCharSource.h"
#include "core/MoxConfig.h"

enum MoxToken {
  TOK_NOTOKEN = 0,
  TOK_ERROR = 1,
  TOK_EOF = 2,
  TOK_STRING = 3,
  TOK_IDENT = 4,
  TOK_LONG = 5,
  TOK_FLOAT = 6,
  TOK_CLASS = 7,
  TOK_STATIC = 8,
  TOK_IF = 9,
  TOK_ELSE = 10,
  TOK_WHILE = 11,
  TOK_RETURN = 12,
  TOK_FOR = 13,
  TOK_BREAK = 14,
  TOK_CONTINUE = 15,
  TOK_DO = 16,
  TOK_NEW = 17,
  TOK_DELETE = 18,
  TOK_NULL = 19,
  TOK_LE = 20,          // <=
  TOK_EQ = 21,          // ==
  TOK_NE = 22,          // !=
  TOK_GE = 23,          // >=
  TOK_SHL = 24,         // <<
  TOK_SHR = 25,         // >>
  TOK_AND = 26,         // &&
  TOK_OR = 27,          // ||
  TOK_INC = 28,         // ++
  TOK_DEC = 29,         // --
  TOK_ADD_ASSIGN = 30,  // +=
  TOK_SUB_ASSIGN = 31,  // -=
  TOK_MUL_ASSIGN = 32,  // *=
  TOK_DIV_ASSIGN = 33,  // /=
  TOK_REM_ASSIGN = 34,  // %=
  TOK_AND_ASSIGN = 35,  // &=
  TOK_OR_ASSIGN = 36,   // |=
  TOK_XOR_ASSIGN = 37,  // ^=
  TOK_NOT_ASSIGN = 38,  // ~=
  TOK_SHL_ASSIGN = 39,  // <<=
  TOK_SHR_ASSIGN = 40,  // >>=
  TOK_REF_ASSIGN = 41,  // =>
  TOK_SCOPE = 42,       // ::
  TOK_ARROW = 43,       // ->
  TOK_TRON = 44,
  TOK_TROFF = 45,
  TOK_TRSTEP = 46,
  TOK_ANY = 47,         // any other single character; see getChar()
};

enum { MOX_TOKEN_COUNT = 48 };

class MOX_API MoxScanner {
 public:
  // Reads a caller's stream; the scanner never closes it.
  MoxScanner(FILE* stream, const MoxChar* name);
  // Reads a private copy of the zero-terminated text.
  MoxScanner(const MoxChar* text, const MoxChar* name);
  ~MoxScanner();
  MoxScanner(const MoxScanner&) = delete;
  MoxScanner& operator=(const MoxScanner&) = delete;

  // Attach a scanner on another source to the innermost scanner of the chain.
  // A pushed stream belongs to the nested scanner, which closes it when it
  // reaches its end or is destroyed.
  void push(FILE* stream, const MoxChar* name);
  void push(const MoxChar* text, const MoxChar* name);
  // Number of scanners in the chain (1 without nested sources).
  unsigned depth() const;

  MoxToken getToken();
  // The next getToken() returns the current token again. False when a token
  // is already pushed back.
  bool back();

  // Text of a token value; for TOK_ANY the innermost current character.
  const MoxChar* getTokenName(int token) const;
  // Token text of the innermost scanner, or the report after parseError.
  const MoxChar* getTokenString() const;
  double getDouble() const;
  int32_t getLong() const;
  MoxChar getChar() const;
  // Name, line number and column of the innermost scanner.
  const MoxChar* getName() const;
  int32_t getLineNumber() const;
  unsigned getPosition() const;

  // Formats "--> message \nin name line N pos P \nline" into the innermost
  // scanner's token text and returns TOK_ERROR.
  MoxToken parseError(const MoxChar* message);

 private:
  // Takes the source, which it deletes.
  MoxScanner(MoxCharSource* source, const MoxChar* name);
  MoxScanner* innermost();
  const MoxScanner* innermost() const;
  MoxChar get();
  MoxChar skipWhite();
  MoxToken readToken();
  MoxToken readIdent(MoxChar c);
  MoxToken readNumber(MoxChar c);
  MoxToken readString();
  MoxToken readCharLiteral();
  // One character of a string or character literal; a numeric escape sets
  // *numeric and leaves its value in longValue_ (or returns TOK_ERROR).
  MoxToken readLiteralChar(MoxChar c, int32_t* out, bool* numeric);
  void skipLineComment();
  void skipBlockComment();
  MoxToken operatorToken(MoxChar c);
  MoxToken pick(MoxChar next, MoxToken yes, MoxChar first);

  std::u16string text_;   // current token text, or the last error report
  double floatValue_;
  int32_t longValue_;
  MoxChar character_[2];  // last single-character token, zero-terminated
  MoxCharSource* source_;
  MoxToken current_;
  bool pushedBack_;
  MoxChar lookAhead_;     // 0 = none
  MoxChar lastSource_;    // 0xFFFF once the source is exhausted
  std::u16string line_;   // current line, ending in a line feed
  unsigned position_;
  int32_t lineNumber_;
  MoxScanner* nested_;
  std::u16string name_;
};

#endif
