" Drives orvane-lsp through Vim's ALE with the set-up files Orvane installs:
" opens a file with mistakes, waits for ALE's list of problems, asks hover
" (into the preview window) and goes to a definition. Everything seen is
" written to $EDITOR_TEST_OUT, one fact a line, for comparison with a golden file.
set nocompatible
let s:out = []
function! s:Finish(code) abort
  call writefile(s:out, $EDITOR_TEST_OUT)
  execute a:code == 0 ? 'qa!' : 'cq!'
endfunction
" A bound far above the usual time: only a server that never answers fails here.
function! s:Wait(Condition) abort
  for i in range(3000)
    if a:Condition()
      return 1
    endif
    sleep 20m
  endfor
  return 0
endfunction

let g:orvane_lsp_executable = $ORVANE_LSP
let g:ale_hover_to_preview = 1
let g:ale_echo_cursor = 0
filetype on
execute 'source ' . $ORVANE_EDITORS . '/ftdetect/z80.vim'
execute 'source ' . $ORVANE_EDITORS . '/vim/orvane.vim'

execute 'edit ' . $EDITOR_TEST_FILE
let s:buf = bufnr('')
call add(s:out, 'filetype ' . &filetype)
call add(s:out, 'linters ' . join(map(copy(ale#linter#Get('z80')), 'v:val.name'), ' '))
call add(s:out, 'omnifunc ' . &l:omnifunc . ', K ' . maparg('K', 'n', 0, 1).buffer . ', gd ' . maparg('gd', 'n', 0, 1).buffer)
ALELint
if !s:Wait({-> len(ale#engine#GetLoclist(s:buf)) > 0})
  call add(s:out, 'no diagnostics')
  call s:Finish(1)
endif
call add(s:out, 'diagnostics: ' . len(ale#engine#GetLoclist(s:buf)))
for s:d in ale#engine#GetLoclist(s:buf)
  call add(s:out, printf('  %d:%d %s%s: %s', s:d.lnum, s:d.col, s:d.type,
        \ has_key(s:d, 'code') ? ' [' . s:d.code . ']' : '', substitute(s:d.text, '\n', ' / ', 'g')))
endfor

" Hover on START in JP START (line 9): ALE puts the answer in the preview window.
call cursor(9, 13)
ALEHover
if !s:Wait({-> !empty(filter(range(1, winnr('$')), 'getwinvar(v:val, "&previewwindow")'))})
  call add(s:out, 'no hover')
  call s:Finish(1)
endif
for s:w in range(1, winnr('$'))
  if getwinvar(s:w, '&previewwindow')
    call add(s:out, 'hover START: ' . join(getbufline(winbufnr(s:w), 1, '$'), ' / '))
  endif
endfor
pclose

" gd on START in JP START goes to its label on line 3.
call cursor(9, 13)
normal gd
call s:Wait({-> line('.') != 9})
call add(s:out, 'definition of START: ' . line('.') . ':' . col('.'))
call s:Finish(0)
