#include "kelpCodec.h"
#include "kelpFault.h"
#include "kelpObject.h"
#include "kelpPlainReader.h"

#include <QDateTime>
#include <QDomDocument>
#include <QPointer>
#include <QRandomGenerator>
#include <QTest>

#include <cstring>
#include <limits>

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

void writeRow(
    const char *tag, const QVariant &value, const QByteArray &xml, const char *message = "")
{
    QTest::newRow(tag) << value << xml << QString::fromLatin1(message);
}

// The document without its layout: each line's leading blanks and the line ends.
QByteArray compact(const QByteArray &document)
{
    QByteArray lines;
    for (const QByteArray &line : document.split('\n'))
        lines += line.trimmed();
    return lines;
}

// The call in a document as the DOM reads it, for comparison with the plain reader.
bool domCall(const QByteArray &body, QString *method, QVariantList *args)
{
    QDomDocument document;
    return KelpCodec::readDocument(body, &document) == KelpCodec::DocumentError::None
        && KelpCodec::callFromDocument(document, method, args);
}

QByteArray call(const QByteArray &params)
{
    return "<?xml version=\"1.0\"?>\n<methodCall><methodName>m</methodName><params>" + params
        + "</params></methodCall>\n";
}

QByteArray arg(const QByteArray &value)
{
    return "<param>" + value + "</param>";
}

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void readRow(
    const char *tag, const QByteArray &xml, const QVariant &value, const char *message = "")
{
    QTest::newRow(tag) << xml << value << QString::fromLatin1(message);
}

// faultString: null for a response, else the fault text or its beginning.
void responseRow(const char *tag, const QByteArray &response, const QVariant &result,
    int faultCode = 0, const QString &faultString = QString())
{
    QTest::newRow(tag) << response << result << faultCode << faultString;
}

} // namespace

class TestDocuments : public QObject
{
    Q_OBJECT
private slots:
    void writes_data();
    void writes();
    void doublesReadBackExactly();
    void fromXml_data();
    void fromXml();
    void plainReaderReadsAsTheDom_data();
    void plainReaderReadsAsTheDom();
    void documents();
    void parseResponse_data();
    void parseResponse();
};

void TestDocuments::writes_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("message");
    writeRow("true", true, "<boolean>1</boolean>");
    writeRow("double as the instrument reports it", 1234.575, "<double>1234.575</double>");
    writeRow("double of two decimals", 546.07, "<double>546.07</double>");
    writeRow("whole double", 2.0, "<double>2</double>");
    writeRow("large double without exponent", 1e21, "<double>1000000000000000000000</double>");
    writeRow("small double without exponent", -1.5e-7, "<double>-0.00000015</double>");
    writeRow("negative zero", -0.0, "<double>-0</double>");
    writeRow("not a number", std::numeric_limits<double>::quiet_NaN(), "<double>nan</double>");
    writeRow("minus infinity", -std::numeric_limits<double>::infinity(), "<double>-inf</double>");
    writeRow("markup escaped", "a<&>]]>\r\"", "<string>a&lt;&amp;>]]&gt;&#xd;\"</string>");
    writeRow("what XML cannot carry dropped",
        QString::fromUtf16(u"\x01]\xd834]\xfffe>\xd834\xdd1e\u00e9"),
        "<string>]]&gt;\xf0\x9d\x84\x9e\xc3\xa9</string>");
    writeRow("base64", QByteArray("\0\xff", 2), "<base64>AP8=</base64>");
    writeRow("date-time", Moment, "<dateTime.iso8601>20261207T11:42:38</dateTime.iso8601>");
    writeRow("struct in key order", QVariantMap { { "b", 1 }, { "a", 2 }, { "B", 3 } },
        "<struct><member><name>B</name><value><int>3</int></value></member>"
        "<member><name>a</name><value><int>2</int></value></member>"
        "<member><name>b</name><value><int>1</int></value></member></struct>");
    writeRow("array drops unmarshalled item", QVariantList { 1, QStringList { "x" } },
        "<array><data><value><int>1</int></value></data></array>",
        "Failed to marshal unknown variant type: QStringList");
    writeRow("nothing left in array", QVariantList { QVariant() }, "<array><data/></array>",
        "Failed to marshal unknown variant type: Invalid");
    writeRow("null values inside",
        QVariantList { QString(), QByteArray(), QDateTime(), QVariantMap { { "", QVariant() } } },
        "<array><data><value><string></string></value><value><base64></base64></value>"
        "<value><dateTime.iso8601></dateTime.iso8601></value><value><struct><member>"
        "<name></name></member></struct></value></data></array>",
        "Failed to marshal unknown variant type: Invalid");
}

