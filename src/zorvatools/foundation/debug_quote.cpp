#include "zorvatools/foundation/debug_quote.hpp"

#include "zorvatools/text/json_writer.hpp"

namespace zorvatools {

// The debug form quotes strings as JSON does: one escaping rule for the whole system.
std::string debug_quote(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  append_json_string(out, text);
  return out;
}

}  // namespace zorvatools
