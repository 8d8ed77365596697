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

// The document without its layout: each line's leading blanks and the line ends.
QByteArray compact(const QByteArray &document)
{
    QByteArray lines;
    for (const QByteArray &line : document.split('\n'))
        lines += line.trimmed();
    return lines;
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

// Written out, so that NaN and invalid date-times compare too.
QByteArray written(const QVariant &value)
{
    return KelpCodec::prepareResponse(value);
}

// The value that the plain reader reads from the call carrying xml, or "declined".
QVariant plainValue(const QByteArray &xml)
{
    QString method;
    QVariantList args;
    return KelpPlainReader::readCall(call(arg(xml)), &method, &args) ? args.value(0) : "declined";
}

void typeRow(const char *tag, const QVariant &value, const QByteArray &xml,
    const QVariant &readBack = {}, const char *message = "")
{
    QTest::newRow(tag) << value << xml << (readBack.isValid() ? readBack : value)
                       << QString::fromLatin1(message);
}

void readRow(const char *tag, const QByteArray &xml, const QVariant &value, bool plain)
{
    QTest::newRow(tag) << xml << value << plain;
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
    void roundTrip_data();
    void roundTrip();
    void doublesReadBackExactly();
    void reads_data();
    void reads();
    void plainReaderReadsCallsAsTheDom_data();
    void plainReaderReadsCallsAsTheDom();
    void documents();
    void parseResponse_data();
    void parseResponse();
};

void TestDocuments::roundTrip_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QVariant>("readBack");
    QTest::addColumn<QString>("message");
    typeRow("true", true, "<boolean>1</boolean>");
    typeRow("double as the instrument reports it", 1234.575, "<double>1234.575</double>");
    typeRow("whole double", 2.0, "<double>2</double>");
    typeRow("large double without exponent", 1e21, "<double>1000000000000000000000</double>");
    typeRow("small double without exponent", -1.5e-7, "<double>-0.00000015</double>");
    typeRow("negative zero", -0.0, "<double>-0</double>");
    typeRow("not a number", std::numeric_limits<double>::quiet_NaN(), "<double>nan</double>");
    typeRow("minus infinity", -std::numeric_limits<double>::infinity(), "<double>-inf</double>");
    typeRow("markup escaped", "a<&>]]>\r\"", "<string>a&lt;&amp;>]]&gt;&#xd;\"</string>");
    typeRow("what XML cannot carry dropped",
        QString::fromUtf16(u"\x01]\xd834]\xfffe>\xd834\xdd1e\u00e9"),
        "<string>]]&gt;\xf0\x9d\x84\x9e\xc3\xa9</string>",
        QString::fromUtf16(u"]]>\xd834\xdd1e\u00e9"));
    typeRow("base64", QByteArray("\0\xff", 2), "<base64>AP8=</base64>");
    typeRow("date-time", Moment, "<dateTime.iso8601>20261207T11:42:38</dateTime.iso8601>");
    typeRow("struct in key order", QVariantMap { { "b", 1 }, { "a", 2 }, { "B", 3 } },
        "<struct><member><name>B</name><value><int>3</int></value></member>"
        "<member><name>a</name><value><int>2</int></value></member>"
        "<member><name>b</name><value><int>1</int></value></member></struct>");
    typeRow("array drops unmarshalled item", QVariantList { 1, QStringList { "x" } },
        "<array><data><value><int>1</int></value></data></array>", QVariantList { 1 },
        "Failed to marshal unknown variant type: QStringList");
    typeRow("nothing left in array", QVariantList { QVariant() }, "<array><data/></array>",
        QVariantList(), "Failed to marshal unknown variant type: Invalid");
    typeRow("null values inside",
        QVariantList { QString(), QByteArray(), QDateTime(), QVariantMap { { "", QVariant() } } },
        "<array><data><value><string></string></value><value><base64></base64></value>"
        "<value><dateTime.iso8601></dateTime.iso8601></value><value><struct><member>"
        "<name></name></member></struct></value></data></array>",
        {}, "Failed to marshal unknown variant type: Invalid");
}

