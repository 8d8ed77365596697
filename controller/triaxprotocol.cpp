#include "triaxprotocol.h"

#include <QLatin1String>
#include <QRegularExpression>

#include <iterator>

namespace TriaxProtocol {

namespace {

using Meaning = Reading::Meaning;
using Parser = Reading (*)(const QByteArray &received);

constexpr int shortWait = 200;
constexpr int wakeUpWait = 500;
// The instrument needs this long to start its firmware after "A".
constexpr int startWait = 90000;

// A backslash and one to three digits 1 to 9: the command stands for one raw
// byte. Matched against the whole command, as the instrument's own tools do.
bool matchByteEscape(const QString &command, char *byte = nullptr)
{
    static const QRegularExpression byteEscape(QStringLiteral("^\\\\([1-9]{1,3}$)"));
    const QRegularExpressionMatch match = byteEscape.match(command);
    // "$" would also match before a final line feed: insist on the very end.
    if (!match.hasMatch() || match.capturedEnd() != command.size())
        return false;
    if (byte)
        *byte = static_cast<char>(match.captured(1).toInt(nullptr, 10) & 0xff);
    return true;
}

// A received byte, or NUL past the end: an answer of "o" alone has no
// second byte, and that must read as an unexpected one.
char byteAt(const QByteArray &received, int index)
{
    return index < received.size() ? received.at(index) : '\0';
}

Reading said(Meaning meaning)
{
    return { meaning, QString(), nullptr };
}

Reading next(const char *command)
{
    return { Meaning::Next, QString::fromLatin1(command), nullptr };
}

Reading strange(const char *line)
{
    return { Meaning::NotUnderstood, QString(), line };
}

Reading value(Meaning meaning, const QByteArray &received, const QRegularExpression &pattern)
{
    const QRegularExpressionMatch match = pattern.match(answerText(received));
    if (!match.hasMatch())
        return {};
    return { meaning, match.captured(1), nullptr };
}

Reading parseSPACE(const QByteArray &received)
{
    switch (byteAt(received, 0)) {
    case 'B':
        return next("O2000");
    case 'F':
        return said(Meaning::Awake);
    case '*':
        return next("\\247");
    }
    return {};
}

Reading parseO2000(const QByteArray &received)
{
    return byteAt(received, 0) == '*' ? next("A") : Reading {};
}

Reading parse247(const QByteArray &received)
{
    return byteAt(received, 0) == '='
        ? next("O2000")
        : strange("<247> returned <> '=' so... autobaud again (counter++)");
}

Reading parseA(const QByteArray &received)
{
    return byteAt(received, 0) == 'o' ? next(" ") : strange("A returned strange result <> 'o' !");
}

Reading parseE(const QByteArray &received)
{
    if (byteAt(received, 0) != 'o')
        return strange("E returned strange result <> 'o' !");
    switch (byteAt(received, 1)) {
    case 'z':
        return said(Meaning::MotionEnded);
    case 'q':
        return said(Meaning::StillMoving);
    }
    return strange("E returned strange result <> 'o[q,z]' !");
}

// Wavelength, grating and slit motions lock the panel once the instrument
// has taken them; a relative drive move leaves it open.
Reading motionTaken(const QByteArray &received, Meaning taken, const char *strangeResult)
{
    return byteAt(received, 0) == 'o' ? said(taken) : strange(strangeResult);
}

Reading parseF(const QByteArray &received)
{
    return motionTaken(received, Meaning::QuietMotionTaken, "F returned strange result <> 'o' !");
}

Reading parseZ61(const QByteArray &received)
{
    return motionTaken(received, Meaning::MotionTaken, "Z61 returned strange result <> 'o' !");
}

Reading parseZ451(const QByteArray &received)
{
    return motionTaken(received, Meaning::MotionTaken, "Z451 returned strange result <> 'o' !");
}

Reading parseNewSlitPosition(const QByteArray &received)
{
    return motionTaken(received, Meaning::MotionTaken, "k returned strange result <> 'o' !");
}

Reading parseH(const QByteArray &received)
{
    static const QRegularExpression position(QStringLiteral("^o(\\d{1,5})"));
    return value(Meaning::Position, received, position);
}

// The instrument gives at least three decimals, and a reading with fewer is
// not one. The reading is kept whole: the window cuts it to two decimals.
Reading parseZ62(const QByteArray &received)
{
    static const QRegularExpression wavelength(QStringLiteral("^o(\\d+\\.\\d\\d\\d+)"));
    return value(Meaning::Wavelength, received, wavelength);
}

Reading parseZ452(const QByteArray &received)
{
    static const QRegularExpression gratingNumber(QStringLiteral("^o(\\d)"));
    return value(Meaning::Grating, received, gratingNumber);
}

Reading parseReadSlitPosition(const QByteArray &received, Meaning slit)
{
    static const QRegularExpression slitWidth(QStringLiteral("^o(\\d{1,4})"));
    return value(slit, received, slitWidth);
}

Reading parseInSlit(const QByteArray &received)
{
    return parseReadSlitPosition(received, Meaning::InSlit);
}

Reading parseOutSlit(const QByteArray &received)
{
    return parseReadSlitPosition(received, Meaning::OutSlit);
}

// Any answer will do: nothing is known of the commands that come here.
Reading parseDEFAULT(const QByteArray &)
{
    return said(Meaning::Other);
}

// An answer is complete once its parser understands it. A number is complete
// with its first digit, as it is for its parser, so the answer gap has to be
// longer than any pause the line makes inside an answer.
template<Parser parse>
bool complete(const QByteArray &received)
{
    return parse(received).meaning != Meaning::NotUnderstood;
}

struct Row
{
    enum class Match {
        Exactly, // the command is `text`
        StartsWith, // the command begins with `text`
        ByteEscape, // a backslash and one to three digits 1 to 9
        LetterCommand, // the first character is one of the commandLetters
        Anything,
    };
    enum class Framing {
        Byte, // the one byte the escape stands for
        NulTerminated, // the characters and a NUL
        CarriageReturn, // the characters and "\r"
        Bare, // the characters alone
    };

