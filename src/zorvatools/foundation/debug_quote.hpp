#pragma once

#include <string>
#include <string_view>

namespace zorvatools {

// A string as it appears in a debug form: in double quotes, with quotes, backslashes and
// control characters escaped.
std::string debug_quote(std::string_view text);

}  // namespace zorvatools
