// node vscode_resolve.js EXTENSION CONFIG (with NODE_PATH at vscode_stand_in):
// the launch configuration CONFIG as VS Code hands it to the adapter, through
// the extension's configuration provider, and the adapter's command, as JSON.
const v = require('vscode');
const e = require(process.argv[2]);
e.activate({ subscriptions: [] });
let c = JSON.parse(process.argv[3]);
if (v._r.provider && v._r.provider.resolveDebugConfiguration) c = v._r.provider.resolveDebugConfiguration(undefined, c);
console.log(JSON.stringify({ config: c, command: v._r.factory.createDebugAdapterDescriptor().command }));
