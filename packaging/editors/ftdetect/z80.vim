" Z80 sources for Orvane, in Vim and Neovim: a *.z80 file always; a *.asm
" file (any processor's assembly) only when its first 4 KiB show Z80 code,
" as the MIME type decides: a register or mnemonic only the Z80 has, such as
" (HL), LD A, or DJNZ. Other *.asm files keep their file type.
function! s:OrvaneIsZ80() abort
  let l:text = strpart(join(getline(1, min([line('$'), 400])), "\n"), 0, 4096)
  return l:text =~# '\%((HL)\|(hl)\|(I[XY]+\|(i[xy]+\|(SP),HL\|(sp),hl\|LD[ \t]\%(A\|HL\|DE\|BC\|SP\),'
        \ . '\|ld[ \t]\%(a\|hl\|de\|bc\|sp\),\|DJNZ\|djnz\|LDIR\|ldir\|LDDR\|lddr\|EX[ \t]DE,HL\|ex[ \t]de,hl'
        \ . '\|EX[ \t]AF,AF''\|ex[ \t]af,af''\)'
endfunction
autocmd BufRead,BufNewFile *.z80 set filetype=z80
autocmd BufRead *.asm if s:OrvaneIsZ80() | set filetype=z80 | endif