    Match match;
    QLatin1String text;
    Framing framing;
    int waitMs;
    Parser parse;
    // Kinds whose answer may end the reception at the answer gap: the parser's own test.
    CommandKind::Shape shape;
    CommandKind::Role role;
};

// The one place that says what each command is. The first row that fits
// decides.
const Row &rowOf(const QString &command)
{
    using M = Row::Match;
    using F = Row::Framing;
    using R = CommandKind::Role;
    static const Row rows[] = {
        { M::Exactly, QLatin1String(" "), F::Bare, wakeUpWait, parseSPACE, nullptr, R::WakeUp },
        { M::Exactly, QLatin1String("O2000"), F::NulTerminated, wakeUpWait, parseO2000, nullptr,
            R::WakeUp },
        { M::Exactly, QLatin1String("\\247"), F::Byte, shortWait, parse247, nullptr, R::WakeUp },
        { M::Exactly, QLatin1String("A"), F::Bare, startWait, parseA, nullptr, R::WakeUp },
        { M::Exactly, QLatin1String("E"), F::Bare, shortWait, parseE, complete<parseE>, R::Query },
        { M::StartsWith, QLatin1String("F"), F::CarriageReturn, shortWait, parseF, complete<parseF>,
            R::QuietMotion },
        { M::StartsWith, QLatin1String("H"), F::CarriageReturn, shortWait, parseH, complete<parseH>,
            R::Query },
        { M::StartsWith, QLatin1String("Z61"), F::CarriageReturn, shortWait, parseZ61,
            complete<parseZ61>, R::Motion },
        { M::StartsWith, QLatin1String("Z62"), F::CarriageReturn, shortWait, parseZ62,
            complete<parseZ62>, R::Query },
        { M::StartsWith, QLatin1String("Z452"), F::CarriageReturn, shortWait, parseZ452,
            complete<parseZ452>, R::Query },
        { M::StartsWith, QLatin1String("Z451"), F::CarriageReturn, shortWait, parseZ451,
            complete<parseZ451>, R::Motion },
        { M::StartsWith, QLatin1String("j0,0"), F::CarriageReturn, shortWait, parseInSlit,
            complete<parseInSlit>, R::Query },
        { M::StartsWith, QLatin1String("j0,2"), F::CarriageReturn, shortWait, parseOutSlit,
            complete<parseOutSlit>, R::Query },
        { M::StartsWith, QLatin1String("k"), F::CarriageReturn, shortWait, parseNewSlitPosition,
            complete<parseNewSlitPosition>, R::Motion },
        { M::ByteEscape, QLatin1String(), F::Byte, shortWait, parseDEFAULT, nullptr, R::Other },
        { M::LetterCommand, QLatin1String(), F::CarriageReturn, shortWait, parseDEFAULT, nullptr,
            R::Other },
        { M::Anything, QLatin1String(), F::Bare, shortWait, parseDEFAULT, nullptr, R::Other },
    };

    const auto fits = [&command](const Row &row) {
        switch (row.match) {
        case M::Exactly:
            return command == row.text;
        case M::StartsWith:
            return command.startsWith(row.text);
        case M::ByteEscape:
            return matchByteEscape(command);
        case M::LetterCommand:
            return !command.isEmpty() && commandLetters().contains(command.at(0));
        case M::Anything:
            return true;
        }
        return false;
    };
    for (const Row &row : rows) {
        if (fits(row))
            return row;
    }
    return std::end(rows)[-1];
}

QByteArray wireOf(const QString &command, Row::Framing framing)
{
    switch (framing) {
    case Row::Framing::Byte: {
        char byte = 0;
        matchByteEscape(command, &byte);
        return QByteArray(1, byte);
    }
    case Row::Framing::NulTerminated:
        return command.toLatin1() + '\0';
    case Row::Framing::CarriageReturn:
        return (command + u'\r').toLatin1();
    case Row::Framing::Bare:
        break;
    }
    return command.toLatin1();
}

} // namespace

CommandKind kindOf(const QString &command)
{
    const Row &row = rowOf(command);
    const bool motion
        = row.role == CommandKind::Role::Motion || row.role == CommandKind::Role::QuietMotion;
    return { wireOf(command, row.framing), row.waitMs, row.shape, row.role,
        motion ? pollCommand() : QString(),
        row.parse == parseSPACE ? "not receiving answer (space) after 500ms" : nullptr };
}

Reading read(const QString &command, const QByteArray &received)
{
    return rowOf(command).parse(received);
}

QString answerText(const QByteArray &received)
{
    const qsizetype nul = received.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? received : received.left(nul));
}

