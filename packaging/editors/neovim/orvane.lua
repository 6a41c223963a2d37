-- orvane-lsp in Neovim 0.8 and later: every Z80 source gets the Orvane
-- language server. Copy this file to ~/.config/nvim/plugin/orvane.lua and
-- ftdetect/z80.vim to ~/.config/nvim/ftdetect/z80.vim.
--
-- Settings: format is "hex" or "cpm" (the object format orvane-asm would
-- write, which two warnings depend on); warnings lists warning names as -W
-- takes them ("no-truncation", "none", "all").
vim.api.nvim_create_autocmd('FileType', {
  pattern = 'z80',
  callback = function(args)
    vim.lsp.start({
      name = 'orvane-lsp',
      cmd = vim.g.orvane_lsp_cmd or { 'orvane-lsp' },
      root_dir = vim.fs.dirname(vim.api.nvim_buf_get_name(args.buf)),
      init_options = vim.g.orvane_lsp_settings or { format = 'hex', warnings = { 'all' } },
    }, { bufnr = args.buf })
  end,
})
