-- A stand-in for nvim-dap 0.6.0, the release Debian 12's Neovim 0.7.2 runs,
-- following its documented API (:help dap-adapter, dap-configuration,
-- dap-api): the tables adapters and configurations, and the functions a
-- set-up may call, each of which records its call and arguments. Any other
-- name is an error, so a set-up that uses what the release does not have
-- fails here as it would there.
local calls = {}
local function recorder(name)
  return function(...)
    table.insert(calls, { name = name, args = { ... } })
  end
end
local documented = {
  adapters = {},
  configurations = {},
  defaults = { fallback = {} },
  listeners = { before = {}, after = {} },
  repl = { open = recorder('repl.open'), toggle = recorder('repl.toggle'), close = recorder('repl.close') },
}
for _, name in ipairs({ 'continue', 'run', 'run_last', 'launch', 'terminate', 'disconnect', 'close', 'attach',
                        'set_breakpoint', 'toggle_breakpoint', 'list_breakpoints', 'clear_breakpoints',
                        'set_exception_breakpoints', 'step_over', 'step_into', 'step_out', 'step_back', 'pause',
                        'reverse_continue', 'up', 'down', 'goto_', 'run_to_cursor', 'set_log_level', 'session',
                        'status' }) do
  documented[name] = recorder(name)
end
local function strict(t, path)
  return setmetatable(t, {
    __index = function(_, key)
      error('nvim-dap 0.6.0 has no ' .. path .. tostring(key), 2)
    end,
  })
end
strict(documented.repl, 'dap.repl.')
strict(documented, 'dap.')
package.preload['dap'] = function() return documented end
return calls
