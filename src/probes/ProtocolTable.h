#pragma once

#include <span>
#include <string_view>

namespace qm {

struct ProtocolInfo
{
    std::string_view name; // upper case, compared exactly
    int defaultPort;       // 0 where none is offered
    bool offered;          // listed for the operator to choose
};

// Every protocol an entry can name, in dispatch order.
std::span<const ProtocolInfo> ProtocolTable();
// Exact, case-sensitive lookup; nullptr when the name is not in the table.
const ProtocolInfo* FindProtocol(std::string_view name);

} // namespace qm