void TestDocuments::writes()
{
    QFETCH(QVariant, value);
    QFETCH(QByteArray, xml);
    QFETCH(QString, message);
    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    QCOMPARE(compact(KelpCodec::prepareResponse(value)),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><methodResponse><params><param><value>" + xml
            + "</value></param></params></methodResponse>");
}

// What goes out as a double must come back as the same double, through either reader: a
// wavelength cut to six digits was once recorded wrong by every client.
void TestDocuments::doublesReadBackExactly()
{
    QList<double> values { 1234.575, 546.07, 0.1, 1.0 / 3, 1e21, 1e22, 5e-324,
        2.2250738585072014e-308, std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest(), -0.0 };
    QRandomGenerator random(27);
    for (int i = 0; i < 2000; ++i) {
        const quint64 bits = random.generate64();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value))
            values.append(value);
    }
    for (const double value : std::as_const(values)) {
        const QVariant read = KelpCodec::readResponse(KelpCodec::prepareResponse(value));
        QVERIFY2(read.typeId() == QMetaType::Double && sameBits(read.toDouble(), value),
            qPrintable(QString::number(value, 'g', 17)));
        QString method;
        QVariantList args;
        QVERIFY(KelpPlainReader::readCall(KelpCodec::prepareCall("m", { value }), &method, &args));
        QVERIFY2(
            sameBits(args.value(0).toDouble(), value), qPrintable(QString::number(value, 'g', 17)));
    }
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
    const bool read = KelpCodec::readDocument(xml, &document) == KelpCodec::DocumentError::None;
    const QVariant result = read ? KelpCodec::fromXml(document.documentElement()) : "refused";
    QCOMPARE(result.typeId(), value.typeId());
    QCOMPARE(result, value);
}

void TestDocuments::plainReaderReadsAsTheDom_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("plain");
    QTest::newRow("a standard client's call") << QByteArray(
        "<?xml version='1.0'?>\n<methodCall>\n<methodName>echo</methodName>\n"
        "<params>\n<param>\n<value><array><data>\n<value><int>5</int></value>\n"
        "<value><string>a b</string></value>\n</data></array></value>\n</param>\n"
        "</params>\n</methodCall>\n") << true;
    QTest::newRow("our own call") << KelpCodec::prepareCall("m",
        { 1, true, 2.5, "s", QByteArray("ab"), QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)),
            QVariantMap { { "k", QVariantList() } } })
                                  << true;
    QTest::newRow("blanks") << call(arg("<value>  </value>")
        + arg("<value><string> </string></value>") + arg("<value>\n <int> 7 </int>\n</value>")
        + arg("<value><int>  </int></value>")
        + arg("<value><struct><member><name> a </name><value/></member>"
              "</struct></value>"))
                            << true;
    QTest::newRow("empty forms") << call(arg("<value/>")
        + arg("<value><array><data/></array></value>") + arg("<value><struct/></value>")
        + arg("<value></value>")) << true;
    QTest::newRow("odd scalars") << call(arg("<value><i4>12</i4></value>")
        + arg("<value><boolean>TRUE</boolean></value>")
        + arg("<value><boolean>yes</boolean></value>") + arg("<value><int>9999999999</int></value>")
        + arg("<value><double>1e400</double></value>") + arg("<value><base64>%%</base64></value>")
        + arg("<value><dateTime.iso8601>never</dateTime.iso8601></value>"))
                                 << true;
    QByteArray integers;
    for (const char *text : { "0", "-0", "+5", "007", "-123456789", "999999999", "-2147483648",
             "2147483648", " 12", "1e3", "-", "" })
        integers += arg("<value><int>" + QByteArray(text) + "</int></value>");
    QTest::newRow("integers") << call(integers) << true;
    QTest::newRow("no params") << QByteArray("<methodCall><methodName>m</methodName></methodCall>")
                               << true;
    QTest::newRow("utf-8 named") << QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                                               "<methodCall><methodName>m</methodName><params/>"
                                               "</methodCall>")
                                 << true;
    QTest::newRow("attribute") << call(arg("<value type=\"int\">1</value>")) << false;
    QTest::newRow("comment") << call("<!-- c -->" + arg("<value>1</value>")) << false;
    QTest::newRow("reference") << call(arg("<value>a&amp;b</value>")) << false;
    QTest::newRow("CDATA") << call(arg("<value><![CDATA[x]]></value>")) << false;
    QTest::newRow("upper case") << call(arg("<VALUE>1</VALUE>")) << false;
    QTest::newRow("nil") << call(arg("<value><nil/></value>")) << false;
    QTest::newRow("carriage return") << call("\r\n" + arg("<value>1</value>")) << false;
    QTest::newRow("not ASCII") << call(arg("<value>\xc2\xb5</value>")) << false;
    QTest::newRow("other encoding")
        << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><methodCall>"
                      "<methodName>m</methodName></methodCall>")
        << false;
    QTest::newRow("mismatched") << call(arg("<value><int>5</i4></value>")) << false;
    QTest::newRow("text and type") << call(arg("<value>x<int>5</int></value>")) << false;
    QTest::newRow("blank name") << QByteArray("<methodCall><methodName> </methodName></methodCall>")
                                << false;
    QTest::newRow("trailing bytes") << call(arg("<value>1</value>")) + "x" << false;
    QTest::newRow("too deep") << call(arg(QByteArray("<value><array><data>").repeated(65)
        + QByteArray("</data></array></value>").repeated(65)))
                              << false;
}

