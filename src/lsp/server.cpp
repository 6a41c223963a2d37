#include "lsp/server.h"

#include <malloc.h>

#include <algorithm>

#include "front/diagnostics.h"
#include "front/statement.h"
#include "lsp/format.h"

namespace orvane::lsp {

using jsonrpc::EnvelopeError;
using jsonrpc::ErrorResponse;
using jsonrpc::Frame;
using jsonrpc::Incoming;
using jsonrpc::Notification;
using jsonrpc::ParsedMessage;
using jsonrpc::ParseMessage;
using jsonrpc::ResultResponse;
namespace rpc = jsonrpc::rpc;

namespace {

std::string IdKey(const json& id) { return id.dump(); }

Position PositionOf(const json& params) {
  const json& p = params.at("position");
  return {p.at("line").get<int64_t>(), p.at("character").get<int64_t>()};
}

// Whether replacing the text between two positions by `text` changes only
// the comment of one line: the line splits into the same label, mnemonic and
// operands at the same columns before and after, and its comment, if any,
// starts with ';' both times. The assembler reads nothing else of a comment,
// so such an edit changes no statement, symbol or message.
bool OnlyComment(const Document& d, const Position& from, const Position& to, std::string_view text) {
  if (text.find_first_of("\r\n") != std::string_view::npos) return false;
  size_t b = d.Offset(from), e = d.Offset(to);
  if (e < b) std::swap(b, e);
  const int64_t line = d.PositionAt(b).line;
  if (d.PositionAt(e).line != line) return false;
  const std::string_view old = d.Line(line);
  const size_t start = d.LineStart(line);
  std::string now(old);
  now.replace(b - start, e - b, text);
  std::string bufferOld, bufferNow;
  StatementFields f, g;
  const std::string_view po = PrepLine(old, bufferOld), pn = PrepLine(now, bufferNow);
  Parse(po, f);
  Parse(pn, g);
  auto same = [&](std::string_view x, std::string_view y) {
    return x == y && (x.empty() || x.data() - po.data() == y.data() - pn.data());
  };
  auto comment = [](const std::string& c) { return c.empty() || c[0] == ';'; };
  return same(f.LabelFld, g.LabelFld) && same(f.OpcodeFld, g.OpcodeFld) && same(f.Operand1Fld, g.Operand1Fld) &&
         same(f.Operand2Fld, g.Operand2Fld) && comment(f.CommentFld) && comment(g.CommentFld);
}

// The line an edit stays within, or -1 when it may join or split lines (or
// reach past the text).
int64_t EditedLine(const Document& d, const Position& from, const Position& to, std::string_view text) {
  if (text.find_first_of("\r\n") != std::string_view::npos) return -1;
  size_t b = d.Offset(from), e = d.Offset(to);
  if (e < b) std::swap(b, e);
  const int64_t line = d.PositionAt(b).line;
  if (d.PositionAt(e).line != line) return -1;
  return line;
}

bool KnownWarning(std::string_view name) {
  return std::find(std::begin(warn::kAll), std::end(warn::kAll), name) != std::end(warn::kAll);
}

}  // namespace

Server::Server(Send send) : send_(std::move(send)) {}

void Server::Log(int type, const std::string& text) {
  send_(Notification("window/logMessage", {{"type", type}, {"message", "orvane-lsp: " + text}}));
}

void Server::HandleFrames(std::vector<Frame> frames, Clock::time_point now) {
  std::vector<ParsedMessage> parsed;
  std::set<std::string> cancelled;
  for (Frame& f : frames) {
    if (!f.ok()) {
      parsed.push_back({std::nullopt, EnvelopeError{nullptr, 0, f.error}});
      continue;
    }
    parsed.push_back(ParseMessage(f.body));
    std::string().swap(f.body);  // a long document is held once, in its message
    const auto& m = parsed.back().message;
    if (m && m->kind == Incoming::kNotification && m->method == "$/cancelRequest" && m->params.is_object()) {
      if (const auto id = m->params.find("id"); id != m->params.end()) cancelled.insert(IdKey(*id));
    }
  }
  for (ParsedMessage& p : parsed) {
    if (exited_) return;
    if (p.error) {
      // A header that cannot be read has no id to answer to: it is logged.
      if (p.error->code == 0) {
        Log(1, "unreadable message header: " + p.error->message);
      } else {
        send_(ErrorResponse(p.error->id, p.error->code, p.error->message));
      }
      continue;
    }
    Handle(*p.message, cancelled, now);
  }
}

void Server::Handle(Incoming& in, const std::set<std::string>& cancelled, Clock::time_point now) {
  if (in.kind == Incoming::kResponse) return;  // the server asks nothing
  if (in.kind == Incoming::kNotification) {
    HandleNotification(in, now);
    return;
  }
  if (cancelled.count(IdKey(in.id)) != 0) {
    send_(ErrorResponse(in.id, rpc::kRequestCancelled, "cancelled"));
    return;
  }
  if (!initialized_ && in.method != "initialize") {
    send_(ErrorResponse(in.id, rpc::kServerNotInitialized, "the server is not initialized"));
    return;
  }
  if (shutdown_) {
    send_(ErrorResponse(in.id, rpc::kInvalidRequest, "the server is shut down"));
    return;
  }
  try {
    send_(ResultResponse(in.id, HandleRequest(in.method, in.params)));
  } catch (const RequestError& e) {
    send_(ErrorResponse(in.id, e.code, e.message));
  } catch (const json::exception& e) {
    send_(ErrorResponse(in.id, rpc::kInvalidParams, std::string("invalid params: ") + e.what()));
  }
}

void Server::HandleNotification(Incoming& in, Clock::time_point now) {
  const std::string& m = in.method;
  if (m == "exit") {
    exited_ = true;
    return;
  }
  if (!initialized_ || shutdown_) return;
  json& params = in.params;
  try {
    if (m == "textDocument/didOpen") {
      json& td = params.at("textDocument");
      const std::string uri = td.at("uri").get<std::string>();
      auto open = std::make_unique<Open>();
      // The text moves out of the message rather than being copied.
      open->o.doc = lsp::Document(uri, td.at("version").get<int64_t>(),
                                  std::move(td.at("text").get_ref<std::string&>()));
      Open& doc = *(docs_[uri] = std::move(open));
      Assemble(doc);
      Publish(doc);
    } else if (m == "textDocument/didChange") {
      Open& doc = Document(params);
      for (const json& change : params.at("contentChanges")) {
        const std::string& text = change.at("text").get_ref<const std::string&>();
        if (const auto range = change.find("range"); range != change.end() && !range->is_null()) {
          const json& s = range->at("start");
          const json& e = range->at("end");
          const Position from{s.at("line").get<int64_t>(), s.at("character").get<int64_t>()};
          const Position to{e.at("line").get<int64_t>(), e.at("character").get<int64_t>()};
          if (!OnlyComment(doc.o.doc, from, to, text)) {
            doc.stale = true;
            if (const int64_t line = EditedLine(doc.o.doc, from, to, text); line >= 0) {
              doc.edited.push_back(line);
            } else {
              doc.whole = true;
            }
          }
          doc.o.doc.Replace(from, to, text);
        } else {
          doc.o.doc.ReplaceAll(text);
          doc.stale = true;
          doc.whole = true;
        }
      }
      if (const auto v = params.at("textDocument").find("version"); v != params.at("textDocument").end() &&
                                                                      v->is_number_integer()) {
        doc.o.doc.SetVersion(v->get<int64_t>());
      }
      // Changes that come faster than the debounce are assembled together;
      // those that come while an assembly runs are read together after it.
      doc.dirty = true;
      doc.due = now + debounce_;
    } else if (m == "textDocument/didClose") {
      const std::string uri = params.at("textDocument").at("uri").get<std::string>();
      if (docs_.erase(uri) != 0) {
        send_(Notification("textDocument/publishDiagnostics", {{"uri", uri}, {"diagnostics", json::array()}}));
      }
    } else if (m == "workspace/didChangeConfiguration") {
      const AssembleOptions before = options_;
      const json& settings = params.at("settings");
      ApplySettings(settings.is_object() && settings.contains("orvane") ? settings["orvane"] : settings);
      if (!(options_ == before)) {
        for (auto& [uri, doc] : docs_) {
          doc->stale = true;
          doc->whole = true;
          Assemble(*doc);
          Publish(*doc);
        }
      }
    }
    // Other notifications ($/cancelRequest, initialized, didSave, $/setTrace
    // and any unknown one) need nothing.
  } catch (const RequestError& e) {
    Log(2, m + ": " + e.message);
  } catch (const json::exception& e) {
    Log(2, m + ": invalid params: " + e.what());
  }
}

Server::Open& Server::Document(const json& params) {
  const std::string uri = params.at("textDocument").at("uri").get<std::string>();
  const auto it = docs_.find(uri);
  if (it == docs_.end()) throw RequestError{rpc::kInvalidParams, "unknown document " + uri};
  return *it->second;
}

void Server::Assemble(Open& doc) {
  // The old result goes first: a long document's two results would not both
  // be wanted at once.
  doc.dirty = false;
  // Typing in a comment changes nothing the assembler reads: the last
  // result stands, and only the version published is new.
  if (!doc.stale) return;
  doc.stale = false;
  // Edits within lines: each line again, with what it reaches; where that
  // is unclear, the whole text.
  std::vector<int64_t> edited = std::move(doc.edited);
  doc.edited.clear();
  const bool whole = doc.whole || !doc.incremental.Ready();
  doc.whole = false;
  if (!whole) {
    std::sort(edited.begin(), edited.end());
    edited.erase(std::unique(edited.begin(), edited.end()), edited.end());
    bool done = true;
    for (const int64_t line : edited) {
      if (!doc.incremental.Edit(doc.o.doc, line, doc.o.assembled)) {
        done = false;
        break;
      }
    }
    if (done) return;
  }
  doc.incremental.Drop();
  doc.o.assembled = AssembledDocument{};
  doc.o.assembled = doc.incremental.Full(doc.o.doc.Text(), options_);
  if (doc.o.doc.Text().size() > (size_t{1} << 22)) malloc_trim(0);  // give a long run's memory back
}

void Server::Publish(Open& doc) {
  send_(Notification("textDocument/publishDiagnostics",
                     {{"uri", doc.o.doc.Uri()},
                      {"version", doc.o.doc.Version()},
                      {"diagnostics", DiagnosticsJson(doc.o.doc, doc.o.assembled, relatedInformation_)}}));
}

void Server::FlushChanged() {
  for (auto& [uri, doc] : docs_) {
    if (!doc->dirty) continue;
    Assemble(*doc);
    Publish(*doc);
  }
}

void Server::Tick(Clock::time_point now) {
  if (exited_) return;
  for (auto& [uri, doc] : docs_) {
    if (!doc->dirty || doc->due > now) continue;
    Assemble(*doc);
    Publish(*doc);
  }
}

std::optional<Server::Clock::time_point> Server::NextDeadline() const {
  std::optional<Clock::time_point> next;
  for (const auto& [uri, doc] : docs_) {
    if (doc->dirty && (!next || doc->due < *next)) next = doc->due;
  }
  return next;
}

void Server::ApplySettings(const json& s) {
  if (!s.is_object()) return;
  if (const auto h = s.find("inlayHints"); h != s.end()) {
    if (h->is_boolean())
      inlayHints_ = h->get<bool>();
    else
      Log(2, "inlayHints must be true or false; it stays " + std::string(inlayHints_ ? "true" : "false"));
  }
  if (const auto f = s.find("format"); f != s.end()) {
    if (*f == "cpm") {
      options_.cpm = true;
    } else if (*f == "hex") {
      options_.cpm = false;
    } else {
      Log(2, "format must be \"hex\" or \"cpm\"; it stays " + std::string(options_.cpm ? "cpm" : "hex"));
    }
  }
  if (const auto w = s.find("warnings"); w != s.end()) {
    // As orvane-asm's options: NAME or -WNAME turns a warning on, no-NAME
    // or -Wno-NAME off, "none" (or -w) all off, "all" (or -Wall) all on.
    std::set<std::string, std::less<>> disabled;
    const json list = w->is_array() ? *w : json::array({*w});
    for (const json& item : list) {
      if (!item.is_string()) continue;
      std::string name = item.get<std::string>();
      if (name == "none" || name == "-w") {
        for (std::string_view k : warn::kAll) disabled.emplace(k);
        continue;
      }
      if (name == "all" || name == "-Wall") {
        disabled.clear();
        continue;
      }
      if (name.rfind("-W", 0) == 0) name = name.substr(2);
      const bool off = name.rfind("no-", 0) == 0;
      if (off) name = name.substr(3);
      if (!KnownWarning(name)) {
        Log(2, "unknown warning " + name);
        continue;
      }
      if (off) disabled.insert(name); else disabled.erase(name);
    }
    options_.disabledWarnings = std::move(disabled);
  }
  if (const auto d = s.find("debounce"); d != s.end() && d->is_number_integer()) {
    debounce_ = std::chrono::milliseconds(std::clamp<int64_t>(d->get<int64_t>(), 0, 5000));
  }
}

json Server::Initialize(const json& params) {
  if (initialized_) throw RequestError{rpc::kInvalidRequest, "initialize was sent twice"};
  if (params.is_object()) {
    if (const auto o = params.find("initializationOptions"); o != params.end()) ApplySettings(*o);
    const json caps = params.value("capabilities", json::object());
    if (caps.is_object()) {
      const json pd = caps.value("/textDocument/publishDiagnostics"_json_pointer, json::object());
      relatedInformation_ = pd.is_object() && pd.value("relatedInformation", false) == true;
    }
  }
  initialized_ = true;
  return {{"capabilities",
           {{"positionEncoding", "utf-16"},
            {"textDocumentSync", {{"openClose", true}, {"change", 2}}},
            {"hoverProvider", true},
            {"definitionProvider", true},
            {"referencesProvider", true},
            {"documentHighlightProvider", true},
            {"renameProvider", {{"prepareProvider", true}}},
            {"documentSymbolProvider", true},
            {"workspaceSymbolProvider", true},
            {"completionProvider", {{"triggerCharacters", json::array({",", "("})}}},
            {"semanticTokensProvider", {{"legend", SemanticTokensLegend()}, {"full", true}}},
            {"documentFormattingProvider", true},
            {"inlayHintProvider", true}}},
          {"serverInfo", {{"name", "orvane-lsp"}, {"version", ORVANE_VERSION}}}};
}

json Server::HandleRequest(const std::string& method, const json& params) {
  if (method == "initialize") return Initialize(params);
  if (method == "shutdown") {
    shutdown_ = true;
    return nullptr;
  }
  // Answers are about the text as it is now: changes still waiting are
  // assembled first.
  FlushChanged();
  if (method == "workspace/symbol") {
    std::vector<const OpenDocument*> docs;
    for (const auto& [uri, doc] : docs_) docs.push_back(&doc->o);
    return WorkspaceSymbols(docs, params.value("query", ""));
  }
  static const std::set<std::string> kDocumentMethods = {
      "textDocument/hover",          "textDocument/definition",     "textDocument/references",
      "textDocument/documentHighlight", "textDocument/prepareRename", "textDocument/rename",
      "textDocument/documentSymbol", "textDocument/completion",     "textDocument/semanticTokens/full",
      "textDocument/formatting",     "textDocument/inlayHint"};
  if (kDocumentMethods.count(method) == 0) throw RequestError{rpc::kMethodNotFound, "unknown method " + method};
  const OpenDocument& o = Document(params).o;
  if (method == "textDocument/hover") return Hover(o, PositionOf(params));
  if (method == "textDocument/inlayHint") {
    // Off unless the setting asks: an editor that shows them all the time
    // would crowd every line.
    if (!inlayHints_) return json::array();
    return InlayHints(o, params.at("/range/start/line"_json_pointer).get<int64_t>(),
                      params.at("/range/end/line"_json_pointer).get<int64_t>());
  }
  if (method == "textDocument/definition") return Definition(o, PositionOf(params));
  if (method == "textDocument/references") {
    const bool decl = params.value("/context/includeDeclaration"_json_pointer, false);
    return References(o, PositionOf(params), decl);
  }
  if (method == "textDocument/documentHighlight") return Highlights(o, PositionOf(params));
  if (method == "textDocument/prepareRename" || method == "textDocument/rename") {
    const Answer a = method == "textDocument/rename"
                         ? Rename(o, PositionOf(params), params.at("newName").get<std::string>(), options_)
                         : PrepareRename(o, PositionOf(params));
    if (!a.refusal.empty()) throw RequestError{rpc::kRequestFailed, a.refusal};
    return a.result;
  }
  if (method == "textDocument/documentSymbol") return DocumentSymbols(o);
  if (method == "textDocument/completion") return Completion(o, PositionOf(params));
  if (method == "textDocument/semanticTokens/full") return SemanticTokens(o);
  // textDocument/formatting
  json edits = json::array();
  for (const LineEdit& e : FormatDocument(o.doc.Text(), options_)) {
    const std::string_view line = o.doc.Line(e.line);
    edits.push_back({{"range", RangeJson(o.doc, {e.line, 0, static_cast<uint32_t>(line.size())})}, {"newText", e.text}});
  }
  return edits;
}

}  // namespace orvane::lsp
