-- orvane-dap in Neovim with the nvim-dap plugin (not part of Neovim; install
-- it first). Debian 12's Neovim 0.7.2 needs nvim-dap 0.6.0 (later releases
-- need a newer Neovim and fail with E6100: "log" is not a valid stdpath):
-- pin the plugin to its tag 0.6.0 (packer: use { 'mfussenegger/nvim-dap',
-- tag = '0.6.0' }; or git clone --branch 0.6.0 into
-- ~/.local/share/nvim/site/pack/plugins/start/nvim-dap).
-- Copy this file to ~/.config/nvim/plugin/orvane-dap.lua; Z80 sources get
-- the filetype z80 from ftdetect/z80.vim.
--
-- In a Z80 buffer the keys are the debugger window's (unless
-- vim.g.orvane_dap_no_keys is set): F5 continue (starts a session on the
-- file), F10 step over, F11 step into, Shift-F11 step out, Shift-F10 step
-- back, Shift-F5 reverse continue, F6 pause, F9 breakpoint, <leader>B a
-- breakpoint with a condition such as "B == 1", <leader>dr the REPL. In the
-- REPL a line starting with '>' is typed to the program (the program waits
-- for it at the end of its input); any other line is evaluated (a register,
-- a symbol, (X)).
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
    waitForInput = true,       -- the REPL is the program's keyboard
    maxTstates = 0,            -- 0: no limit
    -- input = 'input.txt',    -- console input from a file (then set waitForInput = false)
  },
}

local keys = {
  { '<F5>', function() dap.continue() end, 'continue' },
  { '<F10>', function() dap.step_over() end, 'step over' },
  { '<F11>', function() dap.step_into() end, 'step into' },
  { '<S-F11>', function() dap.step_out() end, 'step out' },
  { '<S-F10>', function() dap.step_back() end, 'step back' },
  { '<S-F5>', function() dap.reverse_continue() end, 'reverse continue' },
  { '<F6>', function() dap.pause() end, 'pause' },
  { '<F9>', function() dap.toggle_breakpoint() end, 'breakpoint' },
  { '<leader>B', function() dap.set_breakpoint(vim.fn.input('Condition (e.g. B == 1): ')) end, 'breakpoint if' },
  { '<leader>dr', function() dap.repl.open() end, 'REPL' },
}

vim.api.nvim_create_autocmd('FileType', {
  pattern = 'z80',
  group = vim.api.nvim_create_augroup('orvane_dap', { clear = true }),
  callback = function(args)
    if vim.g.orvane_dap_no_keys then
      return
    end
    for _, k in ipairs(keys) do
      vim.keymap.set('n', k[1], k[2], { buffer = args.buf, silent = true, desc = 'orvane-dap: ' .. k[3] })
    end
  end,
})
