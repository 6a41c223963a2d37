-- Drives orvane-lsp through Neovim's own LSP client, with the set-up files
-- Orvane installs: opens a file with mistakes, waits for the diagnostics,
-- asks hover, definition, references and rename, edits a line and waits for
-- the new diagnostics. Everything seen is written to $EDITOR_TEST_OUT, one fact
-- a line, for comparison with a golden file.
local editors = vim.env.ORVANE_EDITORS
local out = {}
local function say(s) table.insert(out, s) end
local function finish(code)
  local f = io.open(vim.env.EDITOR_TEST_OUT, 'w')
  f:write(table.concat(out, '\n') .. '\n')
  f:close()
  vim.cmd((code == 0) and 'qa!' or 'cq!')
end

vim.g.orvane_lsp_cmd = { vim.env.ORVANE_LSP }
vim.cmd('filetype on')
vim.cmd('source ' .. editors .. '/ftdetect/z80.vim')
dofile(editors .. '/neovim/orvane.lua')

-- The file type by name and content: *.z80 always, *.asm when it shows Z80
-- code in its first 4 KiB.
local dir = vim.fn.fnamemodify(vim.env.EDITOR_TEST_FILE, ':h')
for _, row in ipairs({
  { 'any.z80', '  mov ax,bx\n' },
  { 'hello.asm', '; CP/M\n        ORG 256\n        LD DE,MSG\n' },
  { 'lower.asm', 'start:\tld\ta,1\n' },
  { 'index.asm', '  LD B,(IX+5)\n' },
  { 'swap.asm', "  EX AF,AF'\n" },
  { 'late.asm', string.rep('; comment line\n', 300) .. '  DJNZ L\n' },
  { 'nasm.asm', 'section .text\nglobal _start\n_start: mov eax, 1\n  int 0x80\n' },
  { 'arm.asm', '  ldr r0, =msg\n  bl printf\n' },
}) do
  local f = io.open(dir .. '/' .. row[1], 'w')
  f:write(row[2])
  f:close()
  vim.cmd('edit ' .. dir .. '/' .. row[1])
  say('filetype of ' .. row[1] .. ': ' .. vim.bo.filetype)
  vim.cmd('bwipeout')
end

vim.cmd('edit ' .. vim.env.EDITOR_TEST_FILE)
local buf = vim.api.nvim_get_current_buf()
say('filetype ' .. vim.bo[buf].filetype)

