#include "support/StrictXml.h"

#include "support/Command.h"
#include "support/ServerProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

namespace qm::test {

QStringList StrictXmlTexts(const QByteArray& document, const std::string& tag)
{
    QTemporaryDir dir;
    const std::string xml = dir.filePath("document.xml").toStdString();
    const std::string script = dir.filePath("read.py").toStdString();
    WriteFile(xml, document.toStdString());
    WriteFile(script, "import json, sys, xml.etree.ElementTree as ET\n"
                      "print(json.dumps([e.text or '' for e in ET.parse(sys.argv[1]).iter(sys.argv[2])]))\n");
    const CommandResult read = RunCommand("/usr/bin/python3 " + script + " " + xml + " " + tag, 30);
    if (read.status != 0)
        return {QString::fromStdString("not well-formed: " + read.output)};
    QStringList texts;
    for (const auto& text : QJsonDocument::fromJson(QByteArray::fromStdString(read.output)).array())
        texts << text.toString();
    return texts;
}

} // namespace qm::test
