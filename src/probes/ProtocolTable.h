#pragma once

#include <span>
#include <string_view>

namespace qm {

struct ProtocolInfo
{
    std::string_view name; // upper case, compared exactly
    int defaultPort;       // the service's usual port, proposed when the protocol is chosen
    bool offered;          // listed for the operator to choose in the host wizard
};

// Every protocol an entry can name, in dispatch order.
std::span<const ProtocolInfo> ProtocolTable();
// Exact, case-sensitive lookup; nullptr when the name is not in the table.
const ProtocolInfo* FindProtocol(std::string_view name);

} // namespace qm
