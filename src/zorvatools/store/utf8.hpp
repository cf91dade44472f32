#pragma once
// UTF-8 well-formedness as JSON readers apply it: no overlong forms, no surrogates, nothing
// above U+10FFFF.

#include <string>
#include <string_view>

namespace zorvatools::store {

bool is_valid_utf8(std::string_view text);

// `text` with every byte that does not start a well-formed sequence replaced by U+FFFD, so that
// messages quoting untrusted bytes stay valid text.
std::string utf8_lossy(std::string_view text);

}  // namespace zorvatools::store
