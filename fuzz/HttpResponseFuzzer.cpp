// Feeds arbitrary bytes to the HTTP probe's judgement of a server's reply,
// as if the server had sent them before closing.
#include "probes/ProbeSocket.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static qm::DiscardingSink sink;
    static qm::ProbeSocket probe(sink);
    probe.EvaluateHttpResponse(std::string(reinterpret_cast<const char*>(data), size), 12);
    return 0;
}
