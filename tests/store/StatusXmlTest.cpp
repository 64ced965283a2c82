// Byte-exact status documents, their escaping, and a strict XML parser
// reading them.

#include "store/StatusXml.h"
#include "support/StrictXml.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

// The document after its first line, which must declare the entities for `root`.
QByteArray Body(const QByteArray& document, const char* root)
{
    const qsizetype end = document.indexOf('\n');
    const QByteArray doctype = document.left(end + 1);
    EXPECT_TRUE(doctype.startsWith(QByteArray("<!DOCTYPE ") + root + " [<!ENTITY iexcl \"&#161;\"> "))
        << doctype.left(80).toStdString();
    EXPECT_TRUE(doctype.endsWith(" <!ENTITY yuml \"&#255;\">]>\n")) << doctype.right(80).toStdString();
    return document.mid(end + 1);
}

TEST(StatusXmlTest, ServerDocumentByteForByte)
{
    HostTexts first;
    for (const auto& [column, text] : std::initializer_list<std::pair<HostColumn, QString>>{
             {ColHost, "a&b.example"}, {ColAddress, "192.0.2.1"}, {ColNickname, "<Tom & \"Jerry\">"},
             {ColProtocol, "HTTP"}, {ColPort, "80"}, {ColThreadStatus, "Sleeping..."},
             {ColFreq, "60 sec"}, {ColResponseTime, "<10 msec"},
             {ColMessage, QString::fromUtf8("caf\u00e9 \u00ff &eacute; it's")}, {ColPolls, "4"},
             {ColFailures, "1"}, {ColPercFailure, "25.00%"}, {ColPassword, "c2VjcmV0"},
             {ColFloatStat, "0"}, {ColEnabled, "1"}, {ColNotifyMailAddress, "ops@example.org"}})
        first[column] = text;

    QByteArray expected = "<sessions>\n"
                          "\t<session>\n"
                          "\t    <image>images/Error_03.gif</image>\n"
                          "\t\t<host>a&amp;b.example</host>\n"
                          "\t\t<address>192.0.2.1</address>\n"
                          "\t\t<nickname>&lt;Tom &amp; &quot;Jerry&quot;&gt;</nickname>\n"
                          "\t\t<protocol>HTTP</protocol>\n"
                          "\t\t<port>80</port>\n"
                          "\t\t<status>Sleeping...</status>\n"
                          "\t\t<frequency>60 sec</frequency>\n"
                          "\t\t<responsetime>&lt;10 msec</responsetime>\n"
                          "\t\t<message>caf&eacute; &yuml; &amp;eacute; it's</message>\n"
                          "\t\t<polls>4</polls>\n"
                          "\t\t<failures>1</failures>\n"
                          "\t\t<percentfail>25.00%</percentfail>\n"
                          "\t\t<userid></userid>\n"
                          "\t\t<floatstatus>0</floatstatus>\n"
                          "\t\t<enable>1</enable>\n"
                          "\t</session>\n"
                          "\t<session>\n"
                          "\t    <image>images/Error_12.gif</image>\n"
                          "\t\t<host>b</host>\n";
    // A row with nothing but its host still gives every element, empty.
    for (const char* tag :
         {"address", "nickname", "protocol", "port", "status", "frequency", "responsetime",
          "message", "polls", "failures", "percentfail", "userid", "floatstatus", "enable"})
        expected += QByteArray("\t\t<") + tag + "></" + tag + ">\n";
    expected += "\t</session>\n</sessions>\n";
    HostTexts second;
    second[ColHost] = "b";
    EXPECT_EQ(Body(StatusXml::ServerDocument({{3, first}, {12, second}}), "sessions"), expected);
    EXPECT_EQ(Body(StatusXml::ServerDocument({}), "sessions"), QByteArray("<sessions>\n</sessions>\n"));
}

