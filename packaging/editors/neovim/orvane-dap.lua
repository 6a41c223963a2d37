-- orvane-dap in Neovim with the nvim-dap plugin (not part of Neovim; install
-- it first). Copy this file to ~/.config/nvim/plugin/orvane-dap.lua; Z80
-- sources get the filetype z80 from ftdetect/z80.vim.
--
-- :lua require('dap').continue() starts a session on the current file;
-- :lua require('dap').toggle_breakpoint() sets a breakpoint (a condition such
-- as "B == 1" with set_breakpoint(condition)). In the REPL
-- (:lua require('dap').repl.open()), a line starting with '>' is typed to
-- the program; any other line is evaluated (a register, a symbol, (X)).
local ok, dap = pcall(require, 'dap')
if not ok then
  return
end

dap.adapters.orvane = {
  type = 'executable',
  command = vim.g.orvane_dap_cmd or 'orvane-dap',
  args = {},
}

dap.configurations.z80 = {
  {
    type = 'orvane',
    request = 'launch',
    name = 'Debug the Z80 program',
    program = '${file}',       -- the .z80 source, assembled as a CP/M image
    cwd = '${fileDirname}',    -- drive A:
    args = {},                 -- command tail and FCBs
    stopOnEntry = true,
    maxTstates = 0,            -- 0: no limit
    -- input = 'input.txt',    -- console input from a file
  },
}