local function diagnostics(label)
  local list = vim.diagnostic.get(buf)
  table.sort(list, function(a, b) return a.lnum < b.lnum or (a.lnum == b.lnum and a.col < b.col) end)
  say(label .. ': ' .. #list)
  for _, d in ipairs(list) do
    local severity = d.severity == vim.diagnostic.severity.ERROR and 'error' or 'warning'
    local code = d.code and (' [' .. d.code .. ']') or ''
    say(string.format('  %d:%d-%d:%d %s%s: %s', d.lnum + 1, d.col + 1, d.end_lnum + 1, d.end_col + 1, severity, code,
                      (d.message:gsub('\n', ' / '))))
  end
end

-- A bound far above the usual time: only a server that never answers fails here.
if not vim.wait(60000, function() return #vim.diagnostic.get(buf) > 0 end, 20) then
  say('no diagnostics')
  return finish(1)
end
diagnostics('diagnostics')

local client = vim.lsp.get_active_clients()[1]
say('client ' .. client.name)

-- The keys are the Z80 buffer's own, not global.
for _, lhs in ipairs({ 'K', 'gd', 'gr', '<Leader>rn' }) do
  local m = vim.fn.maparg(lhs, 'n', false, true)
  say('map ' .. lhs .. ': ' .. (m.buffer == 1 and 'buffer' or 'none') .. ', global ' ..
      (#vim.tbl_filter(function(g) return g.lhs == vim.fn.maparg(lhs, 'n', false, true).lhs end,
                       vim.api.nvim_get_keymap('n')) > 0 and 'yes' or 'no'))
end
say('omnifunc ' .. vim.bo[buf].omnifunc)
local function at(line, col)
  return { textDocument = { uri = vim.uri_from_bufnr(buf) }, position = { line = line - 1, character = col - 1 } }
end
local function ask(method, params)
  local r = client.request_sync(method, params, 60000, buf)
  if r == nil then return nil, 'no answer' end
  if r.err then return nil, r.err.message end
  return r.result
end
local function where(loc)
  return string.format('%d:%d-%d:%d', loc.range.start.line + 1, loc.range.start.character + 1,
                       loc.range['end'].line + 1, loc.range['end'].character + 1)
end

for _, q in ipairs({ { 9, 13, 'symbol START' }, { 3, 16, 'statement' }, { 3, 9, 'mnemonic LD' },
                     { 7, 15, 'symbol COUNT' } }) do
  local r, err = ask('textDocument/hover', at(q[1], q[2]))
  say('hover ' .. q[3] .. ': ' .. (r and r.contents.value or ('refused: ' .. err)))
end

local def = ask('textDocument/definition', at(9, 13))
say('definition of START: ' .. where(def))

local refs = ask('textDocument/references', vim.tbl_extend('force', at(3, 2), { context = { includeDeclaration = true } }))
local places = {}
for _, r in ipairs(refs) do table.insert(places, where(r)) end
say('references of START: ' .. table.concat(places, ' '))

local _, refused = ask('textDocument/prepareRename', at(3, 12))
say('rename the register A: ' .. tostring(refused))
local _, refused2 = ask('textDocument/rename', vim.tbl_extend('force', at(3, 2), { newName = 'IXSTART' }))
say('rename START to IXSTART: ' .. tostring(refused2))
local edit = ask('textDocument/rename', vim.tbl_extend('force', at(3, 2), { newName = 'Begin' }))
vim.lsp.util.apply_workspace_edit(edit, client.offset_encoding)
say('after rename to Begin:')
for _, l in ipairs(vim.api.nvim_buf_get_lines(buf, 0, -1, false)) do say('  |' .. l) end

-- Mend two mistakes; Neovim sends the edits as incremental changes.
local seen = #vim.diagnostic.get(buf)
vim.api.nvim_buf_set_lines(buf, 3, 4, false, { '        LD B,1' })
vim.api.nvim_buf_set_text(buf, 4, 13, 4, 20, { 'Begin' })
if not vim.wait(60000, function() return #vim.diagnostic.get(buf) < seen - 1 end, 20) then
  diagnostics('diagnostics after the edits never came')
  return finish(1)
end
diagnostics('diagnostics after the edits')

-- Neovim 0.8 and later start the server through vim.lsp.start(config, opts),
-- which 0.7 lacks. Where it is missing, a stand-in with its documented
-- contract (a running client of that name and root_dir is reused, else one is
-- started; the buffer opts.bufnr is attached) takes the set-up file's other
-- path on this Neovim too.
local real_start, starts = vim.lsp.start, 0
vim.lsp.start = function(config, opts)
  starts = starts + 1
  if real_start ~= nil then return real_start(config, opts) end
  local id
  for _, c in ipairs(vim.lsp.get_active_clients()) do
    if c.name == config.name and c.config.root_dir == config.root_dir then id = c.id end
  end
  id = id or vim.lsp.start_client(config)
  vim.lsp.buf_attach_client(opts.bufnr, id)
  return id
end
local second = io.open(dir .. '/second.z80', 'w')
second:write('        LD A,300\n        END\n')
second:close()
vim.cmd('edit ' .. dir .. '/second.z80')
local buf2 = vim.api.nvim_get_current_buf()
vim.wait(60000, function() return #vim.diagnostic.get(buf2) > 0 end, 20)
say(string.format('second buffer through vim.lsp.start (%d call): %d diagnostic, K %s, %d client', starts,
                  #vim.diagnostic.get(buf2), vim.fn.maparg('K', 'n', false, true).buffer == 1 and 'in the buffer' or 'missing',
                  #vim.lsp.get_active_clients()))
vim.lsp.start = real_start

vim.lsp.stop_client(client.id)
vim.wait(10000, function() return vim.lsp.get_client_by_id(client.id) == nil end, 20)
say('stopped')
finish(0)
