#include "tools/DnsMessage.h"

#include <cstdio>

namespace qm {

namespace {

// Compression pointers followed or labels read before a name counts as looping.
constexpr int kMaxNameSteps = 2048;

uint16_t ReadBe16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

std::string Decimal(std::size_t value)
{
    return std::to_string(value);
}

std::string NameProblem(const DnsName& name, const std::string& where)
{
    switch (name.error) {
    case DnsName::OutOfBounds: return "the name in " + where + " runs past the end of the reply";
    case DnsName::TooLong: return "the name in " + where + " is longer than 255 characters";
    case DnsName::PointerLoop: return "the compression pointers of the name in " + where + " form a loop";
    case DnsName::None: break;
    }
    return {};
}

// The question name as plain labels (a query carries no compression), and the
// number of bytes it takes including its final zero byte.
bool ReadQuestionName(const uint8_t* reply, std::size_t length, std::string& name, std::size_t& bytes,
                      std::string& problem)
{
    std::size_t pos = kDnsHeaderSize;
    name.clear();
    for (;;) {
        if (pos >= length) {
            problem = "the question name runs past the end of the reply";
            return false;
        }
        const uint8_t c = reply[pos];
        if (c == 0)
            break;
        if (c & 0xC0) {
            problem = "the question name is compressed";
            return false;
        }
        if (pos + 1 + c > length) {
            problem = "the question name runs past the end of the reply";
            return false;
        }
        // Each label is followed by a dot; the last dot is dropped below.
        if (name.size() + c + 1 > kDnsMaxNameText + 1) {
            problem = "the question name is longer than 255 characters";
            return false;
        }
        name.append(reinterpret_cast<const char*>(reply + pos + 1), c);
        name.push_back('.');
        pos += 1 + c;
    }
    if (!name.empty())
        name.pop_back();
    bytes = pos - kDnsHeaderSize + 1;
    return true;
}

// Steps over the owner name of a record: labels up to a zero byte, or up to a
// compression pointer, which ends the name. This reads uncompressed owners as
// well as the usual pointer to the question.
bool SkipOwnerName(const uint8_t* reply, std::size_t length, std::size_t& pos)
{
    for (;;) {
        if (pos >= length)
            return false;
        const uint8_t c = reply[pos];
        if (c == 0) {
            pos += 1;
            return true;
        }
        if (c & 0xC0) {
            pos += 2;
            return pos <= length;
        }
        pos += 1 + static_cast<std::size_t>(c);
    }
}

} // namespace

int EncodeDnsName(std::string_view name, uint8_t* out, std::size_t capacity)
{
    // n characters become n + 2 bytes: a length byte for the first label takes
    // the place of no dot, every dot becomes the next label's length byte, and
    // a zero byte ends the name.
    if (capacity < name.size() + 2)
        return -1;
    std::size_t lengthPos = 0;
    uint8_t count = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '.') {
            out[lengthPos] = count;
            lengthPos = i + 1;
            count = 0;
        } else {
            out[i + 1] = static_cast<uint8_t>(name[i]);
            ++count;
        }
    }
    out[lengthPos] = count;
    out[name.size() + 1] = 0;
    return static_cast<int>(name.size() + 1);
}

DnsName ReadDnsName(const uint8_t* reply, std::size_t length, std::size_t position)
{
    DnsName name;
    std::size_t pos = position;
    for (int steps = 0;; ++steps) {
        if (pos >= length) {
            name.error = DnsName::OutOfBounds;
            return name;
        }
        const uint8_t c = reply[pos];
        if (c == 0)
            return name;
        if (steps >= kMaxNameSteps) {
            name.error = DnsName::PointerLoop;
            return name;
        }
        if (c & 0xC0) {
            if (pos + 1 >= length) {
                name.error = DnsName::OutOfBounds;
                return name;
            }
            pos = (static_cast<std::size_t>(c & 0x3F) << 8) | reply[pos + 1];
            continue;
        }
        const std::size_t next = pos + 1 + c;
        if (next > length) {
            name.error = DnsName::OutOfBounds;
            return name;
        }
        // A dot follows when more of the name comes (a pointer counts as more).
        const bool more = next < length && reply[next] != 0;
        if (name.text.size() + c + (more ? 1 : 0) > kDnsMaxNameText) {
            name.error = DnsName::TooLong;
            return name;
        }
        name.text.append(reinterpret_cast<const char*>(reply + pos + 1), c);
        if (more)
            name.text.push_back('.');
        pos = next;
    }
}

