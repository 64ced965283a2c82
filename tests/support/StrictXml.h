#pragma once

#include <QByteArray>
#include <QStringList>

#include <string>

namespace qm::test {

// The texts of every `tag` element of the document as a strict XML parser
// (Python's, on expat) reads them, entities resolved. When the parser refuses
// the document, one text that starts "not well-formed: " and says why.
QStringList StrictXmlTexts(const QByteArray& document, const std::string& tag);

} // namespace qm::test
