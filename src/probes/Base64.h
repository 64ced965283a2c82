#pragma once

#include <string>
#include <string_view>

namespace qm {

// Standard alphabet, "=" padding, no line breaks.
std::string Base64Encode(std::string_view data);
// Decodes standard Base64; characters outside the alphabet are skipped and
// decoding stops at the first "=".
std::string Base64Decode(std::string_view text);

} // namespace qm
