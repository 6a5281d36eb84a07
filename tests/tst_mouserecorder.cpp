#include "FileSizeLimit.h"
#include "MouseListenerPrivate.h"
#include "MouseListenerPrivateNull.h"
#include "MouseListenerPrivateX11.h"
#include "MouseRecorder.h"
#include "MouseSaver.h"
#include "Presentation.h"
#include "X11Pointer.h"

#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QList<QPoint> positionsOf(const QSignalSpy &spy)
{
    QList<QPoint> positions;
    for (const QList<QVariant> &arguments : spy)
        positions.append(QPoint(arguments.at(1).toInt(), arguments.at(2).toInt()));
    return positions;
}

QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestMouseRecorder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void listenerReportsEveryDistinctPosition();
    void repeatedPositionsAreDropped();
    void secondListenerStaysSilent();
    void saverWritesQueueBeforeStopping();
    void saverQueueIsBounded();
    void saverStopsWritingAtFirstFailure();
    void recorderWritesEveryPositionBeforeStopped();
    void clockRestartCountsFromNow();
    void stopDuringStartDelay();
    void nullListenerRecordsNothing();

private:
    std::unique_ptr<X11Pointer> m_pointer;
};

void TestMouseRecorder::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X11 display");
    m_pointer = std::make_unique<X11Pointer>();
    QVERIFY(m_pointer->isValid());
}

void TestMouseRecorder::listenerReportsEveryDistinctPosition()
{
    const std::unique_ptr<MouseListenerPrivate> listener = MouseListenerPrivate::create();
    QVERIFY(dynamic_cast<MouseListenerPrivateX11 *>(listener.get()));
    QSignalSpy positions(listener.get(), &MouseListenerPrivate::mousePositionChanged);
    listener->start();
    QVERIFY(listener->isRunning());

    const QList<QPoint> targets{{100, 100}, {140, 120}, {-0, 300}, {1919, 1079}, {640, 480}};
    for (const QPoint &target : targets) {
        m_pointer->moveTo(target);
        QTRY_COMPARE(positionsOf(positions).value(positions.count() - 1), target);
    }
    QCOMPARE(positionsOf(positions), targets);

    // Relative movements are reported as well, at the position they lead to.
    m_pointer->moveBy(7, -5);
    QTRY_COMPARE(positionsOf(positions).constLast(), QPoint(647, 475));

    QSignalSpy stopped(listener.get(), &MouseListenerPrivate::stopped);
    listener->requestStop();
    QVERIFY(!listener->isRunning());
    QVERIFY(stopped.wait(1000));
    QVERIFY(listener->isStopped());
    const int count = positions.count();
    m_pointer->moveBy(10, 10);
    QTest::qWait(100);
    QCOMPARE(positions.count(), count);
}

void TestMouseRecorder::repeatedPositionsAreDropped()
{
    MouseListenerPrivateX11 listener(nullptr);
    QSignalSpy positions(&listener, &MouseListenerPrivate::mousePositionChanged);
    // The initial last position is (-1, -1): such a first report is no movement.
    listener.emitMousePositionChanged(1, -1, -1);
    listener.emitMousePositionChanged(2, 5, 5);
    listener.emitMousePositionChanged(3, 5, 5);
    listener.emitMousePositionChanged(4, 5, 6);
    listener.emitMousePositionChanged(5, 5, 6);
    listener.emitMousePositionChanged(6, 5, 5);
    QCOMPARE(positionsOf(positions), (QList<QPoint>{{5, 5}, {5, 6}, {5, 5}}));
    QCOMPARE(positions.at(0).at(0).toLongLong(), 2);
    QCOMPARE(listener.lastPositionX(), 5);
    QCOMPARE(listener.lastPositionY(), 5);
}

void TestMouseRecorder::secondListenerStaysSilent()
{
    const std::unique_ptr<MouseListenerPrivate> first = MouseListenerPrivate::create();
    const std::unique_ptr<MouseListenerPrivate> second = MouseListenerPrivate::create();
    QSignalSpy firstPositions(first.get(), &MouseListenerPrivate::mousePositionChanged);
    QSignalSpy secondPositions(second.get(), &MouseListenerPrivate::mousePositionChanged);
    first->start();
    QTest::ignoreMessage(QtDebugMsg, "[MouseListenerPrivateX11] m_currentInstance is already set.");
    second->start();
    QVERIFY(first->isRunning());
    QVERIFY(!second->isRunning());

    m_pointer->moveTo(QPoint(300, 300));
    QTRY_COMPARE(positionsOf(firstPositions).value(firstPositions.count() - 1), QPoint(300, 300));
    QCOMPARE(secondPositions.count(), 0);

    // Stopping the silent one stops only that one.
    QSignalSpy secondStopped(second.get(), &MouseListenerPrivate::stopped);
    second->requestStop();
    QVERIFY(secondStopped.wait(1000));
    QVERIFY(second->isStopped());
    QVERIFY(first->isRunning());
    m_pointer->moveTo(QPoint(310, 300));
    QTRY_COMPARE(positionsOf(firstPositions).constLast(), QPoint(310, 300));
    QCOMPARE(secondPositions.count(), 0);

    QSignalSpy firstStopped(first.get(), &MouseListenerPrivate::stopped);
    first->requestStop();
    QVERIFY(firstStopped.wait(1000));
    QVERIFY(first->isStopped());
}

