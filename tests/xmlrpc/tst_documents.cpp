#include "kelpFault.h"
#include "kelpObject.h"

#include <QDateTime>
#include <QDomDocument>
#include <QPointer>
#include <QTest>

namespace {

const QDateTime Moment(QDate(2026, 12, 7), QTime(11, 42, 38));

QByteArray nestedArrays(int depth)
{
    return QByteArray("<value><array><data>").repeated(depth)
        + QByteArray("</data></array></value>").repeated(depth);
}

QVariant nestedList(int depth)
{
    QVariant value = QVariantList();
    while (--depth > 0)
        value = QVariantList { value };
    return value;
}

void writeRow(const char *tag, const QVariant &value, const QString &xml, const char *message = "")
{
    QTest::newRow(tag) << value << xml << QString::fromLatin1(message);
}

void readRow(
    const char *tag, const QByteArray &xml, const QVariant &value, const char *message = "")
{
    QTest::newRow(tag) << xml << value << QString::fromLatin1(message);
}

// faultString: null for a response, else the fault text or its beginning.
void responseRow(const char *tag, const QString &response, const QVariant &result,
    int faultCode = 0, const QString &faultString = QString())
{
    QTest::newRow(tag) << response << result << faultCode << faultString;
}

} // namespace

class TestDocuments : public QObject
{
    Q_OBJECT
private slots:
    void toXml_data();
    void toXml();
    void fromXml_data();
    void fromXml();
    void documents();
    void faultCopyHasNoParent();
    void parseResponse_data();
    void parseResponse();
};

void TestDocuments::toXml_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("xml");
    QTest::addColumn<QString>("message");
    writeRow("true", true, "<boolean>1</boolean>");
    writeRow("double rounded", 123.4567891, "<double>123.457</double>");
    writeRow("string", "a<&", "<string>a&lt;&amp;</string>");
    writeRow("base64", QByteArray("\0\xff", 2), "<base64>AP8=</base64>");
    writeRow("date-time", Moment, "<dateTime.iso8601>20261207T11:42:38</dateTime.iso8601>");
    writeRow("struct in key order", QVariantMap { { "b", 1 }, { "a", 2 }, { "B", 3 } },
        "<struct><member><name>B</name><value><int>3</int></value></member>"
        "<member><name>a</name><value><int>2</int></value></member>"
        "<member><name>b</name><value><int>1</int></value></member></struct>");
    writeRow("array drops unmarshalled item", QVariantList { 1, QStringList { "x" } },
        "<array><data><value><int>1</int></value></data></array>",
        "Failed to marshal unknown variant type: QStringList");
    writeRow("invalid", QVariant(), QString(), "Failed to marshal unknown variant type: Invalid");
}

void TestDocuments::toXml()
{
    QFETCH(QVariant, value);
    QFETCH(QString, xml);
    QFETCH(QString, message);
    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    const QDomElement element = KelpObject::toXml(value);
    QDomDocument document;
    if (!element.isNull())
        document.appendChild(document.importNode(element, true));
    QCOMPARE(document.toString(-1), xml.isEmpty() ? xml : "<value>" + xml + "</value>");
}

void TestDocuments::fromXml_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("message");
    readRow("untyped text", "<value>abc</value>", "abc");
    readRow("empty value", "<value/>", "");
    readRow("blank string kept", "<value><string>  </string></value>", "  ");
    readRow("layout blanks dropped", "<value>\n <int>5</int>\n</value>", 5);
    readRow("I4 in any case", "<VALUE><I4>-5</I4></VALUE>", -5);
    readRow("boolean TRUE", "<value><boolean>TRUE</boolean></value>", true);
    readRow("base64", "<value><base64>AP8=\n</base64></value>", QByteArray("\0\xff", 2));
    readRow("dateTime", "<value><dateTime.iso8601>20261207T11:42:38</dateTime.iso8601></value>",
        Moment);
    readRow("unknown type", "<value><Foo>1</Foo></value>", QVariant(),
        "Cannot demarshal unknown type \"foo\"");
    readRow("empty array", "<value><array>\n<data>\n</data></array></value>", QVariantList());
    readRow("empty struct", "<value><struct>\n</struct></value>", QVariantMap());
    readRow("struct",
        "<value><struct><member><name>a</name><value>1</value></member><member><name>a</name>"
        "<value>2</value></member><member><name> </name><Value>3</Value></member></struct></value>",
        QVariantMap { { "a", "2" }, { " ", QVariant() } });
    readRow("declared Latin-1",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><value>\xe9</value>",
        QString::fromUtf8("\xc3\xa9"));
    readRow("64 arrays deep", nestedArrays(64), nestedList(64));
    readRow("65 arrays deep", nestedArrays(65), "refused");
    readRow("DTD", "<!DOCTYPE value [<!ENTITY e \"x\">]><value>&e;</value>", "refused");
}

