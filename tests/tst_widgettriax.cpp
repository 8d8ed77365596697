#include "commandline.h"
#include "panelsettings.h"
#include "pseudoterminal.h"
#include "readback.h"
#include "triaxcontroller.h"
#include "widgettriax.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <memory>

// The window on a controller whose instrument is the test, at the far end of
// a pseudo-terminal: what the operator's edits ask of the controller, and how
// the window looks in each state the controller reaches.
class TestWidgetTriax : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startsIdle();
    void looksFollowTheInstrument();
    void openFailureShowsWhy();
    void editsReachTheController_data();
    void editsReachTheController();
    void gratingChoice();
    void quitClosesThePort();
    void chosenDeviceIsOpenedAndRemembered();
    void warningsAndTracesReachTheLog();

private:
    template<typename T = QWidget>
    T *widget(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    // The widgets of the window that take input, the ones enabled now.
    QStringList enabled() const;
    // Connects, the window idle while the instrument wakes up, and answers the
    // wake-up, so that the instrument reads back.
    void wakeUp();
    // Types device into the chooser, replacing what it shows.
    void choose(const QString &device);

    std::unique_ptr<PseudoTerminal> instrument;
    std::unique_ptr<TriaxController> controller;
    std::unique_ptr<WidgetTriax> window;
};

namespace {

using State = TriaxController::State;

const QStringList idleLook { "pbOpen", "pbQuit", "ckbVerbose" };
const QStringList connectedLook { "pbClose", "ckbVerbose", "leCommandLI", "leWavelength",
    "leMotPos", "leMoveRel", "leInSlit", "leOutSlit", "cbGrating" };

} // namespace

void TestWidgetTriax::initTestCase()
{
    // Field texts must be read the same way in any locale the lab runs.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void TestWidgetTriax::init()
{
    instrument = std::make_unique<PseudoTerminal>();
    QVERIFY(instrument->isValid());
    controller = std::make_unique<TriaxController>(instrument->devicePath());
    window = std::make_unique<WidgetTriax>(controller.get(), QStringLiteral("9123"));
}

void TestWidgetTriax::cleanup()
{
    window.reset();
    controller.reset();
    instrument.reset();
}

QStringList TestWidgetTriax::enabled() const
{
    QStringList on;
    for (const char *name :
        { "pbOpen", "pbClose", "pbQuit", "pbShutterOpenClose", "ckbVerbose", "leCommandLI",
            "leWavelength", "leMotPos", "leMoveRel", "leInSlit", "leOutSlit", "cbGrating" }) {
        if (widget(name)->isEnabled())
            on << QLatin1String(name);
    }
    return on;
}

void TestWidgetTriax::wakeUp()
{
    widget<QPushButton>("pbOpen")->click();
    QCOMPARE(controller->state(), State::WakingUp);
    QCOMPARE(enabled(), idleLook);
    QCOMPARE(instrument->read(1, 1000), QByteArray(" "));
    instrument->write("F");
    QTRY_COMPARE_WITH_TIMEOUT(controller->state(), State::ReadingBack, 2000);
}

void TestWidgetTriax::startsIdle()
{
    QCOMPARE(widget<QLabel>("lbPortValue")->text(), QStringLiteral("9123"));
    QCOMPARE(widget<QLabel>("lbDeviceValue")->text(), instrument->devicePath());
    QCOMPARE(widget<QLabel>("lbReady")->text(), QStringLiteral("not ready"));
    QCOMPARE(enabled(), idleLook);
    QVERIFY(widget<QLineEdit>("leMotPos")->isReadOnly());

    // The box's index is the number of the grating the instrument is sent,
    // and filling the box must not have sent one.
    const auto *gratings = widget<QComboBox>("cbGrating");
    QCOMPARE(gratings->count(), 3);
    for (int index = 0; index < gratings->count(); ++index)
        QVERIFY(gratings->itemText(index).startsWith(QStringLiteral("G%1:").arg(index)));
    QCOMPARE(gratings->currentIndex(), 0);
    QVERIFY(controller->queuedCommands().isEmpty());
    QVERIFY(instrument->readFor(100).isEmpty());

    QTextDocument wavelengthLabel;
    wavelengthLabel.setHtml(widget<QLabel>("lbWavelength")->text());
    QCOMPARE(wavelengthLabel.toPlainText(), QString(QChar(0x03BB)) + QStringLiteral(" (nm)"));
}

// Through a start-up, a read-back that finds another grating, its motion and
// an instrument that falls silent while the motor is polled.
void TestWidgetTriax::looksFollowTheInstrument()
{
    const auto *status = widget<QLabel>("lbReady");
    wakeUp();
    QCOMPARE(status->text(), QStringLiteral("ready"));
    QCOMPARE(enabled(), connectedLook);

    const QHash<QString, QByteArray> answers { { "H0", "o20000" }, { "Z62,0", "o500.000" },
        { "j0,0", "o1000" }, { "j0,2", "o0" }, { "Z452,0,0,0", "o1" } };
    for (const QByteArray &command : readBackOnTheLine(TriaxProtocol::ReadBackAfter::WakeUp)) {
        QCOMPARE(instrument->read(int(command.size()), 1000), command);
        instrument->write(answers.value(QString::fromLatin1(command.chopped(1))));
    }
    // The box shows the grating found without asking for it a second time.
    QCOMPARE(instrument->read(13, 1000), QByteArray("Z451,0,0,0,1\r"));
    QCOMPARE(widget<QComboBox>("cbGrating")->currentIndex(), 1);
    const QStringList shown { widget<QLineEdit>("leMotPos")->text(),
        widget<QLineEdit>("leWavelength")->text(), widget<QLineEdit>("leInSlit")->text(),
        widget<QLineEdit>("leOutSlit")->text() };
    QCOMPARE(shown, QStringList({ "20000", "500.00", "1000", "0" }));
    // Open while the grating moves, but its requests wait for the motor.
    QCOMPARE(controller->state(), State::Moving);
    QCOMPARE(enabled(), QStringList({ "pbClose", "ckbVerbose", "leCommandLI", "leMotPos" }));

    instrument->write("o");
    QCOMPARE(instrument->read(1, 1000), QByteArray("E"));
    QCOMPARE(status->text(), QStringLiteral("motor busy"));
    QCOMPARE(enabled(), QStringList { "ckbVerbose" });

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^instrument: no answer to \"E\""));
    QTRY_COMPARE_WITH_TIMEOUT(controller->state(), State::NoAnswer, 3000);
    QCOMPARE(status->text(), QStringLiteral("no answer"));
    QCOMPARE(enabled(), QStringList({ "pbClose", "pbQuit", "ckbVerbose" }));

    widget<QPushButton>("pbClose")->click();
    QCOMPARE(status->text(), QStringLiteral("not ready"));
    QCOMPARE(enabled(), idleLook);
}