void TestMouseRecorder::saverWritesQueueBeforeStopping()
{
    QTemporaryDir directory;
    MouseSaver saver{QDir(directory.path())};
    QSignalSpy saved(&saver, &MouseSaver::mousePositionSaved);
    QSignalSpy stopped(&saver, &MouseSaver::stopped);
    saver.start();
    QVERIFY(saver.isRunning());
    for (int i = 0; i < 500; ++i)
        saver.addPosition(i, i * 2, -i);
    saver.requestStop();
    saver.addPosition(1000, 1, 1); // after the stop request: not accepted
    QVERIFY(saver.wait(10000));
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(saved.count(), 500);
    QVERIFY(saver.isStopped());
    const QStringList lines = linesOf(directory.filePath(QStringLiteral("mouse_positions.txt")));
    QCOMPARE(lines.size(), 500);
    QCOMPARE(lines.constFirst(), QStringLiteral("0 0 0"));
    QCOMPARE(lines.constLast(), QStringLiteral("499 998 -499"));
}

void TestMouseRecorder::saverQueueIsBounded()
{
    QTest::failOnWarning(QRegularExpression(".*"));
    QTemporaryDir directory;
    MouseSaver saver{QDir(directory.path())};
    const int extra = 5;
    QTest::ignoreMessage(
        QtInfoMsg, "[MouseSaver] queue full, keeping only the latest position until it drains");
    QTest::ignoreMessage(QtInfoMsg, "[MouseSaver] queue drained, 5 positions were merged");
    // Not started yet, as behind a stalled disk: the queue stops growing at its bound, and the
    // newest position replaces the newest queued one.
    for (int i = 0; i < MouseSaver::maxQueuedPositions + extra; ++i)
        saver.addPosition(i, i, -i);
    saver.start();
    saver.requestStop();
    QVERIFY(saver.wait(60000));
    const QStringList lines = linesOf(directory.filePath(QStringLiteral("mouse_positions.txt")));
    QCOMPARE(lines.size(), MouseSaver::maxQueuedPositions);
    const int last = MouseSaver::maxQueuedPositions + extra - 1;
    QCOMPARE(lines.constLast(), QStringLiteral("%1 %1 -%1").arg(last));
    const int beforeLast = MouseSaver::maxQueuedPositions - 2;
    QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("%1 %1 -%1").arg(beforeLast));
}

void TestMouseRecorder::saverStopsWritingAtFirstFailure()
{
    QTest::failOnWarning(QRegularExpression(".*"));
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("mouse_positions.txt"));
    MouseSaver saver{QDir(directory.path())};
    QSignalSpy saved(&saver, &MouseSaver::mousePositionSaved);
    QSignalSpy failed(&saver, &MouseSaver::writeFailed);
    QSignalSpy stopped(&saver, &MouseSaver::stopped);
    QTest::ignoreMessage(QtWarningMsg,
                         "[MouseSaver] Cannot write mouse_positions.txt: File too large");
    {
        // Room for some seventy lines of the three hundred.
        const FileSizeLimit limit(1000);
        QVERIFY(limit.isActive());
        saver.start();
        for (int i = 0; i < 300; ++i)
            saver.addPosition(i, 1000 + i, 2000 + i);
        saver.requestStop();
        QVERIFY(saver.wait(20000));
    }
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString(),
             QStringLiteral("Cannot write mouse_positions.txt: File too large"));

    // Whole lines only, in order, and one signal for each of them.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(content.size() <= 1000);
    QVERIFY(content.endsWith('\n'));
    const QStringList lines = linesOf(path);
    QVERIFY(lines.size() > 10);
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(lines.at(i), QStringLiteral("%1 %2 %3").arg(i).arg(1000 + i).arg(2000 + i));
    QCOMPARE(saved.count(), lines.size());
}

