#include "FileSizeLimit.h"
#include "Presentation.h"
#include "ScreenGeometryRecorder.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The file holds compact objects back to back: split them at the closing brace of each.
QList<QJsonObject> snapshotsIn(const QString &path, QByteArray *raw = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = file.readAll();
    if (raw)
        *raw = content;
    QList<QJsonObject> snapshots;
    int depth = 0;
    bool inString = false;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < content.size(); ++i) {
        const char c = content.at(i);
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{') {
            if (depth++ == 0)
                begin = i;
        } else if (c == '}' && --depth == 0) {
            snapshots.append(QJsonDocument::fromJson(content.mid(begin, i - begin + 1)).object());
        }
    }
    return snapshots;
}

bool xrandr(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xrandr"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

class TestScreenGeometryRecorder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void snapshotAfterClockRestart();
    void restartDuringStartDelayWritesAtOnce();
    void nothingWrittenAfterStop();
    void stopDuringStartDelay();
    void screenChangesAppendSnapshots();
    void failedWriteKeepsWholeSnapshots();

private:
    QString geometryFile() const
    {
        return m_directory->filePath(QStringLiteral("screens_geometry.txt"));
    }
    std::unique_ptr<QTemporaryDir> m_directory;
};

void TestScreenGeometryRecorder::initTestCase()
{
    QVERIFY(!QGuiApplication::screens().isEmpty());
}

void TestScreenGeometryRecorder::init()
{
    m_directory = std::make_unique<QTemporaryDir>();
    QVERIFY(m_directory->isValid());
}

void TestScreenGeometryRecorder::snapshotAfterClockRestart()
{
    Presentation presentation{QDir(m_directory->path())};
    ScreenGeometryRecorder recorder;
    QSignalSpy started(&recorder, &ScreenGeometryRecorder::started);
    recorder.requestStart(&presentation);
    QCOMPARE(recorder.state(), ScreenGeometryRecorder::Starting);
    QVERIFY(started.wait(1000));
    QCOMPARE(recorder.state(), ScreenGeometryRecorder::Started);
    QVERIFY(!QFile::exists(geometryFile())); // starting writes nothing by itself

    QTest::qWait(300);
    recorder.restartRecordingTimer();
    QTRY_COMPARE(snapshotsIn(geometryFile()).size(), 1);
    QByteArray raw;
    const QJsonObject snapshot = snapshotsIn(geometryFile(), &raw).constFirst();
    QVERIFY(!raw.contains('\n'));
    QVERIFY(raw.startsWith("{\"screens\":[{\"available_geometry\":{\"height\":"));
    QCOMPARE(snapshot.keys(), (QStringList{"screens", "time"}));
    QVERIFY(snapshot.value("time").isDouble());
    QVERIFY(snapshot.value("time").toInteger() < 300);

    const QList<QScreen *> screens = QGuiApplication::screens();
    const QJsonArray array = snapshot.value("screens").toArray();
    QCOMPARE(array.size(), screens.size());
    const QStringList keys{"available_geometry",
                           "available_virtual_geometry",
                           "depth",
                           "device_pixel_ratio",
                           "geometry",
                           "index",
                           "logical_dots_per_inch",
                           "logical_dots_per_inch_x",
                           "logical_dots_per_inch_y",
                           "manufacturer",
                           "model",
                           "name",
                           "native_orientation",
                           "orientation",
                           "physical_dots_per_inch",
                           "physical_dots_per_inch_x",
                           "physical_dots_per_inch_y",
                           "primary_orientation",
                           "virtual_geometry"};
    for (int i = 0; i < array.size(); ++i) {
        const QJsonObject screen = array.at(i).toObject();
        QCOMPARE(screen.keys(), keys);
        QCOMPARE(screen.value("index").toInt(), i);
        const QJsonObject geometry = screen.value("geometry").toObject();
        QCOMPARE(geometry.keys(), (QStringList{"height", "width", "x", "y"}));
        QCOMPARE(QRect(geometry.value("x").toInt(), geometry.value("y").toInt(),
                       geometry.value("width").toInt(), geometry.value("height").toInt()),
                 screens.at(i)->geometry());
        QCOMPARE(screen.value("name").toString(), screens.at(i)->name());
        QCOMPARE(screen.value("depth").toInt(), screens.at(i)->depth());
        QCOMPARE(screen.value("orientation").toInt(), int(screens.at(i)->orientation()));
    }
    QCOMPARE(array.at(0).toObject().value("name").toString(),
             QGuiApplication::primaryScreen()->name());

    QSignalSpy stopped(&recorder, &ScreenGeometryRecorder::stopped);
    recorder.requestStop();
    QVERIFY(stopped.wait(1000));
}

