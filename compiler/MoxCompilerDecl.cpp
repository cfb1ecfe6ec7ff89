// Compiler top level: entry points, declarations, literal initialisers and
// preprocessor directives.
#include <cstring>
#include <string>

#include "compiler/MoxCompilerInternal.h"
#include "core/MoxUtf8.h"
#include "stdlib/MoxStdCapabilities.h"
#include "vm/MoxPlatform.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

MoxCompiler::MoxCompiler(MoxVirtualMachine& vm, IMoxPrinter* printer)
    : scanner_(nullptr),
      symbols_(vm.symbols()),
      classes_(vm.classes()),
      vm_(vm),
      printer_(printer != nullptr ? printer : &vm.printer()),
      debugger_(nullptr),
      showInfo_(false),
      errors_(0),
      depth_(0),
      aborted_(false) {}

MoxCompiler::~MoxCompiler() {}

bool MoxCompiler::compile(FILE* stream, const MoxChar* name) {
  if (stream == nullptr) {
    (*printer_)(u"MoxCompiler::compile(FILE* fp) invalid file handle\n");
    return false;
  }
  MoxScanner scanner(stream, name);
  return _compileWith(scanner);
}

bool MoxCompiler::compile(const MoxChar* text, const MoxChar* name) {
  if (text == nullptr) {
    (*printer_)(u"MoxCompiler::compile(const MoxChar* src) invalid source\n");
    return false;
  }
  MoxScanner scanner(text, name);
  return _compileWith(scanner);
}

bool MoxCompiler::_compileWith(MoxScanner& scanner) {
  scanner_ = &scanner;
  bool ok = compile();
  // The scanner lives only as long as this call.
  scanner_ = nullptr;
  return ok;
}

// ---------------------------------------------------------------------------
// Token helpers

MoxToken MoxCompiler::_next() {
  for (;;) {
    if (aborted_) return TOK_EOF;
    MoxToken t = scanner_->getToken();
    // A lexical error is reported where it is met and skipped, so that no
    // rule mistakes the error token for something it expects.
    if (t != TOK_ERROR) {
      _trackToken();
      return t;
    }
    _reportScannerError();
  }
}

void MoxCompiler::_back() {
  if (!aborted_ && scanner_->back()) {
    redeliver_ = true;
    lastPos_ = prevPos_;
  }
}

void MoxCompiler::_trackToken() {
  if (redeliver_) {
    redeliver_ = false;
    lastPos_ = tokPos_;
    return;
  }
  const MoxChar* name = scanner_->getName();
  unsigned depth = scanner_->depth();
  if (name != posName_ || depth != posDepth_) {
    posName_ = name;
    posDepth_ = depth;
    tokPos_.source = vm_.lineTables().internSource(name);
  }
  tokPos_.line = scanner_->getLineNumber();
  prevPos_ = lastPos_;
  lastPos_ = tokPos_;
}

bool MoxCompiler::_isChar(MoxToken token, MoxChar ch) const {
  return token == TOK_ANY && scanner_->getChar() == ch;
}

// names -> ident { ',' ident }, or nothing when the first token is one of
// the terminator characters (it is pushed back). Returns the count.
int MoxCompiler::_getIdList(MoxVector& names, const char* terminators) {
  MoxToken t = _next();
  if (t == TOK_ANY && scanner_->getChar() < 0x80 &&
      strchr(terminators, char(scanner_->getChar())) != nullptr) {
    _back();
    return 0;
  }
  int n = 0;
  for (;;) {
    if (t == TOK_IDENT) {
      names.push_back(MoxValue(new MoxString(scanner_->getTokenString())));
      ++n;
    } else if (!_require(TOK_IDENT, t, 0)) {
      _count();
    }
    t = _next();
    if (!_isChar(t, ',')) {
      _back();
      return n;
    }
    t = _next();
  }
}