void TestDocuments::fromXml()
{
    QFETCH(QByteArray, xml);
    QFETCH(QVariant, value);
    QFETCH(QString, message);
    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    QDomDocument document;
    const bool read = KelpObject::readDocument(xml, &document) == KelpObject::DocumentError::None;
    const QVariant result = read ? KelpObject::fromXml(document.documentElement()) : "refused";
    QCOMPARE(result.typeId(), value.typeId());
    QCOMPARE(result, value);
}

void TestDocuments::documents()
{
    const QString declaration = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    const QString noResult = declaration + "<methodResponse>\n <params/>\n</methodResponse>\n";
    QCOMPARE(KelpObject::prepareCall("m", {}),
        declaration + "<methodCall>\n <methodName>m</methodName>\n <params/>\n</methodCall>\n");
    QCOMPARE(KelpObject::prepareCall("m", { 5, "ab" }).remove(' ').remove('\n'),
        "<?xmlversion=\"1.0\"encoding=\"UTF-8\"?><methodCall><methodName>m</methodName><params>"
        "<param><value><int>5</int></value></param><param><value><string>ab</string></value>"
        "</param></params></methodCall>");
    QCOMPARE(KelpObject::prepareResponse(QVariant()), noResult);
    QCOMPARE(KelpObject::prepareResponse(QString()), noResult);
    // Year 0 does not exist: an invalid moment that is not a null one.
    const QDateTime yearZero(QDate(0, 2, 28), QTime(23, 59, 59));
    QVERIFY(!yearZero.isNull() && !yearZero.isValid());
    QCOMPARE(KelpObject::prepareResponse(yearZero), noResult);
    QVERIFY(KelpObject::prepareResponse(QString("")).contains("<string></string>"));
    QCOMPARE(KelpFault(-32602, "server error: invalid method parameters").toString(),
        declaration + R"(<methodResponse>
 <fault>
  <value>
   <struct>
    <member>
     <name>faultCode</name>
     <value>
      <int>-32602</int>
     </value>
    </member>
    <member>
     <name>faultString</name>
     <value>
      <string>server error: invalid method parameters</string>
     </value>
    </member>
   </struct>
  </value>
 </fault>
</methodResponse>
)");
}

void TestDocuments::faultCopyHasNoParent()
{
    QObject parent;
    const KelpFault fault(4, "x", &parent);
    const QVariant held = QVariant::fromValue(fault);
    QCOMPARE(held.value<KelpFault>().parent(), nullptr);
    QCOMPARE(held.value<KelpFault>().faultMap, fault.faultMap);
}

void TestDocuments::parseResponse_data()
{
    QTest::addColumn<QString>("response");
    QTest::addColumn<QVariant>("result");
    QTest::addColumn<int>("faultCode");
    QTest::addColumn<QString>("faultString");
    const QString notWellFormed
        = QStringLiteral("parse error: response not well formed at line 1: ");
    const QString invalid = QStringLiteral("parse error: invalid xml-rpc. ");
    responseRow("DTD", "<!DOCTYPE r><r/>", QVariant(), -32700,
        notWellFormed + "document type declarations are not accepted");
    responseRow("empty params", "<methodResponse><params/></methodResponse>", QVariant());
    responseRow("PARAMS under any root",
        "<r><PARAMS><param><value><int>7</int></value></param><param/></PARAMS></r>", 7);
    responseRow("fault", KelpFault(4, "x").toString(), QVariant(), 4, "x");
    responseRow(
        "fault without struct", "<r><fault><value>x</value></fault></r>", QVariant(), 0, "");
    responseRow(
        "other child", "<r><result/></r>", QVariant(), -32600, invalid + "not conforming to spec.");
    responseRow("too deep", "<r><params><param>" + nestedArrays(65) + "</param></params></r>",
        QVariant(), -32600, invalid + "values nested too deep.");
}

void TestDocuments::parseResponse()
{
    QFETCH(QString, response);
    QFETCH(QVariant, result);
    QFETCH(int, faultCode);
    QFETCH(QString, faultString);
    QPointer<KelpObject> callObject = new KelpObject;
    auto *reply = reinterpret_cast<QNetworkReply *>(&faultCode);
    QStringList outcomes;
    connect(callObject, &KelpObject::aresponse, this, [&](QVariant &value, QNetworkReply *r) {
        outcomes << (r == reply && value == result ? "expected" : "wrong response");
    });
    connect(
        callObject, &KelpObject::fault, this, [&](int code, const QString &text, QNetworkReply *r) {
            const bool expected = r == reply && code == faultCode && !faultString.isNull()
                && (faultString.isEmpty() ? text.isEmpty() : text.startsWith(faultString));
            outcomes << (expected ? "expected" : QString("fault %1: %2").arg(code).arg(text));
        });
    callObject->parseResponse(response, reply);
    QCOMPARE(outcomes, QStringList { "expected" });
    QVERIFY(callObject.isNull());
}

QTEST_GUILESS_MAIN(TestDocuments)
#include "tst_documents.moc"
