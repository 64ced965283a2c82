#pragma once

#include <string>

namespace qm {

// What a web server's answer to the HEAD request means.
struct HttpVerdict
{
    bool answered = false; // false: nothing was received, and nothing is reported
    bool ok = false;       // status 200
    std::string message;   // "<status line> [<server>]" when ok, else the status line
};

// The HEAD request for the root path, with Basic credentials when the
// password is set; the host text goes into the Host header as entered.
std::string HttpHeadRequest(const std::string& host, const std::string& userId,
                            const std::string& password);

// Judges a whole response, already trimmed at both ends.
HttpVerdict JudgeHttpResponse(const std::string& response);

} // namespace qm
