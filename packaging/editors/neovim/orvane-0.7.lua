-- orvane-lsp in Neovim 0.7 (Debian 12's), which has vim.lsp.start_client but
-- not vim.lsp.start: one server for every Z80 source. Copy this file to
-- ~/.config/nvim/plugin/orvane.lua and ftdetect/z80.vim to
-- ~/.config/nvim/ftdetect/z80.vim.
--
-- Settings: format is "hex" or "cpm" (the object format orvane-asm would
-- write, which two warnings depend on); warnings lists warning names as -W
-- takes them ("no-truncation", "none", "all").
local client_id = nil
vim.api.nvim_create_autocmd('FileType', {
  pattern = 'z80',
  callback = function(args)
    if client_id == nil or vim.lsp.get_client_by_id(client_id) == nil then
      client_id = vim.lsp.start_client({
        name = 'orvane-lsp',
        cmd = vim.g.orvane_lsp_cmd or { 'orvane-lsp' },
        root_dir = vim.fn.fnamemodify(vim.api.nvim_buf_get_name(args.buf), ':p:h'),
        init_options = vim.g.orvane_lsp_settings or { format = 'hex', warnings = { 'all' } },
      })
    end
    if client_id ~= nil then
      vim.lsp.buf_attach_client(args.buf, client_id)
    end
  end,
})