int DnsAnswerCount(const uint8_t* reply, std::size_t length)
{
    return length >= kDnsHeaderSize ? ReadBe16(reply + 6) : 0;
}

std::string DnsReplyCause(const uint8_t* reply, std::size_t length)
{
    if (length < kDnsHeaderSize)
        return {};
    switch (const int rcode = reply[3] & 0x0F) {
    case 0: return DnsAnswerCount(reply, length) == 0 ? "no data" : "";
    case 2: return "SERVFAIL";
    case 3: return "NXDOMAIN: no such name";
    case 5: return "REFUSED";
    default: {
        std::string text = "RCODE ";
        text += Decimal(static_cast<std::size_t>(rcode));
        return text;
    }
    }
}

namespace {

DnsAnswers ReadAnswers(const uint8_t* reply, std::size_t length)
{
    DnsAnswers out;
    if (length < kDnsHeaderSize) {
        out.problem = "the reply has " + Decimal(length) + " bytes, fewer than a DNS header";
        return out;
    }
    const std::size_t answers = ReadBe16(reply + 6);
    const std::size_t total = answers + ReadBe16(reply + 8) + ReadBe16(reply + 10);

    std::string question;
    std::size_t questionBytes = 0;
    if (!ReadQuestionName(reply, length, question, questionBytes, out.problem))
        return out;
    if (answers == 0) {
        out.text = "\n  No answer RRs for " + question + "\n";
        return out;
    }

    std::size_t pos = kDnsHeaderSize + questionBytes + 4;
    for (std::size_t i = 0; i < total; ++i) {
        const std::string where = "record " + Decimal(i + 1) + " of " + Decimal(total);
        if (!SkipOwnerName(reply, length, pos) || pos + 10 > length) {
            out.problem = where + " runs past the end of the " + Decimal(length) + "-byte reply";
            return out;
        }
        const int type = ReadBe16(reply + pos);
        const std::size_t dataLength = ReadBe16(reply + pos + 8);
        const std::size_t data = pos + 10;
        if (data + dataLength > length) {
            out.problem = where + " runs past the end of the " + Decimal(length) + "-byte reply";
            return out;
        }
        switch (type) {
        case kDnsTypeA: {
            if (dataLength < 4) {
                out.problem = where + " is an address record of " + Decimal(dataLength) + " bytes";
                return out;
            }
            char text[32];
            std::snprintf(text, sizeof(text), "RR IP [%u.%u.%u.%u]", reply[data], reply[data + 1],
                          reply[data + 2], reply[data + 3]);
            out.text += text;
            break;
        }
        case kDnsTypeNs:
        case kDnsTypePtr: {
            const DnsName name = ReadDnsName(reply, length, data);
            if (name.error != DnsName::None) {
                out.problem = NameProblem(name, where);
                return out;
            }
            if (type == kDnsTypeNs)
                out.text += name.text + " has NS authority over " + question;
            else
                out.text += question + " is a pointer to " + name.text;
            break;
        }
        case kDnsTypeMx: {
            if (dataLength < 3) {
                out.problem = where + " is a mail exchanger record of " + Decimal(dataLength) + " bytes";
                return out;
            }
            const DnsName name = ReadDnsName(reply, length, data + 2);
            if (name.error != DnsName::None) {
                out.problem = NameProblem(name, where);
                return out;
            }
            out.text += name.text + " (priority=" + std::to_string(ReadBe16(reply + data))
                      + ") does mail for " + question;
            break;
        }
        default:
            // Any other type replaces everything gathered so far.
            out.text = "Type " + std::to_string(type) + " not implemented yet.";
            return out;
        }
        pos = data + dataLength;
    }
    return out;
}

} // namespace

DnsAnswers FormatDnsAnswers(const uint8_t* reply, std::size_t length)
{
    DnsAnswers out = ReadAnswers(reply, length);
    // A reply that cannot be read gives no partial text.
    if (!out.problem.empty())
        out.text.clear();
    return out;
}

} // namespace qm
