#include "front/statement.h"

namespace orvane {

bool Parse(std::string_view line, StatementFields& f, bool copyComment) { return ParseInline(line, f, copyComment); }

}  // namespace orvane
