#include "scpiparser.h"

#include <QTest>

#include <utility>

// The SCPI line parser on its own: what each line reads as, one command after the other.
class TestScpiParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lines_data();
    void lines();
    void commandAsSent();
    void httpRequests();
};

namespace {

using Function = ScpiParser::Function;

QString functionName(Function function)
{
    const std::pair<Function, const char *> names[] = { { Function::Identify, "IDN" },
        { Function::ClearStatus, "CLS" }, { Function::OperationComplete, "OPC" },
        { Function::NextError, "ERR" }, { Function::ErrorCount, "COUNT" },
        { Function::Version, "VERS" }, { Function::Connect, "CONN" },
        { Function::Wavelength, "WAV" }, { Function::MoveRelative, "MOVE" },
        { Function::EntranceSlit, "ENTR" }, { Function::ExitSlit, "EXIT" },
        { Function::Grating, "GRAT" }, { Function::State, "STAT" } };
    for (const auto &[named, name] : names) {
        if (named == function)
            return QLatin1String(name);
    }
    return QStringLiteral("other");
}

// "WAV? MAX | EXIT 100 | -113": each command's function, "?" for a query and its value, or
// its error's code.
QString described(const QList<ScpiParser::Command> &commands)
{
    QStringList parts;
    for (const ScpiParser::Command &command : commands) {
        if (!command.isValid()) {
            parts.append(QString::number(command.error.code));
            continue;
        }
        QString part = functionName(command.function);
        if (command.query)
            part += u'?';
        switch (command.value) {
        case ScpiParser::Value::None:
            break;
        case ScpiParser::Value::Number:
            part += u' ' + QString::number(command.number, 'g', 10);
            break;
        case ScpiParser::Value::Minimum:
            part += QStringLiteral(" MIN");
            break;
        case ScpiParser::Value::Maximum:
            part += QStringLiteral(" MAX");
            break;
        }
        parts.append(part);
    }
    return parts.join(QStringLiteral(" | "));
}

} // namespace

void TestScpiParser::lines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("commands");

    // Keywords in their short or long form, in any case, and nothing in between.
    QTest::newRow("short") << QByteArray("WAV 546.07") << "WAV 546.07";
    QTest::newRow("long, lower case") << QByteArray("wavelength 546.07") << "WAV 546.07";
    QTest::newRow("query, mixed case") << QByteArray("WaVeLeNgTh?") << "WAV?";
    QTest::newRow("neither form") << QByteArray("WAVE 546.07") << "-113";
    QTest::newRow("optional keyword")
        << QByteArray("SYST:ERR?;:SYSTEM:ERROR:NEXT?") << "ERR? | ERR?";
    QTest::newRow("common command") << QByteArray("*idn?;*CLS") << "IDN? | CLS";
    QTest::newRow("no such form") << QByteArray("POS 5;CONN?;*CLS?") << "-113 | -113 | -113";

    // Commands separated by ";", under the path of the header before.
    QTest::newRow("blanks and empty commands")
        << QByteArray(" \t;*OPC? ; ;STAT?;") << "OPC? | STAT?";
    QTest::newRow("compound header")
        << QByteArray("SLIT:ENTR 100;EXIT 200;:GRAT 1") << "ENTR 100 | EXIT 200 | GRAT 1";
    QTest::newRow("root after a compound header")
        << QByteArray("SLIT:EXIT?;WAV?") << "EXIT? | WAV?";
    QTest::newRow("not under a simple header") << QByteArray("STAT?;ENTR?") << "STAT? | -113";
    QTest::newRow("\";\" inside a string") << QByteArray("WAV 'a;b';*CLS") << "-158 | CLS";

    // Numbers in every form, and what is not one.
    QTest::newRow("exponent") << QByteArray("WAV 5.4607E2;WAV +5.4607e+2;WAV 54607e-2")
                              << "WAV 546.07 | WAV 546.07 | WAV 546.07";
    QTest::newRow("point first, sign")
        << QByteArray("MOVE:REL -.5;MOVE:REL +40") << "MOVE -0.5 | MOVE 40";
    QTest::newRow("non-decimal") << QByteArray("GRAT #H1f;GRAT #Q17;GRAT #b101")
                                 << "GRAT 31 | GRAT 15 | GRAT 5";
    QTest::newRow("bad digits") << QByteArray("GRAT #HG;GRAT #Q8;GRAT #7") << "-121 | -121 | -104";
    QTest::newRow("suffix") << QByteArray("WAV 546.07NM;WAV 546.07 nm") << "-138 | -138";
    QTest::newRow("broken numbers") << QByteArray("WAV 5.4.6;WAV -;WAV .") << "-121 | -120 | -120";
    QTest::newRow("overflow") << QByteArray("WAV 1E999;WAV 1E-999") << "-123 | WAV 0";
    QTest::newRow("too many digits") << QByteArray("WAV 1" + QByteArray(300, '0')) << "-124";

    // MIN and MAX wherever a number goes, and after the queries with limits.
    QTest::newRow("limits") << QByteArray("WAV? MIN;SLIT:EXIT? maximum;GRAT max")
                            << "WAV? MIN | EXIT? MAX | GRAT MAX";
    QTest::newRow("other words") << QByteArray("WAV LOW;WAV? DEF") << "-141 | -141";
    QTest::newRow("number after a query") << QByteArray("WAV? 5") << "-128";

    // Parameters that are missing, too many or of the wrong type.
    QTest::newRow("missing") << QByteArray("WAV;MOVE:REL") << "-109 | -109";
    QTest::newRow("not taken") << QByteArray("POS? MAX;CONN 1;*IDN? 1") << "-108 | -108 | -108";
    QTest::newRow("two") << QByteArray("SLIT:ENTR 3,4") << "-108";
    QTest::newRow("string") << QByteArray("WAV \"500\";WAV 'open") << "-158 | -151";
    QTest::newRow("header characters")
        << QByteArray("WA$V 5;WAV,5;WAV::EXIT 5;*IDN?x") << "-101 | -103 | -102 | -102";
}

void TestScpiParser::lines()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, commands);
    QCOMPARE(described(ScpiParser::parse(line)), commands);
}

// The words the controller's log line shows: as sent, but no control character of the
// client's reaches the log.
void TestScpiParser::commandAsSent()
{
    const QList<ScpiParser::Command> commands = ScpiParser::parse("SLIT:ENTR\t100 ;EXIT\x1b 5");
    QCOMPARE(commands.size(), 2);
    QCOMPARE(commands[0].text, QStringLiteral("SLIT:ENTR 100"));
    QCOMPARE(commands[1].text, QStringLiteral("EXIT  5"));
}

void TestScpiParser::httpRequests()
{
    QVERIFY(ScpiParser::looksLikeHttp("POST / HTTP/1.1"));
    QVERIFY(ScpiParser::looksLikeHttp("GET /panel.css HTTP/1.1"));
    QVERIFY(!ScpiParser::looksLikeHttp("POS?"));
    QVERIFY(!ScpiParser::looksLikeHttp("*IDN?"));
}

QTEST_APPLESS_MAIN(TestScpiParser)
#include "tst_scpiparser.moc"