void TestWidgetTriax::openFailureShowsWhy()
{
    controller = std::make_unique<TriaxController>(QStringLiteral("/nonexistent/tty"));
    window = std::make_unique<WidgetTriax>(controller.get(), QStringLiteral("9123"));
    QCOMPARE(widget<QLabel>("lbDeviceValue")->text(), QStringLiteral("/nonexistent/tty"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^serial port /nonexistent/tty: "));
    widget<QPushButton>("pbOpen")->click();
    QCOMPARE(widget<QLabel>("lbReady")->text(), QStringLiteral("file not found: /nonexistent/tty"));
    QCOMPARE(enabled(), idleLook);
}

void TestWidgetTriax::editsReachTheController_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("command"); // empty: nothing is queued

    const auto row
        = [](const char *name, const char *field, const char *typed, const char *command) {
              QTest::newRow(name) << QString::fromLatin1(field) << QString::fromLatin1(typed)
                                  << QString::fromLatin1(command);
          };
    // The instrument is sent the digits as typed.
    row("wavelength, trailing zero", "leWavelength", "546.10", "Z61,0,546.10");
    row("wavelength, comma", "leWavelength", "546,07", "");
    row("wavelength, exponent", "leWavelength", "5.4607e2", "");
    // A refused key leaves the field as it was before the keystroke.
    row("wavelength, group separator refused", "leWavelength", "1,300", "Z61,0,1300");
    row("wavelength, third decimal refused", "leWavelength", "546.071", "Z61,0,546.07");
    row("move", "leMoveRel", "-10000", "F0,-10000");
    row("move, sign", "leMoveRel", "+100", "F0,+100");
    // Relative to the width read back, which has not come yet.
    row("in slit, group separator refused", "leInSlit", "1.000", "k0,0,1000");
    row("out slit", "leOutSlit", "1400", "k0,2,1400");
    row("typed command", "leCommandLI", "G0,1 x", "G0,1 x");
    row("empty typed command", "leCommandLI", "", "");
}

void TestWidgetTriax::editsReachTheController()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, command);

    wakeUp();
    // The read-back is queued, its first command unanswered in flight.
    const qsizetype readBack = controller->queuedCommands().size();
    auto *edit = widget<QLineEdit>(qPrintable(field));
    QVERIFY(edit);
    QTest::keyClicks(edit, typed);
    QTest::keyClick(edit, Qt::Key_Return);

    const QList<QString> queued = controller->queuedCommands().mid(readBack);
    QCOMPARE(queued, command.isEmpty() ? QList<QString>() : QList<QString> { command });
    if (field == QLatin1String("leCommandLI"))
        QCOMPARE(edit->text(), typed);
}