void TestMouseRecorder::recorderWritesEveryPositionBeforeStopped()
{
    QTemporaryDir directory;
    Presentation presentation{QDir(directory.path())};
    MouseRecorder recorder;
    QSignalSpy started(&recorder, &MouseRecorder::started);
    QSignalSpy stopped(&recorder, &MouseRecorder::stopped);
    QSignalSpy positions(&recorder, &MouseRecorder::mousePositionChanged);
    QSignalSpy states(&recorder, &MouseRecorder::property_stateChanged);

    m_pointer->moveTo(QPoint(500, 500));
    recorder.requestStart(&presentation);
    QCOMPARE(recorder.state(), MouseRecorder::Starting);
    QVERIFY(started.wait(1000));
    QCOMPARE(recorder.state(), MouseRecorder::Started);

    // The position is read when the event arrives: moves made faster than the events are
    // handled collapse into fewer positions, so each move is awaited here.
    QPoint expected(500, 500);
    for (int i = 0; i < 30; ++i) {
        m_pointer->moveBy(3, 2);
        expected += QPoint(3, 2);
        QTRY_COMPARE(positionsOf(positions).value(positions.count() - 1), expected);
    }
    QCOMPARE(positions.count(), 30);
    recorder.requestStop();
    // Moves after the stop request are not recorded.
    m_pointer->moveBy(3, 2);
    QCOMPARE(recorder.state(), MouseRecorder::Stopping);
    QVERIFY(stopped.wait(5000));
    QCOMPARE(recorder.state(), MouseRecorder::Stopped);
    QCOMPARE(started.count(), 1);
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(states.count(), 4);
    QCOMPARE(recorder.positionX(), 590);
    QCOMPARE(recorder.positionY(), 560);

    // One line per reported position, in order, all on disk when stopped() came.
    const QStringList lines = linesOf(directory.filePath(QStringLiteral("mouse_positions.txt")));
    QCOMPARE(lines.size(), 30);
    QCOMPARE(positions.count(), 30);
    for (int i = 0; i < lines.size(); ++i) {
        const QList<QVariant> &arguments = positions.at(i);
        QCOMPARE(lines.at(i), QStringLiteral("%1 %2 %3")
                                  .arg(arguments.at(0).toLongLong())
                                  .arg(arguments.at(1).toLongLong())
                                  .arg(arguments.at(2).toLongLong()));
        if (i > 0)
            QVERIFY(lines.at(i).section(' ', 1) != lines.at(i - 1).section(' ', 1));
    }

    // The listener is gone: another one can listen now.
    const std::unique_ptr<MouseListenerPrivate> listener = MouseListenerPrivate::create();
    listener->start();
    QVERIFY(listener->isRunning());
}

void TestMouseRecorder::clockRestartCountsFromNow()
{
    QTemporaryDir directory;
    Presentation presentation{QDir(directory.path())};
    MouseRecorder recorder;
    QSignalSpy started(&recorder, &MouseRecorder::started);
    QSignalSpy stopped(&recorder, &MouseRecorder::stopped);
    QSignalSpy positions(&recorder, &MouseRecorder::mousePositionChanged);
    recorder.requestStart(&presentation);
    QVERIFY(started.wait(1000));
    QTest::qWait(400);
    m_pointer->moveBy(5, 0);
    QTRY_COMPARE(positions.count(), 1);
    const qint64 before = positions.at(0).at(0).toLongLong();
    QVERIFY(before >= 400);
    recorder.restartMouseTimer();
    m_pointer->moveBy(5, 0);
    QTRY_COMPARE(positions.count(), 2);
    QVERIFY(positions.at(1).at(0).toLongLong() < before);
    recorder.requestStop();
    QVERIFY(stopped.wait(5000));
}

void TestMouseRecorder::stopDuringStartDelay()
{
    QTemporaryDir directory;
    Presentation presentation{QDir(directory.path())};
    MouseRecorder recorder;
    QSignalSpy started(&recorder, &MouseRecorder::started);
    QSignalSpy stopped(&recorder, &MouseRecorder::stopped);
    recorder.requestStart(&presentation);
    recorder.requestStop();
    QCOMPARE(recorder.state(), MouseRecorder::Stopping);
    QVERIFY(stopped.wait(1000));
    QCOMPARE(recorder.state(), MouseRecorder::Stopped);
    QCOMPARE(started.count(), 0);
    m_pointer->moveBy(4, 4);
    QTest::qWait(200);
    QCOMPARE(stopped.count(), 1);
    QVERIFY(!QFile::exists(directory.filePath(QStringLiteral("mouse_positions.txt"))));

    // A new recording starts normally afterwards.
    recorder.requestStart(&presentation);
    QVERIFY(started.wait(1000));
    recorder.requestStop();
    QVERIFY(stopped.wait(5000));
    QCOMPARE(stopped.count(), 2);
}

void TestMouseRecorder::nullListenerRecordsNothing()
{
    qputenv("QUILLORA_MOUSE_LISTENER", "null");
    auto restore = qScopeGuard([] { qunsetenv("QUILLORA_MOUSE_LISTENER"); });
    QTemporaryDir directory;
    Presentation presentation{QDir(directory.path())};
    MouseRecorder recorder;
    QSignalSpy started(&recorder, &MouseRecorder::started);
    QSignalSpy stopped(&recorder, &MouseRecorder::stopped);
    QSignalSpy positions(&recorder, &MouseRecorder::mousePositionChanged);
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("^\\[MouseListenerPrivateNull\\] "));
    recorder.requestStart(&presentation);
    QVERIFY(started.wait(1000));
    m_pointer->moveBy(6, 6);
    QTest::qWait(100);
    recorder.requestStop();
    QVERIFY(stopped.wait(1000));
    QCOMPARE(positions.count(), 0);
    QVERIFY(!QFile::exists(directory.filePath(QStringLiteral("mouse_positions.txt"))));
}

QTEST_MAIN(TestMouseRecorder)
#include "tst_mouserecorder.moc"
