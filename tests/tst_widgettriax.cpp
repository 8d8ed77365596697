#include "pseudoterminal.h"
#include "serialconnection.h"
#include "triax.h"

#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

class TestWidgetTriax : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startUpState();
    void enableGuiSwitchesLooks();
    void editsBecomeCommands_data();
    void editsBecomeCommands();
    void gratingChoice();
    void commandsGoOutInTheirFraming_data();
    void commandsGoOutInTheirFraming();
    void connectSendsOneSpaceOnce();
    void noDoubleTransmission();
    void closeReturnsToIdle();
    void closingTheWindowClosesThePort();

private:
    std::unique_ptr<PseudoTerminal> instrument;
    std::unique_ptr<WidgetTriax> triax;
};

void TestWidgetTriax::initTestCase()
{
    // Field texts must be read the same way in any locale the lab runs.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void TestWidgetTriax::init()
{
    instrument = std::make_unique<PseudoTerminal>();
    QVERIFY(instrument->isValid());
    triax = std::make_unique<WidgetTriax>(nullptr, instrument->devicePath(), 9123);
}

void TestWidgetTriax::cleanup()
{
    triax.reset();
    instrument.reset();
}

void TestWidgetTriax::startUpState()
{
    QCOMPARE(triax->lbPortValue->text(), QStringLiteral("9123"));
    QCOMPARE(triax->lbDeviceValue->text(), instrument->devicePath());
    QCOMPARE(triax->lbReady->text(), QStringLiteral("not ready"));

    const QList<QChar> letters { u'B', u'C', u'F', u'G', u'H', u'g', u'h', u'i', u'j', u'k', u'W',
        u'X', u'a', u'b', u'c', u'd', u'e', u'f', u'Z' };
    QCOMPARE(triax->commandLetters, letters);

    QCOMPARE(triax->ready, 0);
    QCOMPARE(triax->inSlitSteps, 0);
    QCOMPARE(triax->outSlitSteps, 0);
    QCOMPARE(triax->grating, 0);
    QVERIFY(triax->wavelengthText.isNull());
    // Filling the grating box must not have run the grating action.
    QVERIFY(triax->commandQueue.isEmpty());
    QCOMPARE(triax->cbGrating->currentIndex(), 0);
    QVERIFY(instrument->readFor(100).isEmpty());
    QVERIFY(triax->pbOpen->isEnabled());
    QVERIFY(triax->pbQuit->isEnabled());
    QVERIFY(!triax->pbClose->isEnabled());
    QVERIFY(!triax->leWavelength->isEnabled());
}

void TestWidgetTriax::enableGuiSwitchesLooks()
{
    const QList<QWidget *> inputs { triax->leCommandLI, triax->leWavelength, triax->leMotPos,
        triax->leMoveRel, triax->leInSlit, triax->leOutSlit, triax->cbGrating };
    for (bool on : { true, false, true }) {
        triax->enableGui(on);
        QCOMPARE(triax->pbClose->isEnabled(), on);
        QCOMPARE(triax->pbOpen->isEnabled(), !on);
        QCOMPARE(triax->pbQuit->isEnabled(), !on);
        for (QWidget *input : inputs)
            QCOMPARE(input->isEnabled(), on);
        QVERIFY(triax->ckbVerbose->isEnabled());
        QVERIFY(!triax->pbShutterOpenClose->isEnabled());
    }
}

void TestWidgetTriax::editsBecomeCommands_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("command"); // empty: nothing is queued
    QTest::addColumn<int>("readyAfter");

    QTest::newRow("wavelength") << "leWavelength"
                                << "546.07"
                                << "Z61,0,546.07" << 0;
    QTest::newRow("wavelength, lower limit") << "leWavelength"
                                             << "250"
                                             << "Z61,0,250" << 0;
    QTest::newRow("wavelength, comma") << "leWavelength"
                                       << "546,07"
                                       << "" << 1;
    QTest::newRow("wavelength, exponent") << "leWavelength"
                                          << "5.4607e2"
                                          << "" << 1;
    // A refused key leaves the field as it was before the keystroke.
    QTest::newRow("wavelength, group separator refused") << "leWavelength"
                                                         << "1,300"
                                                         << "Z61,0,1300" << 0;
    QTest::newRow("wavelength, above range") << "leWavelength"
                                             << "1300.01"
                                             << "" << 1;
    QTest::newRow("wavelength, third decimal refused") << "leWavelength"
                                                       << "546.071"
                                                       << "Z61,0,546.07" << 0;
    QTest::newRow("move") << "leMoveRel"
                          << "-10000"
                          << "F0,-10000" << 0;
    QTest::newRow("move, above range") << "leMoveRel"
                                       << "10001"
                                       << "" << 1;
    QTest::newRow("in slit, relative") << "leInSlit"
                                       << "700"
                                       << "k0,0,-300" << 0;
    QTest::newRow("in slit, unchanged") << "leInSlit"
                                        << "1000"
                                        << "k0,0,0" << 0;
    QTest::newRow("in slit, group separator refused") << "leInSlit"
                                                      << "1.000"
                                                      << "k0,0,0" << 0;
    QTest::newRow("out slit") << "leOutSlit"
                              << "1400"
                              << "k0,2,1400" << 0;
    QTest::newRow("out slit, above range") << "leOutSlit"
                                           << "1401"
                                           << "" << 1;
    QTest::newRow("typed command") << "leCommandLI"
                                   << "G0,1 x"
                                   << "G0,1 x" << 1;
    QTest::newRow("typed space") << "leCommandLI"
                                 << " "
                                 << " " << 1;
    QTest::newRow("empty typed command") << "leCommandLI"
                                         << ""
                                         << "" << 1;
}

