#include "triaxcontroller.h"

#include "serialconnection.h"

#include <QDebug>
#include <QRegularExpression>

// The instrument's answer as text, up to its first NUL byte.
void TriaxController::captureAnswer()
{
    const QByteArray &received = serial->rxMsg;
    const qsizetype nul = received.indexOf('\0');
    answer = QString::fromLatin1(nul < 0 ? received : received.left(nul));
}

// The answer, and its first byte as the character the handshake and the
// polling decide on.
void TriaxController::captureAnswerHead()
{
    captureAnswer();
    answerHead = QChar::fromLatin1(receivedByte(0));
}

// A received byte, or NUL past the end: an answer of "o" alone has no
// second byte, and that must read as an unexpected one.
char TriaxController::receivedByte(int index) const
{
    return index < serial->rxMsg.size() ? serial->rxMsg.at(index) : '\0';
}

// The link's own text for a reception without an answer is no strange answer:
// the silence is told once, by the warning that gives up on the command.
void TriaxController::reportStrangeAnswer(const char *line) const
{
    if (!serial->rxMsg.startsWith("RX_ERROR: "))
        qDebug("%s", line);
}

bool TriaxController::parseSPACE()
{
    captureAnswerHead();
    if (answerHead == u'B') {
        commandQueue.append(QStringLiteral("O2000"));
    } else if (answerHead == u'F') {
        queueReadBack({ QStringLiteral("H0"), QStringLiteral("Z62,0"), QStringLiteral("j0,0"),
            QStringLiteral("j0,2"), QStringLiteral("Z452,0,0,0") });
        m_ready = 1;
        setState(State::ReadingBack);
    } else if (answerHead == u'*') {
        commandQueue.append(QStringLiteral("\\247"));
    } else {
        return false;
    }
    return true;
}

bool TriaxController::parseO2000()
{
    captureAnswerHead();
    if (answerHead != u'*')
        return false;
    commandQueue.append(QStringLiteral("A"));
    return true;
}

bool TriaxController::parse247()
{
    captureAnswerHead();
    if (answerHead != u'=') {
        reportStrangeAnswer("<247> returned <> '=' so... autobaud again (counter++)");
        return false;
    }
    commandQueue.append(QStringLiteral("O2000"));
    return true;
}

bool TriaxController::parseA()
{
    captureAnswerHead();
    if (answerHead != u'o') {
        reportStrangeAnswer("A returned strange result <> 'o' !");
        return false;
    }
    commandQueue.append(QStringLiteral(" "));
    return true;
}

// Wavelength, grating and slit motions: once the instrument has taken the
// command, the panel stays busy and polls until the motor stops.
bool TriaxController::motionAccepted(const char *strangeResult)
{
    if (receivedByte(0) != 'o') {
        reportStrangeAnswer(strangeResult);
        return false;
    }
    showMotorBusy();
    commandQueue.append(QStringLiteral("E"));
    return true;
}

// A quiet motion leaves the panel open, and a panel already locked by
// another motion stays locked.
void TriaxController::showMotorBusy(bool quiet)
{
    if (!quiet)
        setState(State::Busy);
    else if (m_state == State::Ready || m_state == State::ReadingBack)
        setState(State::Moving);
}

bool TriaxController::parseZ61()
{
    return motionAccepted("Z61 returned strange result <> 'o' !");
}

bool TriaxController::parseZ451()
{
    return motionAccepted("Z451 returned strange result <> 'o' !");
}

bool TriaxController::parseNewSlitPosition()
{
    return motionAccepted("k returned strange result <> 'o' !");
}

// A relative drive move is polled too, but leaves the panel as it is.
bool TriaxController::parseF()
{
    captureAnswerHead();
    if (answerHead != u'o') {
        reportStrangeAnswer("F returned strange result <> 'o' !");
        return false;
    }
    showMotorBusy(true);
    commandQueue.append(QStringLiteral("E"));
    return true;
}

bool TriaxController::parseE()
{
    captureAnswerHead();
    if (answerHead != u'o') {
        reportStrangeAnswer("E returned strange result <> 'o' !");
        return false;
    }
    answerHead = QChar::fromLatin1(receivedByte(1));
    if (answerHead == u'z') {
        queueReadBack({ QStringLiteral("H0"), QStringLiteral("Z62,0"), QStringLiteral("Z452,0,0,0"),
            QStringLiteral("j0,0"), QStringLiteral("j0,2") });
        m_ready = 1;
        setState(State::ReadingBack);
    } else if (answerHead == u'q') {
        commandQueue.append(QStringLiteral("E"));
    } else {
        qDebug("E returned strange result <> 'o[q,z]' !");
        return false;
    }
    return true;
}

bool TriaxController::parseH()
{
    captureAnswer();
    static const QRegularExpression position(QStringLiteral("^o(\\d{1,5})"));
    const QRegularExpressionMatch match = position.match(answer);
    if (!match.hasMatch())
        return false;
    m_positionText = match.captured(1);
    emit positionChanged(m_positionText);
    return true;
}

// The instrument gives at least three decimals; the panel keeps two, cut
// off rather than rounded.
bool TriaxController::parseZ62()
{
    captureAnswer();
    static const QRegularExpression wavelength(QStringLiteral("^o(\\d+\\.\\d\\d)\\d+"));
    const QRegularExpressionMatch match = wavelength.match(answer);
    if (!match.hasMatch())
        return false;
    m_wavelengthText = match.captured(1);
    emit wavelengthChanged(m_wavelengthText);
    return true;
}

// An instrument found on another grating than the one last asked for gets
// that grating selected once more, and the panel's choice and the
// instrument agree from then on.
bool TriaxController::parseZ452()
{
    captureAnswer();
    static const QRegularExpression gratingNumber(QStringLiteral("^o(\\d)"));
    const QRegularExpressionMatch match = gratingNumber.match(answer);
    if (!match.hasMatch())
        return false;
    const int found = match.captured(1).toInt();
    if (found != m_grating)
        changeGrating(found);
    else
        emit gratingChanged(found);
    return true;
}

// A command that reads no slit of this instrument leaves nothing to
// understand; only a slit width that does not read as one is not understood.
bool TriaxController::parseReadSlitPosition()
{
    captureAnswer();
    currentCommand = takeCarriageReturnsFromHead();
    static const QRegularExpression slitCommand(QStringLiteral("^j0,(\\d)"));
    const QRegularExpressionMatch slit = slitCommand.match(currentCommand);
    if (!slit.hasMatch())
        return true;
    static const QRegularExpression slitWidth(QStringLiteral("^o(\\d{1,4})"));
    const QRegularExpressionMatch width = slitWidth.match(answer);
    if (!width.hasMatch())
        return false;
    if (slit.captured(1) == QLatin1String("0")) {
        m_inSlitText = width.captured(1);
        emit inSlitChanged(m_inSlitText);
    } else if (slit.captured(1) == QLatin1String("2")) {
        m_outSlitText = width.captured(1);
        emit outSlitChanged(m_outSlitText);
    }
    return true;
}

// Any answer will do: nothing is known of the commands that come here.
bool TriaxController::parseDEFAULT()
{
    if (!verbose)
        return true;
    currentCommand = takeCarriageReturns();
    captureAnswer();
    const qint64 elapsed = elapsedSinceSent();
    trace(QStringLiteral("tx: \"%1\" rx: \"%2\"      elapsed time (ms): %3 ")
              .arg(currentCommand, answer)
              .arg(elapsed));
    return true;
}