MoxClass* MoxCompiler::_findClass(const MoxChar* name) {
  MoxDictionaryEntry* e = classes_.find(MoxString(name));
  MoxClass* cls = e != nullptr ? static_cast<MoxClass*>(e->getValue()) : nullptr;
  if (cls == nullptr) _error("undefined class");
  return cls;
}

// ---------------------------------------------------------------------------
// Top level

// source -> { function | member-function | class | directive }
bool MoxCompiler::compile() {
  posName_ = nullptr;
  redeliver_ = false;
  errors_ = 0;
  depth_ = 0;
  aborted_ = false;
  for (;;) {
    MoxToken t = _next();
    if (t == TOK_EOF) break;
    if (t == TOK_IDENT) {
      std::u16string name = scanner_->getTokenString();
      if (!_doFunction(name.c_str())) return false;
    } else if (t == TOK_CLASS) {
      if (!_doClass()) return false;
    } else if (_isChar(t, '#')) {
      if (!_doPreproc()) break;
    } else {
      _error("declaration expected");
    }
    if (errors_ >= MOX_MAX_ERRORS) break;
  }
  return errors_ == 0;
}

// function -> ident '(' function-body | ident '::' member-function
// (the first identifier already read)
bool MoxCompiler::_doFunction(const MoxChar* name) {
  MoxToken t = _next();
  if (t == TOK_SCOPE) return _doMemberFunction(name);
  if (_isChar(t, '(')) return _doRegularFunction(name);
  _error("function declaration expected");
  return true;
}

// A global function; a later definition replaces an earlier one.
bool MoxCompiler::_doRegularFunction(const MoxChar* name) {
  MoxDictionaryEntry& entry = symbols_[MoxString(name)];
  entry.setSymbolType(SYM_FUNCTION);
  _info(u"function %s\n", name);
  MoxValue proc = _codeFunctionBody(name, nullptr, false);
  if (proc.isNull()) return false;
  // Looked up again: the body may have created other entries meanwhile.
  symbols_[MoxString(name)].setValue(proc);
  return true;
}