void TestWidgetTriax::editsBecomeCommands()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, command);
    QFETCH(int, readyAfter);

    // Open, so that a queued command stays in flight at the head.
    QCOMPARE(triax->serial->openPort(), 1);
    triax->enableGui(true);
    triax->ready = 1;
    triax->inSlitSteps = 1000;
    triax->outSlitSteps = 0;
    auto *edit = triax->findChild<QLineEdit *>(field);
    QVERIFY(edit);
    QTest::keyClicks(edit, typed);
    QTest::keyClick(edit, Qt::Key_Return);

    if (command.isEmpty()) {
        QVERIFY(triax->commandQueue.isEmpty());
    } else {
        QCOMPARE(triax->commandQueue, QList<QString> { command });
    }
    QCOMPARE(triax->ready, readyAfter);
    if (field == QLatin1String("leCommandLI")) {
        QCOMPARE(edit->text(), typed);
        QCOMPARE(triax->currentCommand, command.isEmpty() ? QString() : typed);
    }
}

void TestWidgetTriax::gratingChoice()
{
    QCOMPARE(triax->serial->openPort(), 1);
    triax->enableGui(true);
    triax->ready = 1;
    triax->cbGrating->setCurrentIndex(2);
    QCOMPARE(triax->commandQueue, QList<QString> { QStringLiteral("Z451,0,0,0,2") });
    QCOMPARE(triax->grating, 2);
    QCOMPARE(triax->ready, 0);
}

void TestWidgetTriax::commandsGoOutInTheirFraming_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("wait");

    QTest::newRow("byte escape 248") << "\\248" << QByteArray("\xf8") << 200;
    QTest::newRow("byte escape 247") << "\\247" << QByteArray("\xf7") << 200;
    QTest::newRow("byte escape 222") << "\\222" << QByteArray("\xde") << 200;
    QTest::newRow("byte escape 256 wraps") << "\\256" << QByteArray(1, '\0') << 200;
    QTest::newRow("byte escape 999 wraps") << "\\999" << QByteArray("\xe7") << 200;
    QTest::newRow("digit 0 is text") << "\\200" << QByteArray("\\200") << 200;
    QTest::newRow("two digits with 0") << "\\10" << QByteArray("\\10") << 200;
    QTest::newRow("escape then line feed is text") << "\\248\n" << QByteArray("\\248\n") << 200;
    QTest::newRow("O2000") << "O2000" << QByteArray::fromHex("4f3230303000") << 500;
    QTest::newRow("O2000 and a space") << "O2000 " << QByteArray("O2000 ") << 200;
    QTest::newRow("letter command") << "H0" << QByteArray("H0\r") << 200;
    QTest::newRow("wavelength command") << "Z61,0,546.07" << QByteArray("Z61,0,546.07\r") << 200;
    QTest::newRow("slit command") << "k0,2,-5" << QByteArray("k0,2,-5\r") << 200;
    QTest::newRow("lower case from l on") << "lx" << QByteArray("lx") << 200;
    QTest::newRow("upper case not listed") << "Dx" << QByteArray("Dx") << 200;
    QTest::newRow("motor busy query") << "E" << QByteArray("E") << 200;
    QTest::newRow("space") << " " << QByteArray(" ") << 500;
    QTest::newRow("start") << "A" << QByteArray("A") << 90000;
}

