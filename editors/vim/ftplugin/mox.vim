" Comment leaders and C-style indenting for mox sources.
if exists("b:did_ftplugin")
  finish
endif
let b:did_ftplugin = 1

setlocal commentstring=//\ %s
setlocal comments=sO:*\ -,mO:*\ \ ,exO:*/,s1:/*,mb:*,ex:*/,://,:@
setlocal cindent cinoptions=j1,J1
setlocal suffixesadd=.mox

let b:undo_ftplugin = "setlocal commentstring< comments< cindent< cinoptions< suffixesadd<"
