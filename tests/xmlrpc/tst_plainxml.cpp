#include "domoracle.h"
#include "kelpObject.h"
#include "kelpPlainXml.h"

#include <QDateTime>
#include <QDomDocument>
#include <QPoint>
#include <QTest>

#include <limits>

namespace {

QString domResponse(const QVariant &value)
{
    return domDocument(QStringLiteral("methodResponse"), QString(), { value });
}

bool domCall(const QByteArray &body, QString *method, QVariantList *args)
{
    QDomDocument document;
    if (KelpObject::readDocument(body, &document) != KelpObject::DocumentError::None)
        return false;
    const QDomElement root = document.documentElement();
    *method = root.firstChildElement(QStringLiteral("methodName")).text();
    const QDomElement params = root.firstChildElement(QStringLiteral("params"));
    for (QDomNode param = params.firstChild(); !param.isNull(); param = param.nextSibling())
        args->append(KelpObject::fromXml(param.firstChild().toElement()));
    return true;
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

} // namespace

class TestPlainXml : public QObject
{
    Q_OBJECT
private slots:
    void writesAsTheDom_data();
    void writesAsTheDom();
    void readsAsTheDom_data();
    void readsAsTheDom();
};

void TestPlainXml::writesAsTheDom_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("plain");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QVariantMap map { { "", 1 }, { "b c", QVariantList() }, { "a", QVariantMap() } };
    QTest::newRow("scalars") << QVariant(QVariantList { 0, -2147483647 - 1, true, false, 0.1, 1e300,
        -0.0, nan, -inf, QString(""), "x y\n\tz", QByteArray(""), QByteArray("\0\xff", 2),
        QDateTime(QDate(2026, 12, 8), QTime(1, 2, 3)) })
                             << true;
    QTest::newRow("nesting") << QVariant(QVariantList { map, QVariantList { QVariantList { 7 } } })
                             << true;
    QTest::newRow("int alone") << QVariant(0) << true;
    QTest::newRow("markup") << QVariant("a<b>&c") << false;
    QTest::newRow("not ASCII") << QVariant(QString::fromUtf8("µm")) << false;
    QTest::newRow("carriage return") << QVariant(QVariantList { "a\rb" }) << false;
    QTest::newRow("control character") << QVariant(QVariantMap { { "k", "\x01" } }) << false;
    QTest::newRow("null string inside") << QVariant(QVariantList { QString() }) << false;
    QTest::newRow("invalid inside") << QVariant(QVariantList { QVariant() }) << false;
    QTest::newRow("invalid date-time") << QVariant(QVariantList { QDateTime() }) << false;
    QTest::newRow("unmarshalled type") << QVariant(QVariantList { QPoint(1, 2) }) << false;
}

void TestPlainXml::writesAsTheDom()
{
    QFETCH(QVariant, value);
    QFETCH(bool, plain);
    QByteArray document;
    QCOMPARE(KelpPlainXml::writeResponse(value, &document), plain);
    if (plain)
        QCOMPARE(QString::fromLatin1(document), domResponse(value));
    // Whichever way it goes, the result is the general path's.
    QCOMPARE(KelpObject::prepareResponse(value), domResponse(value));
    const QVariantList args { value, 5 };
    const QString call = domDocument(QStringLiteral("methodCall"), QStringLiteral("m.n"), args);
    QCOMPARE(KelpPlainXml::writeCall(QStringLiteral("m.n"), args, &document), plain);
    if (plain)
        QCOMPARE(QString::fromLatin1(document), call);
    QCOMPARE(KelpObject::prepareCall(QStringLiteral("m.n"), args), call);
}

void TestPlainXml::readsAsTheDom_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("plain");
    QTest::newRow("a standard client's call") << QByteArray(
        "<?xml version='1.0'?>\n<methodCall>\n<methodName>echo</methodName>\n"
        "<params>\n<param>\n<value><array><data>\n<value><int>5</int></value>\n"
        "<value><string>a b</string></value>\n</data></array></value>\n</param>\n"
        "</params>\n</methodCall>\n") << true;
    QTest::newRow("our own call") << KelpObject::prepareCall("m",
        { 1, true, 2.5, "s", QByteArray("ab"), QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)),
            QVariantMap { { "k",
                QVariantList() } } }).toLatin1()
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
    QTest::newRow("too deep") << call(arg(QByteArray("<value><array><data>").repeated(33)
        + QByteArray("</data></array></value>").repeated(33)))
                              << false;
}

void TestPlainXml::readsAsTheDom()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, plain);
    QString method;
    QVariantList args;
    QCOMPARE(KelpPlainXml::readCall(body, &method, &args), plain);
    if (!plain)
        return;
    QString domMethod;
    QVariantList domArgs;
    QVERIFY(domCall(body, &domMethod, &domArgs));
    QCOMPARE(method, domMethod);
    // Written out, so that NaN and invalid date-times compare too.
    QCOMPARE(domResponse(args), domResponse(domArgs));
}

QTEST_GUILESS_MAIN(TestPlainXml)
#include "tst_plainxml.moc"