void TestWidgetTriax::gratingChoice()
{
    wakeUp();
    widget<QComboBox>("cbGrating")->setCurrentIndex(2);
    QCOMPARE(controller->queuedCommands().last(), QStringLiteral("Z451,0,0,0,2"));
}

void TestWidgetTriax::quitClosesThePort()
{
    window->show();
    widget<QPushButton>("pbOpen")->click();
    QCOMPARE(controller->state(), State::WakingUp);
    widget<QPushButton>("pbQuit")->click();
    QVERIFY(!window->isVisible());
    QCOMPARE(controller->state(), State::Closed);
}

void TestWidgetTriax::choose(const QString &device)
{
    auto *chooser = widget<QComboBox>("cbDevice");
    chooser->clearEditText();
    QTest::keyClicks(chooser->lineEdit(), device);
}

// A pseudo-terminal's name does not last, so a lasting link to it stands for
// the instrument's device on the next start.
void TestWidgetTriax::chosenDeviceIsOpenedAndRemembered()
{
    QTemporaryDir directory;
    const QString link = directory.filePath(QStringLiteral("triax"));
    QVERIFY(QFile::link(instrument->devicePath(), link));
    const QString fileName = directory.filePath(QStringLiteral("monopanel.conf"));
    PanelSettings settings(fileName);
    window.reset();
    controller = std::make_unique<TriaxController>(QStringLiteral("/nonexistent/tty"));
    settings.rememberDeviceOf(controller.get());
    window = std::make_unique<WidgetTriax>(controller.get(), QStringLiteral("9123"));

    choose(instrument->devicePath());
    wakeUp();
    QVERIFY(!widget("cbDevice")->isEnabled());
    QCOMPARE(settings.lastDevice(), QString());
    QCOMPARE(instrument->read(3, 1000), QByteArray("H0\r"));
    widget<QPushButton>("pbClose")->click();
    // The read-back in flight ends before the next connection starts.
    QTRY_VERIFY_WITH_TIMEOUT(controller->queuedCommands().isEmpty(), 1000);

    choose(link);
    QCOMPARE(widget<QLabel>("lbDeviceValue")->text(), link);
    wakeUp();
    QCOMPARE(settings.lastDevice(), link);

    const PanelSettings next(fileName);
    QCOMPARE(next.device(CommandLine::fromArguments({ "monopanel", "9000" })), link);
    QCOMPARE(next.device(CommandLine::fromArguments({ "monopanel", "/dev/ttyUSB0", "9000" })),
        QStringLiteral("/dev/ttyUSB0"));
    TriaxController nextController(next.device(CommandLine::fromArguments({ "monopanel" })));
    const WidgetTriax nextWindow(&nextController, QStringLiteral("9123"));
    QCOMPARE(nextWindow.findChild<QComboBox *>(QStringLiteral("cbDevice"))->currentText(), link);
}

void TestWidgetTriax::warningsAndTracesReachTheLog()
{
    const auto *log = widget<QPlainTextEdit>("teLog");
    auto *verbose = widget<QCheckBox>("ckbVerbose");
    QVERIFY(!verbose->isChecked());
    verbose->click();
    // A window on a controller made verbose from the environment shows it so.
    const WidgetTriax second(controller.get(), QStringLiteral("9123"));
    QVERIFY(second.findChild<QCheckBox *>(QStringLiteral("ckbVerbose"))->isChecked());
    wakeUp();
    const QString time = QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
    QVERIFY2(QRegularExpression(time + "tx: \" \" rx: \"F\" elapsed time \\(ms\\): \\d+$",
                 QRegularExpression::MultilineOption)
                 .match(log->toPlainText())
                 .hasMatch(),
        qPrintable(log->toPlainText()));

    const QString lost = QStringLiteral("serial port %1 lost: ").arg(instrument->devicePath());
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(lost)));
    instrument.reset();
    QTRY_COMPARE_WITH_TIMEOUT(controller->state(), State::PortLost, 2000);
    const QString last = log->toPlainText().section(u'\n', -1);
    QVERIFY2(QRegularExpression(time + QRegularExpression::escape(lost)).match(last).hasMatch(),
        qPrintable(last));
}

QTEST_MAIN(TestWidgetTriax)
#include "tst_widgettriax.moc"
