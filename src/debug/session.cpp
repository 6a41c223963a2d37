// The debug session. (Run control is filled in next; this first version
// loads the program and answers every call at the entry.)
#include "debug/session.h"

namespace orvane::debug {

std::string Value::Text() const { return std::to_string(value); }

struct Session::Impl {
  std::string path;
  ProgramMap program;
  Stop last;
};

Session::Session() : impl_(std::make_unique<Impl>()) {}
Session::~Session() = default;

std::unique_ptr<Session> Session::Create(const LaunchOptions& options, std::vector<std::string>& errors) {
  return Create(options, ProgramMap(), errors);
}
std::unique_ptr<Session> Session::Create(const LaunchOptions& options, ProgramMap program,
                                         std::vector<std::string>& /*errors*/) {
  std::unique_ptr<Session> s(new Session());
  s->impl_->path = options.path;
  s->impl_->program = std::move(program);
  return s;
}

const ProgramMap& Session::program() const { return impl_->program; }
const std::string& Session::path() const { return impl_->path; }
Stop Session::StepInto() { return impl_->last; }
Stop Session::StepOver() { return impl_->last; }
Stop Session::StepOut() { return impl_->last; }
Stop Session::Continue() { return impl_->last; }
Stop Session::RunTo(uint16_t) { return impl_->last; }
Stop Session::RunToLine(int) { return impl_->last; }
Stop Session::StepBack() { return impl_->last; }
Stop Session::ReverseContinue() { return impl_->last; }
Stop Session::Restart() { return impl_->last; }
Stop Session::Terminate() { return impl_->last; }
void Session::Pause() {}
bool Session::Ended() const { return false; }
const Stop& Session::LastStop() const { return impl_->last; }
int Session::AddBreakpoint(uint16_t, std::string_view, int, std::string&) { return 0; }
int Session::AddBreakpointAtLine(int, std::string_view, int, std::string&) { return 0; }
bool Session::RemoveBreakpoint(int) { return false; }
void Session::ClearBreakpoints() {}
std::vector<Breakpoint> Session::Breakpoints() const { return {}; }
bool Session::CheckCondition(std::string_view, std::string&) const { return false; }
int Session::AddDataBreakpoint(uint16_t, uint16_t, std::string) { return 0; }
bool Session::RemoveDataBreakpoint(int) { return false; }
void Session::ClearDataBreakpoints() {}
std::vector<DataBreakpoint> Session::DataBreakpoints() const { return {}; }
const std::vector<std::string>& Session::RegisterNames() {
  static const std::vector<std::string> names;
  return names;
}
std::optional<Value> Session::Register(std::string_view) const { return std::nullopt; }
bool Session::SetRegister(std::string_view, uint32_t) { return false; }
uint64_t Session::Tstates() const { return 0; }
uint64_t Session::TstatesSinceStop() const { return 0; }
uint64_t Session::Instructions() const { return 0; }
uint8_t Session::ReadByte(uint16_t) const { return 0; }
std::vector<uint8_t> Session::ReadMemory(uint16_t, size_t count) const { return std::vector<uint8_t>(count); }
void Session::WriteMemory(uint16_t, const std::vector<uint8_t>&) {}
std::vector<Frame> Session::CallStack() const { return {}; }
Instruction Session::Disassemble(uint16_t address) const { return {address, {}, {}, 0}; }
std::optional<Value> Session::Evaluate(std::string_view, std::string&) const { return std::nullopt; }
uint64_t Session::HistoryDepth() const { return 0; }

}  // namespace orvane::debug
