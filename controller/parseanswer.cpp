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

void WidgetTriax::parseSPACE()
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
    }
}

void WidgetTriax::parseO2000()
{
    captureAnswerHead();
    if (answerHead == u'*')
        commandQueue.append(QStringLiteral("A"));
}

void WidgetTriax::parse247()
{
    captureAnswerHead();
    if (answerHead == u'=')
        commandQueue.append(QStringLiteral("O2000"));
    else
        qDebug("<247> returned <> '=' so... autobaud again (counter++)");
}

void WidgetTriax::parseA()
{
    captureAnswerHead();
    if (answerHead == u'o')
        commandQueue.append(QStringLiteral(" "));
    else
        qDebug("A returned strange result <> 'o' !");
}

// Wavelength, grating and slit motions: once the instrument has taken the
// command, the panel stays busy and polls until the motor stops.
void WidgetTriax::motionAccepted(const char *strangeResult)
{
    if (receivedByte(0) != 'o') {
        qDebug("%s", strangeResult);
        return;
    }
    enableGui(false);
    displayStatus(QStringLiteral("motor busy"));
    pbQuit->setEnabled(false);
    pbOpen->setEnabled(false);
    commandQueue.append(QStringLiteral("E"));
}

void WidgetTriax::parseZ61()
{
    motionAccepted("Z61 returned strange result <> 'o' !");
}

void WidgetTriax::parseZ451()
{
    motionAccepted("Z451 returned strange result <> 'o' !");
}

void WidgetTriax::parseNewSlitPosition()
{
    motionAccepted("k returned strange result <> 'o' !");
}

// A relative drive move is polled too, but leaves the panel as it is.
void WidgetTriax::parseF()
{
    captureAnswerHead();
    if (answerHead == u'o')
        commandQueue.append(QStringLiteral("E"));
    else
        qDebug("F returned strange result <> 'o' !");
}

void WidgetTriax::parseE()
{
    captureAnswerHead();
    if (answerHead != u'o') {
        qDebug("E returned strange result <> 'o' !");
        return;
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
    }
}

void WidgetTriax::parseH()
{
    captureAnswer();
    static const QRegularExpression position(QStringLiteral("^o(\\d{1,5})"));
    const QRegularExpressionMatch match = position.match(answer);
    if (match.hasMatch())
        leMotPos->setText(match.captured(1));
}

// The instrument gives at least three decimals; the panel keeps two, cut
// off rather than rounded.
void WidgetTriax::parseZ62()
{
    captureAnswer();
    static const QRegularExpression wavelength(QStringLiteral("^o(\\d+\\.\\d\\d)\\d+"));
    const QRegularExpressionMatch match = wavelength.match(answer);
    if (!match.hasMatch())
        return;
    leWavelength->setText(match.captured(1));
    wavelengthText = match.captured(1);
}

// Setting the box runs the grating action when the index changes, so an
// instrument found on another grating than the box shows gets that grating
// selected once more, and the box and the instrument agree from then on.
void WidgetTriax::parseZ452()
{
    captureAnswer();
    static const QRegularExpression gratingNumber(QStringLiteral("^o(\\d)"));
    const QRegularExpressionMatch match = gratingNumber.match(answer);
    if (!match.hasMatch())
        return;
    grating = match.captured(1).toInt();
    cbGrating->setCurrentIndex(grating);
}

void WidgetTriax::parseReadSlitPosition()
{
    captureAnswer();
    currentCommand = takeCarriageReturnsFromHead();
    static const QRegularExpression slitCommand(QStringLiteral("^j0,(\\d)"));
    const QRegularExpressionMatch slit = slitCommand.match(currentCommand);
    if (!slit.hasMatch())
        return;
    static const QRegularExpression slitWidth(QStringLiteral("^o(\\d{1,4})"));
    const QRegularExpressionMatch width = slitWidth.match(answer);
    if (!width.hasMatch())
        return;
    if (slit.captured(1) == QLatin1String("0")) {
        leInSlit->setText(width.captured(1));
        inSlitSteps = leInSlit->text().toInt();
    } else if (slit.captured(1) == QLatin1String("2")) {
        leOutSlit->setText(width.captured(1));
        outSlitSteps = leOutSlit->text().toInt();
    }
}

void WidgetTriax::parseDEFAULT()
{
    if (!ckbVerbose->isChecked())
        return;
    currentCommand = takeCarriageReturns();
    captureAnswer();
    const qint64 elapsed = elapsedSinceSent();
    qDebug().noquote().nospace() << QStringLiteral(
        "tx: \"%1\" rx: \"%2\"      elapsed time (ms): %3 ")
                                        .arg(currentCommand, answer)
                                        .arg(elapsed);
}
