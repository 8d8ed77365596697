#include "kelpXmlRpcServer.h"
#include "panelmirror.h"

#include <QTest>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <thread>

// The panel as the device server sees it, its state scripted by the test step by step.
class FakePanel : public QObject
{
    Q_OBJECT

public:
    QVariantMap state { { "state", "ready" }, { "text", "ready" }, { "reason", "" },
        { "readBacks", 1 }, { "ready", 1 }, { "wavelength", 500.0 }, { "position", 20000 },
        { "inSlit", 100 }, { "outSlit", 100 }, { "grating", 0 } };
    QStringList calls;
    int polls = 0;

    void set(const QVariantMap &changes)
    {
        for (auto it = changes.cbegin(); it != changes.cend(); ++it)
            state.insert(it.key(), it.value());
    }

public Q_SLOTS:
    QVariantMap getState()
    {
        ++polls;
        return state;
    }
    // As the panel does: a motion is taken only when ready.
    void setWavelength(double)
    {
        calls << "setWavelength";
        if (state.value("ready").toInt() == 1)
            set({ { "ready", 0 }, { "state", "busy" } });
    }
    int connect()
    {
        calls << "connect";
        return 0;
    }
    int close()
    {
        calls << "close";
        return 0;
    }
};

// PanelMirror against a fake panel: when a move ends, when a fault shows, and that no
// snapshot ever shows the end of a move with the values from before it.
class TestPanelMirror : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void moveEndsWhenTheReadBackCountPasses();
    void faultsShowWithinOnePoll();

private:
    bool waitPolls(int count);
    PanelSnapshot::State state() const { return mirror->snapshot().state; }

    std::unique_ptr<FakePanel> panel;
    std::unique_ptr<KelpXmlRpcServer> server;
    std::unique_ptr<PanelMirror> mirror;
    std::thread watcher;
    std::mutex seenMutex;
    QList<PanelSnapshot> seen;
};

void TestPanelMirror::init()
{
    panel = std::make_unique<FakePanel>();
    server = std::make_unique<KelpXmlRpcServer>(QHostAddress::LocalHost, 0);
    for (const char *name : { "getState", "setWavelength", "connect", "close" })
        server->addMethod(QString::fromLatin1(name), panel.get(), name);
    mirror = std::make_unique<PanelMirror>(
        QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server->serverPort())));
    seen.clear();
    // Every snapshot published, as the device's event thread reads them.
    watcher = std::thread([this] {
        quint64 generation = 0;
        while (const std::optional<PanelSnapshot> now = mirror->waitForChange(generation)) {
            generation = now->generation;
            const std::lock_guard<std::mutex> lock(seenMutex);
            seen.append(*now);
        }
    });
    mirror->start();
    QTRY_COMPARE(state(), PanelSnapshot::State::On);
}

void TestPanelMirror::cleanup()
{
    mirror->stopWaiting();
    watcher.join();
    mirror.reset();
    server.reset();
    panel.reset();
}

bool TestPanelMirror::waitPolls(int count)
{
    const int until = panel->polls + count;
    return QTest::qWaitFor([&] { return panel->polls >= until; }, 5000);
}

void TestPanelMirror::moveEndsWhenTheReadBackCountPasses()
{
    PanelSnapshot refusal;
    QVERIFY(mirror->request({ PanelRequest::Kind::Wavelength, 546.07 }, &refusal));
    QCOMPARE(state(), PanelSnapshot::State::Moving);
    QVERIFY(!mirror->request({ PanelRequest::Kind::Wavelength, 600.0 }, &refusal));
    QCOMPARE(refusal.state, PanelSnapshot::State::Moving);
    QTRY_COMPARE(panel->calls, QStringList { "setWavelength" });

    // Ready again, but still with the count from before: the read-back has not come in.
    panel->set({ { "state", "reading back" }, { "ready", 1 } });
    QVERIFY(waitPolls(2));
    panel->set({ { "state", "ready" } });
    QVERIFY(waitPolls(2));
    QCOMPARE(state(), PanelSnapshot::State::Moving);

    panel->set({ { "readBacks", 2 }, { "wavelength", 546.07 }, { "position", 21843 } });
    QTRY_COMPARE(state(), PanelSnapshot::State::On);
    QCOMPARE(mirror->snapshot().wavelength, 546.07);
    QCOMPARE(mirror->snapshot().position, 21843);

    const std::lock_guard<std::mutex> lock(seenMutex);
    bool moved = false;
    for (const PanelSnapshot &snapshot : std::as_const(seen)) {
        moved = moved || snapshot.state == PanelSnapshot::State::Moving;
        if (moved && snapshot.state == PanelSnapshot::State::On)
            QCOMPARE(snapshot.wavelength, 546.07);
    }
    QVERIFY(moved);
}

void TestPanelMirror::faultsShowWithinOnePoll()
{
    PanelSnapshot refusal;
    QVERIFY(mirror->request({ PanelRequest::Kind::Wavelength, 546.07 }, &refusal));
    QTRY_COMPARE(panel->calls, QStringList { "setWavelength" });
    const QString reason = QStringLiteral(
        "instrument: no answer to \"E\" after 4 tries, last reception \"RX_ERROR: empty "
        "answer/timeout ?\"");
    panel->set({ { "state", "no answer" }, { "text", "no answer" }, { "reason", reason } });
    int polls = panel->polls;
    QTRY_COMPARE(state(), PanelSnapshot::State::Fault);
    QVERIFY(panel->polls <= polls + 1);
    QVERIFY2(mirror->snapshot().status.contains(reason), qPrintable(mirror->snapshot().status));

    // Connect on a fault is the operator's close, then connect.
    QVERIFY(mirror->request({ PanelRequest::Kind::Connect, 0 }, &refusal));
    QTRY_COMPARE(panel->calls, QStringList({ "setWavelength", "close", "connect" }));
    panel->set({ { "state", "waking up" }, { "text", "not ready" }, { "reason", "" } });
    QTRY_COMPARE(state(), PanelSnapshot::State::Init);

    panel->set({ { "state", "port lost" }, { "text", "port lost" },
        { "reason", "serial port /dev/ttyUSB0 lost: reading from the device failed" } });
    polls = panel->polls;
    QTRY_COMPARE(state(), PanelSnapshot::State::Fault);
    QVERIFY(panel->polls <= polls + 1);
    QVERIFY(mirror->snapshot().status.contains(QLatin1String("reading from the device failed")));

    server.reset();
    QTRY_VERIFY(mirror->snapshot().status.contains(QLatin1String("cannot be reached")));
    QCOMPARE(state(), PanelSnapshot::State::Fault);
}

QTEST_MAIN(TestPanelMirror)
#include "tst_panelmirror.moc"