// member-function -> ( ident | '~' ident ) '(' function-body
// (after "Class::"). A method defined without a declaration in the class
// becomes an object method, never a static one.
bool MoxCompiler::_doMemberFunction(const MoxChar* className) {
  std::u16string clsName = className;
  MoxClass* cls = _findClass(className);
  if (cls == nullptr) return false;
  MoxValue keep(cls);  // the class stays alive while its method is compiled
  std::u16string name;
  MoxToken t = _next();
  if (_isChar(t, '~')) {
    t = _next();
    if (t == TOK_IDENT) {
      if (clsName != scanner_->getTokenString()) _error("illegal destructor definition");
    } else {
      if (!_require(TOK_IDENT, t, 0)) _count();
      _back();
    }
    name = kMoxDestructorName;
  } else {
    if (!_require(TOK_IDENT, t, 0)) {
      _count();
      return false;
    }
    name = scanner_->getTokenString();
  }
  _expect('(');
  _info(u"member function %s::%s\n", clsName.c_str(), name.c_str());

  MoxString key(name.c_str());
  MoxDictionaryEntry* member = cls->findMember(key, false);
  bool store = true;
  if (member != nullptr) {
    MoxSymbolType k = member->getSymbolType();
    if (k != SYM_METHOD && k != SYM_FUNCTION) {
      _error("illegal redefinition");
      store = false;
    }
  } else {
    member = &(*cls->funcMembers())[key];
    member->setSymbolType(SYM_METHOD);
  }
  // A static member function has no receiver, hence no "this".
  bool isStatic = store && member->getSymbolType() == SYM_FUNCTION;
  MoxValue proc = _codeFunctionBody(name.c_str(), cls, isStatic);
  if (proc.isNull()) return false;
  if (store) {
    MoxDictionaryEntry* m = cls->findMember(key, false);
    if (m != nullptr) m->setValue(proc);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Classes

namespace {

// True when some class of the dictionary names cls as its direct base.
bool usedAsBase(MoxDictionary& classes, MoxClass* cls) {
  for (MoxDictionaryEntry* e = classes.getFirst(); e != nullptr; e = e->getNext()) {
    MoxClass* c = static_cast<MoxClass*>(e->getValue());
    if (c != nullptr && c->getBaseClass() == cls) return true;
  }
  return false;
}

}  // namespace

// class -> 'class' ident ';'
//        | 'class' ident [ ':' ident ] '{' { member | directive } '}'
// A class may be declared again: what the later declaration names is added
// to the existing class.
bool MoxCompiler::_doClass() {
  if (!_fetchRequire(TOK_IDENT, 0)) {
    _count();
    return false;
  }
  std::u16string name = scanner_->getTokenString();
  MoxString key(name.c_str());
  MoxDictionaryEntry* existing = classes_.find(key);
  MoxClass* cls = existing != nullptr ? static_cast<MoxClass*>(existing->getValue()) : nullptr;

  bool forward = false;
  MoxClass* base = nullptr;
  // The base is looked up before a new class is entered, so "class A : A"
  // for an unknown A reports the undefined class, not a circular one.
  if (!_doClassHead(name, cls, forward, base)) return false;
  bool isBase = cls != nullptr && usedAsBase(classes_, cls);
  if (cls == nullptr) cls = _newClass(key);
  MoxValue keep(cls);

  if (base != nullptr) {
    if (cls->getBaseClass() == nullptr) cls->setBaseClass(base);
    else if (cls->getBaseClass() != base) _error("illegal redefinition of base class");
  }
  if (forward) {
    cls->computeDataSize();
    return true;
  }
  return _doClassBody(cls, isBase);
}

// The rest of a class head after its name: ';' (a forward declaration),
// ':' ident (the base class), or nothing. False when the class would be its
// own base.
bool MoxCompiler::_doClassHead(const std::u16string& name, MoxClass* cls, bool& forward,
                               MoxClass*& base) {
  MoxToken t = _next();
  if (_isChar(t, ';')) {
    forward = true;
    _info(u"class %s forward declaration\n", name.c_str());
    return true;
  }
  if (!_isChar(t, ':')) {
    _back();
    _info(u"class %s\n", name.c_str());
    return true;
  }
  if (!_fetchRequire(TOK_IDENT, 0)) {
    _count();
    return true;
  }
  std::u16string baseName = scanner_->getTokenString();
  base = _findClass(baseName.c_str());
  if (base == nullptr) return true;
  // A base that is the class itself, or derives from it, would make the
  // class hierarchy circular.
  if (cls != nullptr && (base == cls || base->isSubtypeOf(cls))) {
    _error("class can't be its own base");
    return false;
  }
  _info(u"class %s : %s\n", name.c_str(), baseName.c_str());
  return true;
}

MoxClass* MoxCompiler::_newClass(const MoxString& key) {
  MoxDictionaryEntry& e = classes_[key];
  e.setSymbolType(SYM_CLASS);
  MoxClass* cls = new MoxClass(vm_, key, nullptr);
  e.setValue(MoxValue(cls));
  return cls;
}

// class body -> '{' { member | directive } '}'
// Object data members are entered after the closing brace, where they take
// the kind SYM_MEMBER even over a static member of the same name.
bool MoxCompiler::_doClassBody(MoxClass* cls, bool isBase) {
  if (!_expect('{')) return false;
  MoxVector objectMembers;
  for (;;) {
    MoxToken t = _next();
    if (_isChar(t, '}')) break;
    if (t == TOK_EOF) {
      _error("unexpected EOF");
      return false;
    }
    if (_isChar(t, '#')) {
      if (!_doPreproc()) return false;
      continue;
    }
    _back();
    _doClassMember(cls, isBase, objectMembers);
  }
  for (unsigned i = 0; i < objectMembers.size(); ++i) {
    MoxString* n = static_cast<MoxString*>(objectMembers[i]);
    MoxDictionaryEntry& e = (*cls->dataMembers())[*n];
    e.setSymbolType(SYM_MEMBER);
  }
  cls->fixupDataDefs();
  return true;
}

// member -> [ 'static' ] ident '(' [ names ] ')' ';'
//         | '~' ident '(' ')' ';'
//         | 'static' ident [ '=' literal ] { ',' ident [ '=' literal ] } ';'
//         | ident { ',' ident } ';'
// Object data member names are collected in objectMembers.
void MoxCompiler::_doClassMember(MoxClass* cls, bool isBase, MoxVector& objectMembers) {
  MoxMemberHead head;
  if (!_doMemberHead(cls, head)) return;
  MoxToken t = _next();
  if (_isChar(t, '(')) _doMethodDeclaration(cls, head);
  else if (head.isStatic) _doStaticMembers(cls, head.name, t);
  else _doObjectMembers(cls, head.name, t, isBase, objectMembers);
  _expect(';');
}

// member head -> [ 'static' ] ident | '~' ident
// False when no name follows; the member is then skipped without a ';'.
bool MoxCompiler::_doMemberHead(MoxClass* cls, MoxMemberHead& head) {
  const std::u16string className = cls->getClassName() ? cls->getClassName()->c_str() : u"";
  MoxToken t = _next();
  if (t == TOK_STATIC) {
    head.isStatic = true;
    t = _next();
  } else if (_isChar(t, '~')) {
    t = _next();
    if (t != TOK_IDENT || className != scanner_->getTokenString()) {
      _error("destructor declaration expected");
      if (t != TOK_IDENT) {
        if (_isChar(t, '}')) _back();
        return false;
      }
    }
    head.isDtor = true;
  }
  if (t != TOK_IDENT) {
    _error("member declaration expected");
    // The closing brace still ends the class.
    if (_isChar(t, '}')) _back();
    return false;
  }
  head.name = head.isDtor ? std::u16string(kMoxDestructorName) : std::u16string(scanner_->getTokenString());
  // A method literally named "dtor" is the destructor too.
  if (head.name == kMoxDestructorName) head.isDtor = true;
  if (head.isStatic && head.isDtor) {
    _error("destructor can't be static");
    head.isStatic = false;
  } else if (head.isStatic && head.name == className) {
    _error("constructor can't be static");
    head.isStatic = false;
  }
  return true;
}

// method declaration -> '(' [ names ] ')'   (after the head; '(' read)
// The parameter names are not kept: those of the definition are the ones
// that count.
void MoxCompiler::_doMethodDeclaration(MoxClass* cls, const MoxMemberHead& head) {
  if (!head.isDtor) {
    MoxVector ignored;
    _getIdList(ignored, ")");
  }
  _expect(')');
  MoxDictionaryEntry& e = (*cls->funcMembers())[MoxString(head.name.c_str())];
  e.setSymbolType(head.isStatic ? SYM_FUNCTION : SYM_METHOD);
}

// static members -> [ '=' literal ] { ',' ident [ '=' literal ] }
// (after 'static' ident; t is the token that follows the first name)
void MoxCompiler::_doStaticMembers(MoxClass* cls, std::u16string name, MoxToken t) {
  for (;;) {
    MoxDictionaryEntry& e = (*cls->dataMembers())[MoxString(name.c_str())];
    bool ok = true;
    if (e.getSymbolType() != SYM_UNDEFINED && e.getSymbolType() != SYM_VARIABLE) {
      _error("object member data can't be redifined as static");
      ok = false;
    } else {
      e.setSymbolType(SYM_VARIABLE);
    }
    if (_isChar(t, '=')) {
      MoxValue v;
      _doLiteralValue(_next(), v);
      if (ok) e.setValue(v);
      t = _next();
    }
    if (!_isChar(t, ',')) {
      _back();
      return;
    }
    if (!_fetchRequire(TOK_IDENT, 0)) {
      _count();
      return;
    }
    name = scanner_->getTokenString();
    t = _next();
  }
}

// object members -> { ',' ident }   (after the first name; t follows it)
void MoxCompiler::_doObjectMembers(MoxClass* cls, const std::u16string& name, MoxToken t,
                                   bool isBase, MoxVector& objectMembers) {
  // Objects of derived classes already have their slots numbered after
  // this class's members; a new member would share a slot with theirs.
  bool take = true;
  if (isBase) {
    _error("classes already used as base must not define new member variables");
    take = false;
  }
  MoxVector names;
  names.push_back(MoxValue(new MoxString(name.c_str())));
  if (_isChar(t, ',')) _getIdList(names, ";");
  else _back();
  for (unsigned i = 0; i < names.size(); ++i) {
    if (!take) {
      // Members it already has keep their slots; only new names are refused.
      MoxDictionaryEntry* e = cls->dataMembers()->find(*static_cast<MoxString*>(names[i]));
      if (e == nullptr || e->getSymbolType() != SYM_MEMBER) continue;
    }
    objectMembers.push_back(names[i]);
  }
}

// ---------------------------------------------------------------------------
// Literal initialisers

// literal -> string | long | float | 'null' | '[' vector | '{' dictionary
// (token already read). No sign: "-1" is not a literal.
bool MoxCompiler::_doLiteralValue(MoxToken token, MoxValue& out) {
  if (!_enter()) {
    _leave();
    return true;
  }
  switch (token) {
    case TOK_STRING:
      out = MoxValue(new MoxString(scanner_->getTokenString()));
      break;
    case TOK_LONG:
      out = MoxValue(scanner_->getLong());
      break;
    case TOK_FLOAT:
      out = MoxValue(scanner_->getDouble());
      break;
    case TOK_NULL:
      out = MoxValue();
      break;
    default:
      if (_isChar(token, '[')) _doVectorLiteral(out);
      else if (_isChar(token, '{')) _doDictionaryLiteral(out);
      else _error("literal expected");
  }
  _leave();
  return true;
}

// True when the literal that starts with token t was read without error; an
// error ends the enclosing vector or dictionary.
bool MoxCompiler::_doLiteralElement(MoxToken t, MoxValue& out) {
  int before = errors_;
  _doLiteralValue(t, out);
  return errors_ == before;
}

// After an element of a vector or dictionary literal: true when a ',' lets
// the list go on, false at the closing character or after a reported error.
bool MoxCompiler::_literalListGoesOn(MoxChar closer, const char* notCharMessage) {
  MoxToken t = _next();
  if (t != TOK_ANY) {
    _error(notCharMessage);
    return false;
  }
  if (_isChar(t, closer)) return false;
  if (_isChar(t, ',')) return true;
  _require(TOK_ANY, t, closer);
  _count();
  return false;
}

// vector -> [ literal { ',' literal } [ ',' ] ] ']'   (after the '[')
bool MoxCompiler::_doVectorLiteral(MoxValue& out) {
  MoxVector* vec = new MoxVector();
  out = MoxValue(vec);
  for (;;) {
    MoxToken t = _next();
    if (_isChar(t, ']')) return true;
    MoxValue element;
    if (!_doLiteralElement(t, element)) return true;
    vec->push_back(element);
    if (!_literalListGoesOn(']', "',' or ']' expected")) return true;
  }
}

// dictionary -> [ string ':' literal { ',' string ':' literal } [ ',' ] ] '}'
// (after the '{'); a repeated key overwrites
bool MoxCompiler::_doDictionaryLiteral(MoxValue& out) {
  MoxDictionary* dict = new MoxDictionary(false);
  out = MoxValue(dict);
  for (;;) {
    MoxToken t = _next();
    if (_isChar(t, '}')) return true;
    if (!_require(TOK_STRING, t, 0)) {
      _count();
      return true;
    }
    MoxString key(scanner_->getTokenString());
    if (!_expect(':')) return true;
    MoxValue value;
    if (!_doLiteralElement(_next(), value)) return true;
    (*dict)[key].setValue(value);
    if (!_literalListGoesOn('}', "',' or '}' expected")) return true;
  }
}

// ---------------------------------------------------------------------------
// Preprocessor directives

// directive -> '#' ( 'use' string | 'import' string | 'defvar' ident literal
//                  | 'include' include | 'endsrc' )   (after the '#')
// Directives are free-form: line ends mean nothing to them. False ends the
// source (endsrc, or an include that failed).
bool MoxCompiler::_doPreproc() {
  MoxToken t = _next();
  if (!_require(TOK_IDENT, t, 0)) {
    _count();
    return true;
  }
  std::u16string directive = scanner_->getTokenString();
  if (directive == u"use") {
    t = _next();
    if (!_require(TOK_STRING, t, 0)) {
      _count();
      return true;
    }
    // A machine without modules takes the name and loads nothing.
    if (!vm_.allows(MOX_CAP_MODULES)) {
      _error(moxDisabledText(MOX_CAP_MODULES));
      return true;
    }
    std::u16string name = scanner_->getTokenString();
    const MoxChar* found = mox::searchEnv(u"MOXLIB", name.c_str());
    std::u16string path = found != nullptr ? std::u16string(found) : name;
    if (!vm_.readModule(path.c_str())) _error("library import failed");
    return true;
  }
  if (directive == u"import") {
    t = _next();
    if (!_require(TOK_STRING, t, 0)) {
      _count();
      return true;
    }
    if (!vm_.allows(MOX_CAP_NATIVE_MODULES)) {
      _error(moxDisabledText(MOX_CAP_NATIVE_MODULES));
      return true;
    }
    std::u16string name = scanner_->getTokenString();
    if (!vm_.loadNativeModule(name.c_str())) _error("native module import failed");
    return true;
  }
  if (directive == u"defvar") {
    t = _next();
    if (!_require(TOK_IDENT, t, 0)) {
      _count();
      return true;
    }
    MoxString name(scanner_->getTokenString());
    MoxValue value;
    _doLiteralValue(_next(), value);
    MoxDictionaryEntry& e = symbols_[name];
    e.setSymbolType(SYM_VARIABLE);
    e.setValue(value);
    return true;
  }
  if (directive == u"include") return _doInclude();
  if (directive == u"endsrc") return false;
  _error("undefined preprocessor symbol");
  return true;
}

// include -> string | '<' ( string | part { ( '/' | '.' ) part } ) '>'
// where a part is an identifier, number or keyword. The file is opened as
// named, with no search path, and read in place of the directive. A machine
// without includes takes the name, opens nothing and goes on after it.
bool MoxCompiler::_doInclude() {
  std::u16string name;
  MoxToken t = _next();
  if (t == TOK_STRING) {
    name = scanner_->getTokenString();
  } else if (_isChar(t, '<')) {
    for (;;) {
      t = _next();
      if (t >= TOK_IDENT && t <= TOK_NULL) {
        name += scanner_->getTokenString();
      } else if (t == TOK_STRING && name.empty()) {
        name = scanner_->getTokenString();
      } else if (_isChar(t, '/') || _isChar(t, '.')) {
        name += scanner_->getChar();
      } else {
        break;
      }
    }
    if (!_require(TOK_ANY, t, '>')) {
      _count();
      return false;
    }
  } else {
    _require(TOK_STRING, t, 0);
    _count();
    return true;
  }
  if (name.empty()) {
    _error("include file name expected");
    return false;
  }
  if (!vm_.allows(MOX_CAP_INCLUDE)) {
    _error(moxDisabledText(MOX_CAP_INCLUDE));
    return true;
  }
  if (scanner_->depth() >= MOX_MAX_INCLUDE_DEPTH) {
    _error("include files nested too deeply");
    return false;
  }
  std::string narrow;
  moxUtf8Encode(name.c_str(), name.size(), narrow);
  FILE* f = fopen(narrow.c_str(), "r");
  if (f == nullptr) {
    if (!aborted_) {
      scanner_->parseError(u"file not found");
      (*printer_)(u"%s %s", name.c_str(), scanner_->getTokenString());
    }
    _count();
    return false;
  }
  scanner_->push(f, name.c_str());
  return true;
}
