#include "store/StatusXml.h"

#include <array>
#include <string_view>

namespace qm {

namespace {

// HTML 4.0 entity names of U+00A1..U+00FF.
constexpr std::array<std::string_view, 0xFF - 0xA1 + 1> kLatin1Entities{
    "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",
    "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",
    "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",
    "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",
    "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute",
    "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",
    "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave",
    "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",    "ntilde",
    "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave", "uacute",
    "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

struct Element
{
    const char* tag;
    HostColumn column;
};

constexpr std::array<Element, 15> kHostElements{{
    {"host", ColHost},
    {"address", ColAddress},
    {"nickname", ColNickname},
    {"protocol", ColProtocol},
    {"port", ColPort},
    {"status", ColThreadStatus},
    {"frequency", ColFreq},
    {"responsetime", ColResponseTime},
    {"message", ColMessage},
    {"polls", ColPolls},
    {"failures", ColFailures},
    {"percentfail", ColPercFailure},
    {"userid", ColUserId},
    {"floatstatus", ColFloatStat},
    {"enable", ColEnabled},
}};

// Declares every entity name Escape() writes, so that any XML parser reads
// the documents: "<!DOCTYPE ROOT [<!ENTITY iexcl "&#161;"> ...]>" on one line.
QString DoctypeLine(const char* root)
{
    QString line = QStringLiteral("<!DOCTYPE %1 [").arg(QLatin1String(root));
    for (std::size_t i = 0; i < kLatin1Entities.size(); ++i) {
        const std::string_view name = kLatin1Entities[i];
        if (i > 0)
            line += QLatin1Char(' ');
        line += QStringLiteral("<!ENTITY %1 \"&#%2;\">")
                    .arg(QLatin1String(name.data(), static_cast<qsizetype>(name.size())))
                    .arg(0xA1 + i);
    }
    return line + QStringLiteral("]>\n");
}

// Characters XML 1.0 allows: tab, line feed, carriage return, U+0020 up,
// except U+FFFE and U+FFFF (surrogates are judged in pairs by the caller).
bool XmlAllows(char16_t u)
{
    return u == u'\t' || u == u'\n' || u == u'\r' || (u >= 0x20 && u != 0xFFFE && u != 0xFFFF);
}

QString ImageLine(int image)
{
    return QString::asprintf("\t    <image>images/Error_%.02d.gif</image>\n", image);
}

void AppendElement(QString& out, const char* tag, const QString& text)
{
    out += QLatin1String("\t\t<") + QLatin1String(tag) + QLatin1Char('>') +
           StatusXml::Escape(text) + QLatin1String("</") + QLatin1String(tag) +
           QLatin1String(">\n");
}

} // namespace

QString StatusXml::Escape(const QString& text)
{
    // One pass gives the same text as the successive replacements: no
    // replacement produces a character that a later one would replace.
    QString out;
    out.reserve(text.size() + text.size() / 4);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        if (c.isSurrogate()) {
            // A pair stays whole; half of one is no character at all.
            if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                out += c;
                out += text[++i];
            }
        } else if (!XmlAllows(u))
            continue;
        else if (u == u'&')
            out += QLatin1String("&amp;");
        else if (u == u'"')
            out += QLatin1String("&quot;");
        else if (u == u'<')
            out += QLatin1String("&lt;");
        else if (u == u'>')
            out += QLatin1String("&gt;");
        else if (u >= 0xA1 && u <= 0xFF) {
            const std::string_view name = kLatin1Entities[u - 0xA1];
            out += QLatin1Char('&') +
                   QLatin1String(name.data(), static_cast<qsizetype>(name.size())) +
                   QLatin1Char(';');
        } else
            out += c;
    }
    return out;
}

QByteArray StatusXml::ServerDocument(const std::vector<HostRow>& rows)
{
    QString out = DoctypeLine("sessions") + QStringLiteral("<sessions>\n");
    for (const HostRow& row : rows) {
        out += QLatin1String("\t<session>\n");
        out += ImageLine(row.image);
        for (const Element& e : kHostElements)
            AppendElement(out, e.tag, row.texts[e.column]);
        out += QLatin1String("\t</session>\n");
    }
    out += QLatin1String("</sessions>\n");
    return out.toUtf8();
}

QByteArray StatusXml::MessageDocument(const std::vector<MessageRow>& rows)
{
    QString out = DoctypeLine("messages") + QStringLiteral("<messages>\n");
    for (const MessageRow& row : rows) {
        out += QLatin1String("\t<message>\n");
        out += ImageLine(row.image);
        AppendElement(out, "text", row.text);
        AppendElement(out, "responsetime", row.responseTime);
        AppendElement(out, "timedate", row.timeStamp);
        out += QLatin1String("\t</message>\n");
    }
    out += QLatin1String("</messages>\n");
    return out.toUtf8();
}

} // namespace qm
