#include "triax.h"

#include "serialconnection.h"

#include <QDebug>
#include <QRegularExpression>

// The instrument's answer as text, up to its first NUL byte.
void WidgetTriax::captureAnswer()
{
    const QByteArray &received = serial->rxMsg;
    const qsizetype nul = received.indexOf('\0');
    answer = QString::fromLatin1(nul < 0 ? received : received.left(nul));
}

// The answer, and its first byte as the character the handshake and the
// polling decide on.
void WidgetTriax::captureAnswerHead()
{
    captureAnswer();
    answerHead = QChar::fromLatin1(receivedByte(0));
}

// A received byte, or NUL past the end: an answer of "o" alone has no
// second byte, and that must read as an unexpected one.
char WidgetTriax::receivedByte(int index) const
{
    return index < serial->rxMsg.size() ? serial->rxMsg.at(index) : '\0';
}

bool WidgetTriax::parseSPACE()
{
    captureAnswerHead();
    if (answerHead == u'B') {
        commandQueue.append(QStringLiteral("O2000"));
    } else if (answerHead == u'F') {
        commandQueue.append(QList<QString> { QStringLiteral("H0"), QStringLiteral("Z62,0"),
            QStringLiteral("j0,0"), QStringLiteral("j0,2"), QStringLiteral("Z452,0,0,0") });
        ready = 1;
        displayStatus(QStringLiteral("ready"));
        enableGui(true);
    } else if (answerHead == u'*') {
        commandQueue.append(QStringLiteral("\\247"));
    } else {
        return false;
    }
    return true;
}

bool WidgetTriax::parseO2000()
{
    captureAnswerHead();
    if (answerHead != u'*')
        return false;
    commandQueue.append(QStringLiteral("A"));
    return true;
}

bool WidgetTriax::parse247()
{
    captureAnswerHead();
    if (answerHead != u'=') {
        qDebug("<247> returned <> '=' so... autobaud again (counter++)");
        return false;
    }
    commandQueue.append(QStringLiteral("O2000"));
    return true;
}

bool WidgetTriax::parseA()
{
    captureAnswerHead();
    if (answerHead != u'o') {
        qDebug("A returned strange result <> 'o' !");
        return false;
    }
    commandQueue.append(QStringLiteral(" "));
    return true;
}

// Wavelength, grating and slit motions: once the instrument has taken the
// command, the panel stays busy and polls until the motor stops.
bool WidgetTriax::motionAccepted(const char *strangeResult)
{
    if (receivedByte(0) != 'o') {
        qDebug("%s", strangeResult);
        return false;
    }
    showMotorBusy();
    commandQueue.append(QStringLiteral("E"));
    return true;
}

void WidgetTriax::showMotorBusy()
{
    enableGui(false);
    displayStatus(QStringLiteral("motor busy"));
    pbQuit->setEnabled(false);
    pbOpen->setEnabled(false);
}

bool WidgetTriax::parseZ61()
{
    return motionAccepted("Z61 returned strange result <> 'o' !");
}

bool WidgetTriax::parseZ451()
{
    return motionAccepted("Z451 returned strange result <> 'o' !");
}

bool WidgetTriax::parseNewSlitPosition()
{
    return motionAccepted("k returned strange result <> 'o' !");
}

// A relative drive move is polled too, but leaves the panel as it is.
bool WidgetTriax::parseF()
{
    captureAnswerHead();
    if (answerHead != u'o') {
        qDebug("F returned strange result <> 'o' !");
        return false;
    }
    commandQueue.append(QStringLiteral("E"));
    return true;
}

bool WidgetTriax::parseE()
{
    captureAnswerHead();
    if (answerHead != u'o') {
        qDebug("E returned strange result <> 'o' !");
        return false;
    }
    answerHead = QChar::fromLatin1(receivedByte(1));
    if (answerHead == u'z') {
        enableGui(true);
        commandQueue.append(QList<QString> { QStringLiteral("H0"), QStringLiteral("Z62,0"),
            QStringLiteral("Z452,0,0,0"), QStringLiteral("j0,0"), QStringLiteral("j0,2") });
        ready = 1;
        displayStatus(QStringLiteral("ready"));
    } else if (answerHead == u'q') {
        commandQueue.append(QStringLiteral("E"));
    } else {
        qDebug("E returned strange result <> 'o[q,z]' !");
        return false;
    }
    return true;
}

bool WidgetTriax::parseH()
{
    captureAnswer();
    static const QRegularExpression position(QStringLiteral("^o(\\d{1,5})"));
    const QRegularExpressionMatch match = position.match(answer);
    if (!match.hasMatch())
        return false;
    leMotPos->setText(match.captured(1));
    return true;
}

// The instrument gives at least three decimals; the panel keeps two, cut
// off rather than rounded.
bool WidgetTriax::parseZ62()
{
    captureAnswer();
    static const QRegularExpression wavelength(QStringLiteral("^o(\\d+\\.\\d\\d)\\d+"));
    const QRegularExpressionMatch match = wavelength.match(answer);
    if (!match.hasMatch())
        return false;
    leWavelength->setText(match.captured(1));
    wavelengthText = match.captured(1);
    return true;
}

// Setting the box runs the grating action when the index changes, so an
// instrument found on another grating than the box shows gets that grating
// selected once more, and the box and the instrument agree from then on.
bool WidgetTriax::parseZ452()
{
    captureAnswer();
    static const QRegularExpression gratingNumber(QStringLiteral("^o(\\d)"));
    const QRegularExpressionMatch match = gratingNumber.match(answer);
    if (!match.hasMatch())
        return false;
    grating = match.captured(1).toInt();
    cbGrating->setCurrentIndex(grating);
    return true;
}

// A command that reads no slit of this instrument leaves nothing to
// understand; only a slit width that does not read as one is not understood.
bool WidgetTriax::parseReadSlitPosition()
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
        leInSlit->setText(width.captured(1));
        inSlitSteps = leInSlit->text().toInt();
    } else if (slit.captured(1) == QLatin1String("2")) {
        leOutSlit->setText(width.captured(1));
        outSlitSteps = leOutSlit->text().toInt();
    }
    return true;
}

// Any answer will do: nothing is known of the commands that come here.
bool WidgetTriax::parseDEFAULT()
{
    if (!ckbVerbose->isChecked())
        return true;
    currentCommand = takeCarriageReturns();
    captureAnswer();
    const qint64 elapsed = elapsedSinceSent();
    qDebug().noquote().nospace() << QStringLiteral(
        "tx: \"%1\" rx: \"%2\"      elapsed time (ms): %3 ")
                                        .arg(currentCommand, answer)
                                        .arg(elapsed);
    return true;
}
