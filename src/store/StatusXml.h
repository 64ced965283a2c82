#pragma once

#include "store/HostColumns.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace qm {

// The two status documents for a web page: "server.xml" with every host row
// and "message.xml" with the message pane lines. No XML declaration; UTF-8
// without a byte-order mark. Each starts with a document type line that
// declares the Latin-1 entity names, so that strict XML parsers read them.
class StatusXml
{
public:
    struct HostRow
    {
        int image = 0; // health level, the image index
        HostTexts texts;
    };
    struct MessageRow
    {
        int image = 0;
        QString text;
        QString responseTime;
        QString timeStamp;
    };

    static QByteArray ServerDocument(const std::vector<HostRow>& rows);
    static QByteArray MessageDocument(const std::vector<MessageRow>& rows);

    // "&", the double quote, "<" and ">" become entities, "&" first so that
    // the others are not escaped twice; U+00A1..U+00FF become their HTML 4.0
    // Latin-1 names ("&iexcl;".."&yuml;"). Characters XML cannot carry
    // (control characters but tab, line feed and carriage return, U+FFFE,
    // U+FFFF, half surrogate pairs) are left out; the rest stays as it is.
    static QString Escape(const QString& text);
};

} // namespace qm