// What the writer makes of each type, and that both readers read it back as it was.
void TestDocuments::roundTrip()
{
    QFETCH(QVariant, value);
    QFETCH(QByteArray, xml);
    QFETCH(QVariant, readBack);
    QFETCH(QString, message);
    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    const QByteArray response = KelpCodec::prepareResponse(value);
    QCOMPARE(compact(response),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><methodResponse><params><param><value>" + xml
            + "</value></param></params></methodResponse>");
    // Compared as written where they differ, so that NaN equals itself.
    const auto compare = [&readBack](const QVariant &read) {
        return read == readBack || written(read) == written(readBack);
    };
    QVERIFY(compare(KelpCodec::readResponse(response)));
    // The plain reader takes all that is written but escaped or non-ASCII text and members
    // without a value.
    const bool isPlain
        = !xml.contains('&') && !xml.contains('\xc3') && !xml.contains("</name></member>");
    const QVariant plain = plainValue("<value>" + xml + "</value>");
    QVERIFY(isPlain ? compare(plain) : plain == "declined");
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

// What other writers send: the DOM reader reads it or refuses the document, and the plain
// reader, where it takes the value at all, reads the same.
void TestDocuments::reads_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("plain");
    readRow("untyped text", "<value>abc</value>", "abc", true);
    readRow("empty value", "<value/>", "", true);
    readRow("blank untyped text kept", "<value>  </value>", "  ", true);
    readRow("blank string kept", "<value><string>  </string></value>", "  ", true);
    readRow("layout blanks dropped", "<value>\n <int>5</int>\n</value>", 5, true);
    readRow("empty array", "<value><array>\n<data>\n</data></array></value>", QVariantList(), true);
    readRow("empty struct", "<value><struct>\n</struct></value>", QVariantMap(), true);
    readRow("struct",
        "<value><struct><member><name>a</name><value>1</value></member><member><name>a</name>"
        "<value>2</value></member><member><name> </name><value/></member></struct></value>",
        QVariantMap { { "a", "2" }, { " ", "" } }, true);
    readRow("i4 and datetime",
        "<value><array><data><value><i4>12</i4></value><value><datetime>"
        "20261207T11:42:38</datetime></value></data></array></value>",
        QVariantList { 12, Moment }, true);
    readRow("odd scalars",
        "<value><array><data><value><boolean>TRUE</boolean></value><value><boolean>yes</boolean>"
        "</value><value><int>9999999999</int></value><value><double>1e400</double></value>"
        "<value><base64>%%</base64></value><value><base64>AP8=\n</base64></value>"
        "<value><dateTime.iso8601>never</dateTime.iso8601></value></data></array></value>",
        QVariantList { true, false, 0, std::numeric_limits<double>::infinity(), QByteArray(""),
            QByteArray("\0\xff", 2), QDateTime() },
        true);
    QByteArray integers;
    for (const char *text : { "0", "-0", "+5", "007", "-123456789", "999999999", "-2147483648",
             "2147483648", " 12 ", "1e3", "-", "" })
        integers += "<value><int>" + QByteArray(text) + "</int></value>";
    readRow("integers", "<value><array><data>" + integers + "</data></array></value>",
        QVariantList { 0, 0, 5, 7, -123456789, 999999999, -2147483647 - 1, 0, 12, 0, 0, 0 }, true);
    readRow("64 arrays deep", nestedArrays(64), nestedList(64), true);

    readRow("upper case", "<VALUE><I4>-5</I4></VALUE>", -5, false);
    readRow("unknown type", "<value><Foo>1</Foo></value>", QVariant(), false);
    readRow("nil", "<value><nil/></value>", QVariant(), false);
    readRow("attribute", "<value type=\"int\">1</value>", "1", false);
    readRow("reference", "<value>a&amp;b</value>", "a&b", false);
    readRow("CDATA", "<value><![CDATA[x]]></value>", "x", false);
    readRow("not ASCII", "<value>\xc2\xb5</value>", QString::fromUtf8("\xc2\xb5"), false);
    readRow("text and type", "<value>x<int>5</int></value>", "x5", false);
    readRow("declared Latin-1",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><value>\xe9</value>",
        QString::fromUtf8("\xc3\xa9"), false);

    readRow("mismatched", "<value><int>5</i4></value>", "refused", false);
    readRow("zero byte", QByteArray("<value>\0</value>", 16), "refused", false);
    readRow("65 arrays deep", nestedArrays(65), "refused", false);
    readRow("100000 elements deep",
        QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000), "refused", false);
    readRow("DTD", "<!DOCTYPE value [<!ENTITY e \"x\">]><value>&e;</value>", "refused", false);
    readRow("external entity",
        "<!DOCTYPE value [<!ENTITY e SYSTEM \"file:///etc/hostname\">]><value>&e;</value>",
        "refused", false);
}

