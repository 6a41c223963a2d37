-- orvane-lsp in Neovim 0.7 and later: every Z80 source gets the Orvane
-- language server. Copy this file to ~/.config/nvim/plugin/orvane.lua and
-- ../ftdetect/z80.vim to ~/.config/nvim/ftdetect/z80.vim.
--
-- A server that is not on PATH: before this file runs (in init.lua),
--   vim.g.orvane_lsp_cmd = { '/home/me/orvane/build/src/orvane-lsp' }
-- Settings: format is "hex" or "cpm" (the object format orvane-asm would
-- write, which two warnings depend on); warnings lists warning names as -W
-- takes them ("no-truncation", "none", "all"):
--   vim.g.orvane_lsp_settings = { format = 'cpm', warnings = { 'all' } }
--
-- In a Z80 buffer (and only there): K hover, gd definition, gr references,
-- <leader>rn rename, and completion with CTRL-X CTRL-O.

-- The keys, in the buffer the server attached to.
local function on_attach(_, buf)
  local function map(lhs, rhs)
    vim.keymap.set('n', lhs, rhs, { buffer = buf, silent = true })
  end
  map('K', vim.lsp.buf.hover)
  map('gd', vim.lsp.buf.definition)
  map('gr', vim.lsp.buf.references)
  map('<leader>rn', vim.lsp.buf.rename)
  vim.bo[buf].omnifunc = 'v:lua.vim.lsp.omnifunc'
end

local function config(buf)
  return {
    name = 'orvane-lsp',
    cmd = vim.g.orvane_lsp_cmd or { 'orvane-lsp' },
    root_dir = vim.fn.fnamemodify(vim.api.nvim_buf_get_name(buf), ':p:h'),
    -- inlayHints: each instruction's T-states at the end of its line, where
    -- Neovim asks for them (0.10 and later, after vim.lsp.inlay_hint.enable()).
    init_options = vim.g.orvane_lsp_settings or { format = 'hex', warnings = { 'all' }, inlayHints = true },
    on_attach = on_attach,
  }
end

-- Neovim 0.7 has no vim.lsp.start: one client is started by hand and every
-- Z80 buffer attached to it.
local client_id = nil
vim.api.nvim_create_autocmd('FileType', {
  pattern = 'z80',
  callback = function(args)
    if vim.lsp.start ~= nil then
      vim.lsp.start(config(args.buf), { bufnr = args.buf })
      return
    end
    if client_id == nil or vim.lsp.get_client_by_id(client_id) == nil then
      client_id = vim.lsp.start_client(config(args.buf))
    end
    if client_id ~= nil then
      vim.lsp.buf_attach_client(args.buf, client_id)
    end
  end,
})
