" orvane-lsp in Vim 8.2 and later through ALE (Debian: vim-ale): every Z80
" source gets the Orvane language server. Copy this file to
" ~/.vim/plugin/orvane.vim and ../ftdetect/z80.vim to ~/.vim/ftdetect/z80.vim.
"
" A server that is not on PATH: in ~/.vimrc,
"   let g:orvane_lsp_executable = '/home/me/orvane/build/src/orvane-lsp'
" Settings: format is "hex" or "cpm" (the object format orvane-asm would
" write, which two warnings depend on); warnings lists warning names as -W
" takes them ("no-truncation", "none", "all"):
"   let g:orvane_lsp_settings = {'format': 'cpm', 'warnings': ['all']}
"
" In a Z80 buffer (and only there): K hover, gd definition, gr references,
" <leader>rn rename, and completion with CTRL-X CTRL-O.

" Debian installs ALE as an optional package.
if !exists('g:loaded_ale')
  silent! packadd ale
endif
if !exists('*ale#linter#Define') && globpath(&runtimepath, 'autoload/ale/linter.vim') ==# ''
  finish
endif

call ale#linter#Define('z80', {
\   'name': 'orvane-lsp',
\   'lsp': 'stdio',
\   'executable': {buffer -> get(g:, 'orvane_lsp_executable', 'orvane-lsp')},
\   'command': '%e',
\   'project_root': {buffer -> fnamemodify(bufname(buffer), ':p:h')},
\   'initialization_options': {buffer -> get(g:, 'orvane_lsp_settings', {'format': 'hex', 'warnings': ['all']})},
\})

function! s:OrvaneBuffer() abort
  setlocal omnifunc=ale#completion#OmniFunc
  nnoremap <buffer> <silent> K :ALEHover<CR>
  nnoremap <buffer> <silent> gd :ALEGoToDefinition<CR>
  nnoremap <buffer> <silent> gr :ALEFindReferences<CR>
  nnoremap <buffer> <silent> <leader>rn :ALERename<CR>
endfunction

augroup orvane_lsp
  autocmd!
  autocmd FileType z80 call s:OrvaneBuffer()
augroup END
