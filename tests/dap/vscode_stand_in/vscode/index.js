// A stand-in for VS Code's vscode module: it keeps what the extension
// registers, for vscode_resolve.js to call.
const r = {};
module.exports = {
  _r: r,
  debug: {
    registerDebugAdapterDescriptorFactory(t, f) { r.factory = f; return {}; },
    registerDebugConfigurationProvider(t, p) { r.provider = p; return {}; },
  },
  workspace: { getConfiguration() { return { get() { return undefined; } }; } },
  DebugAdapterExecutable: class { constructor(c, a) { this.command = c; this.args = a; } },
};