void TestDocuments::plainReaderReadsAsTheDom()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, plain);
    QString method;
    QVariantList args;
    QCOMPARE(KelpPlainReader::readCall(body, &method, &args), plain);
    if (!plain)
        return;
    QString domMethod;
    QVariantList domArgs;
    QVERIFY(domCall(body, &domMethod, &domArgs));
    QCOMPARE(method, domMethod);
    // Written out, so that NaN and invalid date-times compare too.
    QCOMPARE(KelpCodec::prepareResponse(args), KelpCodec::prepareResponse(domArgs));
}

void TestDocuments::documents()
{
    const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const QByteArray noResult = declaration + "<methodResponse>\n <params/>\n</methodResponse>\n";
    QCOMPARE(KelpCodec::prepareCall("m", {}),
        declaration + "<methodCall>\n <methodName>m</methodName>\n <params/>\n</methodCall>\n");
    QCOMPARE(compact(KelpCodec::prepareCall("m", { 5, "ab" })),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><methodCall><methodName>m</methodName><params>"
        "<param><value><int>5</int></value></param><param><value><string>ab</string></value>"
        "</param></params></methodCall>");
    QCOMPARE(KelpCodec::prepareResponse(QVariant()), noResult);
    QCOMPARE(KelpCodec::prepareResponse(QString()), noResult);
    // Year 0 does not exist: an invalid moment that is not a null one.
    const QDateTime yearZero(QDate(0, 2, 28), QTime(23, 59, 59));
    QVERIFY(!yearZero.isNull() && !yearZero.isValid());
    QCOMPARE(KelpCodec::prepareResponse(yearZero), noResult);
    QVERIFY(KelpCodec::prepareResponse(QString("")).contains("<string></string>"));
    const QByteArray fault = declaration + R"(<methodResponse>
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
)";
    QCOMPARE(KelpCodec::prepareFault(KelpFault::invalidParameters()), fault);
    QCOMPARE(
        KelpCodec::prepareResponse(QVariant::fromValue(KelpFault::invalidParameters())), fault);
}

void TestDocuments::parseResponse_data()
{
    QTest::addColumn<QByteArray>("response");
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
    responseRow("fault", KelpCodec::prepareFault(KelpFault(4, "x")), QVariant(), 4, "x");
    responseRow(
        "fault without struct", "<r><fault><value>x</value></fault></r>", QVariant(), 0, "");
    responseRow(
        "other child", "<r><result/></r>", QVariant(), -32600, invalid + "not conforming to spec.");
    responseRow("too deep", "<r><params><param>" + nestedArrays(65) + "</param></params></r>",
        QVariant(), -32600, invalid + "values nested too deep.");
}

void TestDocuments::parseResponse()
{
    QFETCH(QByteArray, response);
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
    callObject->reportFault(KelpFault::notWellFormed(), reply);
    QCOMPARE(outcomes, QStringList { "expected" });
    QTRY_VERIFY(callObject.isNull());
}

QTEST_GUILESS_MAIN(TestDocuments)
#include "tst_documents.moc"
