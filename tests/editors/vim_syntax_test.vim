" Run by run_editor_tests.sh as
"   vim -es -N -u NONE -i NONE --cmd 'set rtp^=EDITORS_VIM' -S vim_syntax_test.vim -- FILE.mox RESULT [EXAMPLE...]
" FILE.mox is opened for the file-type check; the result file gets "ok" or
" one failure per line, and vim exits non-zero on failure. Each EXAMPLE (a
" mox block of the manual) must highlight without any error group.
let s:failures = []
let s:result = argv(1)
set hidden

syntax on
filetype plugin on

execute 'edit' fnameescape(argv(0))
if &filetype !=# 'mox'
  call add(s:failures, argv(0) . ': filetype is "' . &filetype . '", not mox')
endif
if get(b:, 'current_syntax', '') !=# 'mox'
  call add(s:failures, argv(0) . ': syntax/mox.vim did not load')
endif
if &commentstring !=# '// %s'
  call add(s:failures, argv(0) . ': ftplugin/mox.vim did not set commentstring')
endif

" A script named without .mox is recognised by its first line.
enew
call setline(1, ['#!/usr/bin/env mx2', 'main() { return 0; }'])
filetype detect
if &filetype !=# 'mox'
  call add(s:failures, 'a #!/usr/bin/env mx2 script is not detected as mox')
endif

enew
setfiletype mox
call setline(1, [
      \ '#include <dir/file.mox>',
      \ '#defvar LIMIT 017',
      \ '#bogus',
      \ 'class Rect : Shape { w; static made = 0; Rect(w0); }',
      \ 'Rect::area(a; t) {',
      \ '    if (a) return new Rect(0x1F) -> area() + 1.5e3;',
      \ '    print("q\"\t\0x41 @no", ''A'', ''\65'', ''AB'', "\1.5");',
      \ '    x = null; TRON; // line',
      \ '    y = 2; @ at-sign comment',
      \ '    /* block */ z = 3;',
      \ '}',
      \ '#! hash-bang comment',
      \ '#endsrc rest',
      \ 'main() { return 0; }',
      \ ])
syntax sync fromstart

" Check(line, text, group): the first character of the first `text` on
" `line` has the syntax group `group`.
function! s:Check(lnum, text, group) abort
  let l:col = stridx(getline(a:lnum), a:text) + 1
  if l:col < 1
    call add(s:failures, 'line ' . a:lnum . ': no "' . a:text . '"')
    return
  endif
  let l:name = synIDattr(synID(a:lnum, l:col, 1), 'name')
  if l:name !=# a:group
    call add(s:failures, 'line ' . a:lnum . ': "' . a:text . '" is "' . l:name . '", not ' . a:group)
  endif
endfunction

call s:Check(1, '#include', 'moxInclude')
call s:Check(1, '<dir', 'moxIncludeName')
call s:Check(2, '#defvar', 'moxPreProc')
call s:Check(2, 'LIMIT', 'moxDefvarName')
call s:Check(2, '017', 'moxOctal')
call s:Check(3, '#bogus', 'moxPreProcError')
call s:Check(4, 'class', 'moxStructure')
call s:Check(4, 'Rect', 'moxClassName')
call s:Check(4, 'Shape', 'moxBaseClass')
call s:Check(4, 'static', 'moxStorageClass')
call s:Check(4, '0;', 'moxNumber')
call s:Check(5, 'Rect', 'moxScopeClass')
call s:Check(5, 'area', 'moxMethodName')
call s:Check(6, 'if', 'moxConditional')
call s:Check(6, 'return', 'moxStatement')
call s:Check(6, 'new', 'moxOperatorWord')
call s:Check(6, 'Rect', 'moxNewClass')
call s:Check(6, '0x1F', 'moxHex')
call s:Check(6, 'area', 'moxMessage')
call s:Check(6, '1.5e3', 'moxFloat')
call s:Check(7, 'print', 'moxLibrary')
call s:Check(7, '"q', 'moxString')
call s:Check(7, '\"', 'moxEscape')
call s:Check(7, '\t', 'moxEscape')
call s:Check(7, '\0x41', 'moxEscape')
call s:Check(7, '@no', 'moxString')
call s:Check(7, "'A'", 'moxCharacter')
call s:Check(7, "\\65'", 'moxEscape')
call s:Check(7, "'AB'", 'moxCharError')
call s:Check(7, '\1.5', 'moxEscapeError')
call s:Check(8, 'null', 'moxNull')
call s:Check(8, 'TRON', 'moxTrace')
call s:Check(8, '// line', 'moxLineComment')
call s:Check(9, '@ at-sign', 'moxLineComment')
call s:Check(10, '/* block', 'moxComment')
call s:Check(10, '3', 'moxNumber')
call s:Check(12, '#!', 'moxLineComment')
call s:Check(13, 'rest', 'moxEndsrc')
call s:Check(14, 'main', 'moxEndsrc')

" Further arguments are examples of the manual: none may show an error group.
for s:i in range(2, argc() - 1)
  execute 'edit' fnameescape(argv(s:i))
  setfiletype mox
  syntax sync fromstart
  for s:lnum in range(1, line('$'))
    let s:line = getline(s:lnum)
    for s:col in range(1, strlen(s:line))
      let s:name = synIDattr(synID(s:lnum, s:col, 1), 'name')
      if s:name =~# 'Error$'
        call add(s:failures, argv(s:i) . ':' . s:lnum . ':' . s:col . ': ' . s:name . ' in: ' . s:line)
        break
      endif
    endfor
  endfor
endfor

call writefile(empty(s:failures) ? ['ok'] : s:failures, s:result)
if empty(s:failures)
  qall!
endif
cquit!