void TestScreenGeometryRecorder::restartDuringStartDelayWritesAtOnce()
{
    Presentation presentation{QDir(m_directory->path())};
    ScreenGeometryRecorder recorder;
    QSignalSpy started(&recorder, &ScreenGeometryRecorder::started);
    recorder.requestStart(&presentation);
    recorder.restartRecordingTimer();
    QTRY_COMPARE(snapshotsIn(geometryFile()).size(), 1);
    QCOMPARE(started.count(), 0);
    QVERIFY(snapshotsIn(geometryFile()).constFirst().value("time").toInteger() <
            ScreenGeometryRecorder::startDelayMs);
    QVERIFY(started.wait(1000));
    QSignalSpy stopped(&recorder, &ScreenGeometryRecorder::stopped);
    recorder.requestStop();
    QVERIFY(stopped.wait(1000));
    QCOMPARE(snapshotsIn(geometryFile()).size(), 1);
}

void TestScreenGeometryRecorder::nothingWrittenAfterStop()
{
    Presentation presentation{QDir(m_directory->path())};
    ScreenGeometryRecorder recorder;
    QSignalSpy started(&recorder, &ScreenGeometryRecorder::started);
    QSignalSpy stopped(&recorder, &ScreenGeometryRecorder::stopped);
    recorder.requestStart(&presentation);
    QVERIFY(started.wait(1000));
    recorder.restartRecordingTimer();
    QTRY_COMPARE(snapshotsIn(geometryFile()).size(), 1);
    recorder.requestStop();
    QCOMPARE(recorder.state(), ScreenGeometryRecorder::Stopping);
    QVERIFY(stopped.wait(1000));
    QCOMPARE(recorder.state(), ScreenGeometryRecorder::Stopped);
    QCOMPARE(stopped.count(), 1);

    recorder.restartRecordingTimer();
    recorder.requestStop(); // no effect when stopped
    QTest::qWait(300);
    QCOMPARE(snapshotsIn(geometryFile()).size(), 1);
    QCOMPARE(stopped.count(), 1);
}

void TestScreenGeometryRecorder::stopDuringStartDelay()
{
    Presentation presentation{QDir(m_directory->path())};
    ScreenGeometryRecorder recorder;
    QSignalSpy started(&recorder, &ScreenGeometryRecorder::started);
    QSignalSpy stopped(&recorder, &ScreenGeometryRecorder::stopped);
    recorder.requestStart(&presentation);
    recorder.requestStop();
    QCOMPARE(recorder.state(), ScreenGeometryRecorder::Stopping);
    QVERIFY(stopped.wait(1000));
    QCOMPARE(recorder.state(), ScreenGeometryRecorder::Stopped);
    QCOMPARE(started.count(), 0);
    recorder.restartRecordingTimer();
    QTest::qWait(200);
    QVERIFY(!QFile::exists(geometryFile()));
}