void TestWidgetTriax::commandsGoOutInTheirFraming()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, wire);
    QFETCH(int, wait);

    QCOMPARE(triax->serial->openPort(), 1);
    triax->commandQueue.append(command);
    emit triax->checkQueue();

    QCOMPARE(instrument->read(int(wire.size()), 150), wire);
    auto *timer = triax->serial->findChild<QTimer *>();
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), wait);
    QVERIFY(instrument->readFor(30).isEmpty());
    QCOMPARE(triax->commandQueue.first(), command);
}

void TestWidgetTriax::connectSendsOneSpaceOnce()
{
    triax->openPort();
    triax->openPort();
    QCOMPARE(triax->commandQueue, QList<QString> { QStringLiteral(" ") });
    QCOMPARE(instrument->readFor(300), QByteArray(" "));
    // Opening does not enable the controls; the instrument's "ready" does.
    QVERIFY(!triax->leWavelength->isEnabled());
    QVERIFY(!triax->ckbVerbose->isChecked());
    QVERIFY(!triax->stopwatch.isValid());
}

void TestWidgetTriax::noDoubleTransmission()
{
    triax->openPort();
    QCOMPARE(instrument->read(1, 300), QByteArray(" "));
    triax->enableGui(true);
    QTest::keyClicks(triax->leWavelength, QStringLiteral("546.07"));
    QTest::keyClick(triax->leWavelength, Qt::Key_Return);
    QTest::keyClicks(triax->leCommandLI, QStringLiteral("H0"));
    QTest::keyClick(triax->leCommandLI, Qt::Key_Return);
    QCOMPARE(triax->commandQueue,
        (QList<QString> {
            QStringLiteral(" "), QStringLiteral("Z61,0,546.07"), QStringLiteral("H0") }));
    // An answer the wake-up does not know ends it quietly: the next commands
    // follow one by one, once each, and the polling after them.
    instrument->write("x");
    QVERIFY(instrument->readFor(300).isEmpty());
    QCOMPARE(instrument->read(13, 1000), QByteArray("Z61,0,546.07\r"));
    instrument->write("o");
    QCOMPARE(instrument->read(3, 1000), QByteArray("H0\r"));
    instrument->write("o1");
    QCOMPARE(instrument->readFor(300), QByteArray("E"));
}

void TestWidgetTriax::closeReturnsToIdle()
{
    QCOMPARE(triax->serial->openPort(), 1);
    triax->enableGui(true);
    triax->ready = 1;
    triax->displayStatus(QStringLiteral("ready"));
    triax->commandQueue = { QStringLiteral("H0"), QStringLiteral("j0,0") };

    triax->pbClose->click();
    QCOMPARE(triax->lbReady->text(), QStringLiteral("not ready"));
    QCOMPARE(triax->ready, 0);
    QVERIFY(!triax->pbClose->isEnabled());
    QVERIFY(triax->pbOpen->isEnabled());
    QVERIFY(!triax->leInSlit->isEnabled());
    QCOMPARE(triax->commandQueue.size(), 2);
    QCOMPARE(triax->serial->openPort(), 1);
}

void TestWidgetTriax::closingTheWindowClosesThePort()
{
    triax->show();
    QCOMPARE(triax->serial->openPort(), 1);
    triax->pbQuit->click();
    QVERIFY(!triax->isVisible());
    QCOMPARE(triax->serial->openPort(), 1);
}

QTEST_MAIN(TestWidgetTriax)
#include "tst_widgettriax.moc"
