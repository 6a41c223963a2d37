" Z80 sources for Orvane: *.z80 and *.asm are filetype z80.
autocmd BufRead,BufNewFile *.z80,*.asm set filetype=z80