const QList<QChar> &commandLetters()
{
    static const QList<QChar> letters { u'B', u'C', u'F', u'G', u'H', u'g', u'h', u'i', u'j', u'k',
        u'W', u'X', u'a', u'b', u'c', u'd', u'e', u'f', u'Z' };
    return letters;
}

QString wakeUpCommand()
{
    return QStringLiteral(" ");
}

QString pollCommand()
{
    return QStringLiteral("E");
}

// After the wake-up the grating is read last, as it always has been: a
// grating found to differ starts a motion of its own, after every other value
// is in.
QList<QString> readBack(ReadBackAfter after)
{
    QList<QString> commands { QStringLiteral("H0"), QStringLiteral("Z62,0"),
        QStringLiteral("Z452,0,0,0"), QStringLiteral("j0,0"), QStringLiteral("j0,2") };
    if (after == ReadBackAfter::WakeUp)
        commands.move(2, commands.size() - 1);
    return commands;
}

QString wavelengthCommand(const QString &nanometres)
{
    return QStringLiteral("Z61,0,%1").arg(nanometres);
}

QString relativeMoveCommand(const QString &steps)
{
    return QStringLiteral("F0,%1").arg(steps);
}

// The instrument moves a slit by a relative number of steps.
QString slitMoveCommand(Slit slit, int steps)
{
    return QStringLiteral("k0,%1,%2").arg(slit == Slit::Entrance ? 0 : 2).arg(steps);
}

QString gratingCommand(int index)
{
    return QStringLiteral("Z451,0,0,0,%1").arg(index);
}

} // namespace TriaxProtocol