TEST(StatusXmlTest, MessageDocumentByteForByte)
{
    const std::vector<StatusXml::MessageRow> rows{
        {11, "HTTP//a&b:80 Connection refused", "Error", "06 Dec 26 02:35:41"},
        {0, QString::fromUtf8("ECHO//h:0 Reply \u20ac \u00a9 \u00a0"), "5", "06 Dec 26 02:35:40"},
    };
    const QByteArray expected = "<messages>\n"
                                "\t<message>\n"
                                "\t    <image>images/Error_11.gif</image>\n"
                                "\t\t<text>HTTP//a&amp;b:80 Connection refused</text>\n"
                                "\t\t<responsetime>Error</responsetime>\n"
                                "\t\t<timedate>06 Dec 26 02:35:41</timedate>\n"
                                "\t</message>\n"
                                "\t<message>\n"
                                "\t    <image>images/Error_00.gif</image>\n"
                                // The euro sign has no Latin-1 entity: it stays, in UTF-8;
                                // the no-break space U+00A0 stays too.
                                "\t\t<text>ECHO//h:0 Reply \xe2\x82\xac &copy; \xc2\xa0</text>\n"
                                "\t\t<responsetime>5</responsetime>\n"
                                "\t\t<timedate>06 Dec 26 02:35:40</timedate>\n"
                                "\t</message>\n"
                                "</messages>\n";
    EXPECT_EQ(Body(StatusXml::MessageDocument(rows), "messages"), expected);
    EXPECT_EQ(Body(StatusXml::MessageDocument({}), "messages"), QByteArray("<messages>\n</messages>\n"));
}

TEST(StatusXmlTest, LatinOneEntitiesAcrossTheRange)
{
    // Anchors spread over the table catch a shifted or missing name.
    const std::vector<std::pair<char16_t, const char*>> anchors{
        {0xA1, "&iexcl;"},  {0xA9, "&copy;"},   {0xAD, "&shy;"},    {0xB5, "&micro;"},
        {0xBF, "&iquest;"}, {0xC6, "&AElig;"},  {0xC9, "&Eacute;"}, {0xD0, "&ETH;"},
        {0xD7, "&times;"},  {0xDE, "&THORN;"},  {0xDF, "&szlig;"},  {0xE0, "&agrave;"},
        {0xF0, "&eth;"},    {0xF7, "&divide;"}, {0xFF, "&yuml;"},
    };
    for (const auto& [code, entity] : anchors)
        EXPECT_EQ(StatusXml::Escape(QString(QChar(code))), QString::fromLatin1(entity))
            << int(code);

    // That every character of the range has an entity of its own, and the
    // document's declarations match them, the parser test below shows.
    // Left alone: the apostrophe, tab, U+0080..U+00A0 and everything above
    // U+00FF that XML allows.
    const QString untouched = QString::fromUtf8("it's\t\u0080\u009f\u00a0\u0100\u20ac\U0001F600");
    EXPECT_EQ(StatusXml::Escape(untouched), untouched);
}

TEST(StatusXmlTest, StrictXmlParserReadsWhatPeersSent)
{
    // Every control character, every Latin-1 letter, the XML markup
    // characters, non-characters and a lone half of a surrogate pair.
    QString peer = QString::fromUtf8("caf\u00e9 <&> \"q\" it's ");
    for (char16_t c = 1; c <= 0xFF; ++c)
        if (c < 0x20 || c >= 0x7F)
            peer += QChar(c);
    peer += QChar(0xFFFE) + QString(QChar(0xD800)) + QChar(0xFFFF) + QString::fromUtf8("\U0001F600");
    // What a parser gives back: the controls left out but tab and line ends
    // (a carriage return reads as a line feed), the rest as sent.
    QString kept = QString::fromUtf8("caf\u00e9 <&> \"q\" it's \t\n\n");
    for (char16_t c = 0x7F; c <= 0xFF; ++c)
        kept += QChar(c);
    kept += QString::fromUtf8("\U0001F600");

    HostTexts row;
    row[ColMessage] = peer;
    EXPECT_EQ(StrictXmlTexts(StatusXml::ServerDocument({{1, row}}), "message"), QStringList({kept}));
    EXPECT_EQ(StrictXmlTexts(StatusXml::MessageDocument({{1, peer, "5", "06 Dec 26 02:35:40"}}), "text"),
              QStringList({kept}));
}

} // namespace
} // namespace qm::test
