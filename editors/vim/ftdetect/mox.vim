" mox sources, and scripts run through mx2 (#!/usr/bin/env mx2).
autocmd BufNewFile,BufRead *.mox setfiletype mox
autocmd BufNewFile,BufRead * if getline(1) =~# '^#!.*\<mx2\>' | setfiletype mox | endif
