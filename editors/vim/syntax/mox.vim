" Vim syntax file
" Language:   mox
" Filenames:  *.mox, and scripts whose first line runs mx2 (#!/usr/bin/env mx2)

if exists("b:current_syntax")
  finish
endif

let s:cpo_save = &cpo
set cpo&vim

syn case match

" Operators first: comments that start with the same character win.
syn match moxOperator "[-+*/%=<>!&|^~?:]"
syn match moxOperator "->\|::\|=>"

syn keyword moxConditional if else
syn keyword moxRepeat while do for
syn keyword moxStatement break continue return
syn keyword moxOperatorWord new delete
syn keyword moxNull null nil
syn keyword moxTrace TRON TROFF TRSTEP
syn keyword moxStorageClass static
syn keyword moxThis this
syn keyword moxStream stdin stdout stderr

" class Name : Base
syn keyword moxStructure class nextgroup=moxClassName skipwhite skipnl
syn match moxClassName contained "\h\w*" nextgroup=moxInherit skipwhite skipnl
syn match moxInherit contained ":" nextgroup=moxBaseClass skipwhite skipnl
syn match moxBaseClass contained "\h\w*"

" Class::method( and Class::name; top-level definitions start in column 0.
syn match moxScopeClass "\h\w*\ze\s*::"
syn match moxMethodName "\%(::\s*\~\=\s*\)\@<=\h\w*\ze\s*("
syn match moxFunction "^\h\w*\ze\s*("
syn match moxMessage "\%(->\s*\)\@<=\h\w*\ze\s*("
syn match moxNewClass "\%(\<new\s\+\)\@<=\h\w*"

" Standard library functions, when called.
syn match moxLibrary "\<\%(CBuf\|CallLibFunc\|FreeLibrary\|GetProcAddress\|LoadLibrary\|
      \T\|Vec\|abs\|addr\|arg\|argcnt\|atan\|atan2\|buffer\|ceil\|
      \clock\|compile\|cos\|ctime\|dictclear\|dictcontains\|
      \dicterase\|dictgetkeys\|dictgetvalues\|double\|dynamic_cast\|
      \exit\|exp\|fclose\|feof\|fgets\|fgetws\|fileexists\|float\|
      \floor\|fmod\|fopen\|format\|fputs\|fputws\|fread\|freadval\|
      \fwrite\|fwriteval\|getargs\|getc\|getclassname\|getenv\|gets\|
      \gettype\|gettypename\|getusrargs\|getwc\|hypot\|int\|isnan\|
      \jsondecode\|jsonencode\|listdir\|loadmodule\|localtime\|log\|
      \max\|min\|newbuffer\|newcbuffer\|newdict\|newstring\|
      \newvector\|pcall\|pi\|pow\|print\|putc\|putwc\|rand\|randint\|
      \readfile\|readlines\|removefile\|renamefile\|round\|setenv\|
      \sin\|size\|sqrt\|srand\|strcmp\|strends\|strerase\|strfind\|
      \strftime\|stricmp\|string\|strinsert\|strjoin\|strlen\|
      \strlower\|strrepeat\|strreplace\|strsplit\|strsplitall\|
      \strstarts\|strtrim\|strupper\|substr\|tan\|time\|timer\|
      \trunc\|vecconcat\|vecfind\|vecinsert\|vecpop\|vecpush\|
      \vecremove\|vecreverse\|vecsize\|vecslice\|vecsort\|writefile\)\>\ze\s*("

" Numbers: decimal, octal (leading 0), hexadecimal (0x), floating.
syn match moxNumber "\<\d\+"
syn match moxOctal "\<0\d\+"
syn match moxHex "\<0[xX]\x*"
syn match moxFloat "\<\d\+\%(\.\d*\%([eE][-+]\=\d*\)\=\|[eE][-+]\=\d*\)"

" Escapes: \n \t \r \a \b \f \v, any other character for itself, and a
" number literal (\65, \0101, \0x41); a number that turns floating is an error.
syn match moxEscape contained "\\\%(\d*0[xX]\x*\|\d\+\|.\|$\)"
syn match moxEscapeError contained "\\\d\+[.eE]"
syn region moxString start=+"+ skip=+\\\\\|\\"+ end=+"+ contains=moxEscape,moxEscapeError,@Spell

" A character literal is exactly one (possibly escaped) character.
syn match moxCharError "'\%([^'\\]\|\\.\)*'\="
syn match moxCharacter "'\%(\\\%(\d*0[xX]\x*\|\d\+\|.\)\|[^\\']\)'" contains=moxEscape

" Directives.
syn match moxPreProcError "#\s*\h\w*"
syn match moxPreProc "#\s*\%(use\|import\)\>"
syn match moxInclude "#\s*include\>\%(\s*<[^>]*>\)\=" contains=moxIncludeName
syn match moxIncludeName contained "<[^>]*>"
syn match moxPreProc "#\s*defvar\>" nextgroup=moxDefvarName skipwhite skipnl
syn match moxDefvarName contained "\h\w*"

" Comments: // and #! and @ to the end of the line, /* */ not nested.
syn keyword moxTodo contained TODO FIXME XXX NOTE
syn region moxComment start="/\*" end="\*/" contains=moxTodo,@Spell
syn match moxLineComment "//.*$" contains=moxTodo,@Spell
syn match moxLineComment "#!.*$" contains=moxTodo,@Spell
syn match moxLineComment "@.*$" contains=moxTodo,@Spell

" Nothing after #endsrc is compiled, not even the rest of its line.
syn region moxEndsrc matchgroup=moxPreProc start="#\s*endsrc\>" end="\%$" contains=moxTodo

syn sync fromstart

hi def link moxOperator      Operator
hi def link moxConditional   Conditional
hi def link moxRepeat        Repeat
hi def link moxStatement     Statement
hi def link moxOperatorWord  Statement
hi def link moxNull          Constant
hi def link moxTrace         Debug
hi def link moxStorageClass  StorageClass
hi def link moxThis          Identifier
hi def link moxStream        Constant
hi def link moxStructure     Structure
hi def link moxClassName     Type
hi def link moxInherit       Operator
hi def link moxBaseClass     Type
hi def link moxScopeClass    Type
hi def link moxNewClass      Type
hi def link moxMethodName    Function
hi def link moxFunction      Function
hi def link moxMessage       Function
hi def link moxLibrary       Function
hi def link moxNumber        Number
hi def link moxOctal         Number
hi def link moxHex           Number
hi def link moxFloat         Float
hi def link moxEscape        SpecialChar
hi def link moxEscapeError   Error
hi def link moxString        String
hi def link moxCharError     Error
hi def link moxCharacter     Character
hi def link moxPreProcError  Error
hi def link moxPreProc       PreProc
hi def link moxInclude       Include
hi def link moxIncludeName   String
hi def link moxDefvarName    Identifier
hi def link moxTodo          Todo
hi def link moxComment       Comment
hi def link moxLineComment   Comment
hi def link moxEndsrc        Comment

let b:current_syntax = "mox"

let &cpo = s:cpo_save
unlet s:cpo_save
