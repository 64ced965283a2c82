#pragma once

#include <string>

namespace qm {

// The operator-facing sentence for a Winsock error number; "Undefined" for
// numbers outside the table.
std::string SocketErrorText(int code);

} // namespace qm
