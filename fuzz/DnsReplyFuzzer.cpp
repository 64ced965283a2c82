// Feeds arbitrary bytes to the DNS reply reader as if a server had sent them.
// Built with -fsanitize=fuzzer,address,undefined: any read or write outside
// the reply or the name texts stops the run.
#include "tools/DnsMessage.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > qm::kDnsBufferSize)
        return 0;
    // A copy of exactly the received size, so that the sanitizer sees any
    // read past the end.
    std::vector<uint8_t> reply(data, data + size);
    const qm::DnsAnswers answers = qm::FormatDnsAnswers(reply.data(), reply.size());
    if (!answers.problem.empty() && !answers.text.empty())
        std::abort(); // a reply is either read or refused, never half of both
    for (std::size_t at = 0; at < size; at += 7) {
        const qm::DnsName name = qm::ReadDnsName(reply.data(), reply.size(), at);
        if (name.text.size() > qm::kDnsMaxNameText)
            std::abort();
    }
    return 0;
}
