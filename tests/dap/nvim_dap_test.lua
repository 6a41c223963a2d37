-- Reads Orvane's nvim-dap set-up in Neovim with the stand-in for nvim-dap
-- 0.6.0 (nvim_dap_stand_in.lua beside this file): the adapter and the first
-- z80 configuration, and what each of the keys the set-up gives a Z80
-- buffer calls. Writes them as JSON to the file named by $OUT.
local here = vim.fn.fnamemodify(vim.env.TEST_SCRIPT, ':h')
local calls = dofile(here .. '/nvim_dap_stand_in.lua')
local result = {}
local okay, err = pcall(function()
  vim.cmd('filetype on')
  vim.cmd('source ' .. vim.env.ORVANE_EDITORS .. '/ftdetect/z80.vim')
  dofile(vim.env.ORVANE_EDITORS .. '/neovim/orvane-dap.lua')
  local dap = require('dap')
  result.adapter = dap.adapters.orvane
  result.config = dap.configurations.z80[1]
  vim.cmd('edit ' .. vim.env.SOURCE)
  result.filetype = vim.bo.filetype
  vim.fn.input = function() return 'B == 1' end  -- what the user types at the prompt
  result.keys = {}
  for _, key in ipairs({ '<F5>', '<F10>', '<F11>', '<S-F11>', '<S-F10>', '<S-F5>', '<F6>', '<F9>', '\\B', '\\dr' }) do
    local before = #calls
    vim.api.nvim_feedkeys(vim.api.nvim_replace_termcodes(key, true, false, true), 'x', false)
    local called = {}
    for i = before + 1, #calls do
      table.insert(called, calls[i].name .. (calls[i].args[1] and ('(' .. tostring(calls[i].args[1]) .. ')') or ''))
    end
    table.insert(result.keys, key .. ' ' .. (#called > 0 and table.concat(called, ', ') or 'nothing'))
  end
end)
result.error = not okay and tostring(err) or nil
vim.fn.writefile({ vim.fn.json_encode(result) }, vim.env.OUT)
vim.cmd('qa!')