void TestScreenGeometryRecorder::screenChangesAppendSnapshots()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb") ||
        QGuiApplication::screens().size() != 1)
        QSKIP("needs a single-screen X11 display");
    const QRect full = QGuiApplication::primaryScreen()->geometry();
    Presentation presentation{QDir(m_directory->path())};
    ScreenGeometryRecorder recorder;
    QSignalSpy started(&recorder, &ScreenGeometryRecorder::started);
    recorder.requestStart(&presentation);
    QVERIFY(started.wait(1000));

    // Split the screen into two monitors, as a second monitor plugged in would.
    const int half = full.width() / 2;
    const QString left = QStringLiteral("%1/300x%2/300+0+0").arg(half).arg(full.height());
    const QString right = QStringLiteral("%1/300x%2/300+%1+0").arg(half).arg(full.height());
    if (!xrandr({"--setmonitor", "QLEFT", left, "screen"}))
        QSKIP("xrandr cannot add monitors here");
    auto restore = qScopeGuard([] {
        xrandr({"--delmonitor", "QRIGHT"});
        xrandr({"--delmonitor", "QLEFT"});
    });
    QVERIFY(xrandr({"--setmonitor", "QRIGHT", right, "none"}));
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::screens().size(), 2, 5000);
    QTRY_VERIFY(!snapshotsIn(geometryFile()).isEmpty() &&
                snapshotsIn(geometryFile()).constLast().value("screens").toArray().size() == 2);
    const QJsonArray two = snapshotsIn(geometryFile()).constLast().value("screens").toArray();
    QCOMPARE(two.at(1).toObject().value("index").toInt(), 1);

    restore.dismiss();
    xrandr({"--delmonitor", "QRIGHT"});
    xrandr({"--delmonitor", "QLEFT"});
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::screens().size(), 1, 5000);
    QTRY_COMPARE(snapshotsIn(geometryFile()).constLast().value("screens").toArray().size(), 1);

    QSignalSpy stopped(&recorder, &ScreenGeometryRecorder::stopped);
    recorder.requestStop();
    QVERIFY(stopped.wait(1000));
    const qsizetype count = snapshotsIn(geometryFile()).size();
    // Changes after the stop are not recorded.
    QVERIFY(xrandr({"--setmonitor", "QLEFT", left, "screen"}));
    QVERIFY(xrandr({"--setmonitor", "QRIGHT", right, "none"}));
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::screens().size(), 2, 5000);
    xrandr({"--delmonitor", "QRIGHT"});
    xrandr({"--delmonitor", "QLEFT"});
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::screens().size(), 1, 5000);
    QCOMPARE(snapshotsIn(geometryFile()).size(), count);
}

void TestScreenGeometryRecorder::failedWriteKeepsWholeSnapshots()
{
    QTest::failOnWarning(QRegularExpression(".*"));
    Presentation presentation{QDir(m_directory->path())};
    ScreenGeometryRecorder recorder;
    QSignalSpy started(&recorder, &ScreenGeometryRecorder::started);
    QSignalSpy failed(&recorder, &ScreenGeometryRecorder::writeFailed);
    recorder.requestStart(&presentation);
    QVERIFY(started.wait(1000));
    recorder.restartRecordingTimer();
    QTRY_COMPARE(snapshotsIn(geometryFile()).size(), 1);
    const qint64 oneSnapshot = QFileInfo(geometryFile()).size();

    QTest::ignoreMessage(
        QtWarningMsg, "[ScreenGeometryRecorder] Cannot write screens_geometry.txt: File too large");
    {
        // Room for a second snapshot and half of a third.
        const FileSizeLimit limit(oneSnapshot * 5 / 2);
        QVERIFY(limit.isActive());
        recorder.restartRecordingTimer();
        QTRY_COMPARE(snapshotsIn(geometryFile()).size(), 2);
        recorder.restartRecordingTimer();
        QTRY_COMPARE(failed.count(), 1);
    }
    QCOMPARE(failed.at(0).at(0).toString(),
             QStringLiteral("Cannot write screens_geometry.txt: File too large"));
    QByteArray raw;
    QCOMPARE(snapshotsIn(geometryFile(), &raw).size(), 2);
    QVERIFY(raw.endsWith('}'));
    const qint64 sizeAfterFailure = raw.size();

    // Nothing more in this recording, even with room again.
    recorder.restartRecordingTimer();
    QTest::qWait(200);
    QCOMPARE(QFileInfo(geometryFile()).size(), sizeAfterFailure);
    QCOMPARE(failed.count(), 1);

    QSignalSpy stopped(&recorder, &ScreenGeometryRecorder::stopped);
    recorder.requestStop();
    QVERIFY(stopped.wait(1000));
}

QTEST_MAIN(TestScreenGeometryRecorder)
#include "tst_screengeometryrecorder.moc"