void TestDocuments::reads()
{
    QFETCH(QByteArray, xml);
    QFETCH(QVariant, value);
    QFETCH(bool, plain);
    if (QTest::currentDataTag() == QByteArrayView("unknown type"))
        QTest::ignoreMessage(QtDebugMsg, "Cannot demarshal unknown type \"foo\"");
    QDomDocument document;
    const bool read = KelpCodec::readDocument(xml, &document) == KelpCodec::DocumentError::None;
    QCOMPARE(
        written(read ? KelpCodec::fromXml(document.documentElement()) : "refused"), written(value));
    QCOMPARE(written(plainValue(xml)), written(plain ? value : "declined"));
}

void TestDocuments::plainReaderReadsCallsAsTheDom_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("plain");
    QTest::newRow("a standard client's call") << QByteArray(
        "<?xml version='1.0'?>\n<methodCall>\n<methodName>echo</methodName>\n"
        "<params>\n<param>\n<value><array><data>\n<value><int>5</int></value>\n"
        "<value><string>a b</string></value>\n</data></array></value>\n</param>\n"
        "</params>\n</methodCall>\n") << true;
    QTest::newRow("no params") << QByteArray("<methodCall><methodName>m</methodName></methodCall>")
                               << true;
    QTest::newRow("utf-8 named") << QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                                               "<methodCall><methodName>m</methodName><params/>"
                                               "</methodCall>")
                                 << true;
    QTest::newRow("comment") << call("<!-- c -->" + arg("<value>1</value>")) << false;
    QTest::newRow("carriage return") << call("\r\n" + arg("<value>1</value>")) << false;
    QTest::newRow("other encoding")
        << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><methodCall>"
                      "<methodName>m</methodName></methodCall>")
        << false;
    QTest::newRow("blank name") << QByteArray("<methodCall><methodName> </methodName></methodCall>")
                                << false;
    QTest::newRow("trailing bytes") << call(arg("<value>1</value>")) + "x" << false;
}

void TestDocuments::plainReaderReadsCallsAsTheDom()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, plain);
    QString method;
    QVariantList args;
    QCOMPARE(KelpPlainReader::readCall(body, &method, &args), plain);
    if (!plain)
        return;
    QDomDocument document;
    QString domMethod;
    QVariantList domArgs;
    QVERIFY(KelpCodec::readDocument(body, &document) == KelpCodec::DocumentError::None
        && KelpCodec::callFromDocument(document, &domMethod, &domArgs));
    QCOMPARE(method, domMethod);
    QCOMPARE(written(args), written(domArgs));
}

void TestDocuments::documents()
{
    const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const QByteArray noResult = declaration + "<methodResponse>\n <params/>\n</methodResponse>\n";
    QCOMPARE(KelpCodec::prepareCall("m", {}),
        declaration + "<methodCall>\n <methodName>m</methodName>\n <params/>\n</methodCall>\n");
    QCOMPARE(KelpCodec::prepareResponse(QVariant()), noResult);
    QCOMPARE(KelpCodec::prepareResponse(QString()), noResult);
    // Year 0 does not exist: an invalid moment that is not a null one.
    const QDateTime yearZero(QDate(0, 2, 28), QTime(23, 59, 59));
    QVERIFY(!yearZero.isNull() && !yearZero.isValid());
    QCOMPARE(KelpCodec::prepareResponse(yearZero), noResult);
    QVERIFY(KelpCodec::prepareResponse(QString("")).contains("<string></string>"));
    const QByteArray fault = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><methodResponse><fault>"
                             "<value><struct><member><name>faultCode</name><value><int>-32602</int>"
                             "</value></member><member><name>faultString</name><value><string>"
                             "server error: invalid method parameters</string></value></member>"
                             "</struct></value></fault></methodResponse>";
    QCOMPARE(compact(KelpCodec::prepareFault(KelpFault::invalidParameters())), fault);
    QCOMPARE(
        compact(KelpCodec::prepareResponse(QVariant::fromValue(KelpFault::invalidParameters()))),
        fault);
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
