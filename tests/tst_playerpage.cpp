#include "ChromiumDevTools.h"
#include "ExportControl.h"
#include "ExportTestPresentation.h"
#include "FileSizeLimit.h"
#include "HeadlessChromium.h"
#include "PlayerPageWriter.h"
#include "RecordedPresentation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// The value of an attribute of the first element matching openTag in a serialized DOM; a null
// string when the element or the attribute is missing.
QString attribute(const QString &dom, const QString &openTag, const QString &name)
{
    const QRegularExpressionMatch element = QRegularExpression(openTag).match(dom);
    if (!element.hasMatch())
        return {};
    const QRegularExpressionMatch value =
        QRegularExpression(QStringLiteral("\\s%1=\"([^\"]*)\"").arg(name))
            .match(element.captured(0));
    if (!value.hasMatch())
        return {};
    return value.captured(1).replace(QLatin1String("&amp;"), QLatin1String("&"));
}

QStringList withoutData(QStringList urls)
{
    urls.removeIf([](const QString &url) { return url.startsWith(QLatin1String("data:")); });
    return urls;
}

QString screenTag(int screen)
{
    return QStringLiteral("<img\\b[^>]*\\bid=\"slide-screen-%1\"[^>]*>").arg(screen);
}

// Drops the effective user id to nobody while it lives: root writes into read-only directories.
class UnprivilegedScope
{
public:
    UnprivilegedScope()
    {
        if (::geteuid() == 0)
            m_dropped = ::seteuid(65534) == 0;
    }
    ~UnprivilegedScope()
    {
        if (m_dropped)
            (void)::seteuid(0);
    }
    UnprivilegedScope(const UnprivilegedScope &) = delete;
    UnprivilegedScope &operator=(const UnprivilegedScope &) = delete;

private:
    bool m_dropped = false;
};

} // namespace

class PlayerPageTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    // One screen, slides from the start: the page written beside it as index.html.
    QString m_single;
    // Two screens, the first slide after the start, a title that tries to break the page, a
    // directory name that needs percent-encoding; the page written into another directory.
    QString m_dual;
    QString m_dualPage;
    const QString m_dualTitle =
        QStringLiteral("Q&A <b>bold</b> </script><script>document.title='broken'</script> "
                       "@PLAYER_DATA@ \"quoted\" \u00fcber");

    static bool load(const QString &dir, RecordedPresentation *presentation)
    {
        QString error;
        const bool loaded = presentation->load(QDir(dir), &error);
        if (!loaded)
            qDebug() << "loading" << dir << "failed:" << error;
        return loaded;
    }

    static bool writePage(const QString &dir, const QString &output, QString *error)
    {
        RecordedPresentation presentation;
        if (!load(dir, &presentation))
            return false;
        PlayerPageWriter writer;
        ExportControl control;
        const bool written = writer.write(presentation, output, control, error);
        return written && control.progress() == 100;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // Traversable for the unprivileged write below.
        QVERIFY(QFile::setPermissions(m_root.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                         QFile::ExeOwner | QFile::ReadOther |
                                                         QFile::ExeOther));
        const QDir root(m_root.path());
        m_single = ExportTestPresentation::create(
            root, QStringLiteral("single"), QStringLiteral("Single screen"),
            {{0, {1}}, {2500, {2}}, {6000, {3}}, {9000, {4}}}, 12000, 320, 180);
        QVERIFY(!m_single.isEmpty());
        m_dual = ExportTestPresentation::create(
            root, QStringLiteral("Vortrag #1 \u00fcber \u00d6l & 50%"), m_dualTitle,
            {{1500, {11, 12}}, {4000, {13}}, {8000, {15, 16}}}, 10000, 320, 180);
        QVERIFY(!m_dual.isEmpty());

        QString error;
        QVERIFY2(writePage(m_single, {}, &error), qPrintable(error));
        QVERIFY(QFileInfo::exists(m_single + "/index.html"));
        QVERIFY(root.mkdir(QStringLiteral("other place")));
        m_dualPage = root.absoluteFilePath(QStringLiteral("other place/player.html"));
        QVERIFY2(writePage(m_dual, m_dualPage, &error), qPrintable(error));
    }

    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // The page on its own: the title is escaped where it is shown and cannot end the data's
    // script element; nothing points at the network.
    void pageTextIsSelfContained()
    {
        const QString page = QString::fromUtf8(readAll(m_dualPage));
        QVERIFY(!page.isEmpty());
        QCOMPARE(page.count(QStringLiteral("<title>") + m_dualTitle.toHtmlEscaped() +
                            QStringLiteral("</title>")),
                 1);
        // The template's own two script elements and no other.
        QCOMPARE(page.count(QStringLiteral("</script>")), 2);
        QCOMPARE(page.count(QStringLiteral("<script")), 2);
        QVERIFY(!page.contains(QStringLiteral("@PLAYER_TITLE@")));
        for (const QString &path : {m_dualPage, m_single + "/index.html"}) {
            const QString text = QString::fromUtf8(readAll(path));
            QVERIFY2(!text.contains(QStringLiteral("http:"), Qt::CaseInsensitive),
                     qPrintable(path));
            QVERIFY2(!text.contains(QStringLiteral("https:"), Qt::CaseInsensitive),
                     qPrintable(path));
        }
    }

    void showsTheSlideOfTheLinkedTime_data()
    {
        QTest::addColumn<bool>("dual");
        QTest::addColumn<QString>("seconds");
        QTest::addColumn<int>("index");
        // Per screen the slide file expected, relative to the presentation; empty: no image.
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("exactTime");

        QTest::newRow("start") << false << "0" << 0 << QStringList{"0-0001.png"} << true;
        QTest::newRow("exactly at a slide")
            << false << "2.5" << 1 << QStringList{"0-0002.png"} << true;
        QTest::newRow("between slides")
            << false << "7.25" << 2 << QStringList{"0-0003.png"} << true;
        QTest::newRow("after the last") << false << "11" << 3 << QStringList{"0-0004.png"} << true;
        QTest::newRow("two screens, before the first")
            << true << "0.75" << -1 << QStringList{"", ""} << true;
        QTest::newRow("two screens, at the first")
            << true << "1.5" << 0 << QStringList{"0-0001.png", "1-0001.png"} << true;
        QTest::newRow("two screens, one image")
            << true << "5" << 1 << QStringList{"0-0002.png", ""} << true;
        QTest::newRow("two screens, past the audio")
            << true << "60" << 2 << QStringList{"0-0003.png", "1-0003.png"} << false;
    }

    void showsTheSlideOfTheLinkedTime()
    {
        QFETCH(bool, dual);
        QFETCH(QString, seconds);
        QFETCH(int, index);
        QFETCH(QStringList, files);
        QFETCH(bool, exactTime);
        if (!HeadlessChromium::isAvailable())
            QSKIP("chromium is not installed");

        const QString page = dual ? m_dualPage : m_single + "/index.html";
        const QDir presentation(dual ? m_dual : m_single);
        QUrl url = QUrl::fromLocalFile(page);
        url.setFragment(QStringLiteral("t=") + seconds);
        QString dom;
        QString error;
        QVERIFY2(HeadlessChromium::dumpDom(url, &dom, &error), qPrintable(error));

        const QString body = QStringLiteral("<body\\b[^>]*>");
        QCOMPARE(attribute(dom, body, QStringLiteral("data-slide-index")), QString::number(index));
        if (exactTime)
            QCOMPARE(attribute(dom, body, QStringLiteral("data-time")).toDouble(),
                     seconds.toDouble());
        for (int screen = 0; screen < files.size(); ++screen) {
            QVERIFY2(dom.contains(QRegularExpression(screenTag(screen))),
                     qPrintable(QStringLiteral("no image for screen %1").arg(screen)));
            const QString src = attribute(dom, screenTag(screen), QStringLiteral("src"));
            if (files.at(screen).isEmpty()) {
                QVERIFY2(src.isNull(), qPrintable(src));
                continue;
            }
            // The link, taken as the browser takes it, leads to the slide's file.
            QVERIFY2(QUrl(src).isRelative() && !src.startsWith('/'), qPrintable(src));
            QCOMPARE(url.resolved(QUrl(src, QUrl::StrictMode)).toLocalFile(),
                     presentation.absoluteFilePath(files.at(screen)));
        }
        QVERIFY(!dom.contains(QRegularExpression(screenTag(int(files.size())))));
        const QString audio =
            attribute(dom, QStringLiteral("<audio\\b[^>]*>"), QStringLiteral("src"));
        QCOMPARE(url.resolved(QUrl(audio, QUrl::StrictMode)).toLocalFile(),
                 presentation.absoluteFilePath(QStringLiteral("audio.wav")));
        QCOMPARE(dom.count(QStringLiteral("<li")), dual ? 3 : 4);
    }

    // In a real page session: the keys, the list and the link's time drive the audio and the
    // slide, the title shows as it is, and every request the page makes stays in the
    // presentation directory. Chromium's DevTools protocol reports each request with its URL
    // (file:// included, which the network log leaves out); hosts do not resolve, so a stray
    // request could not leave the machine anyway. A probe page with links outside shows that
    // such requests would be seen.
    void playsAndStaysInsideThePresentation()
    {
        if (!HeadlessChromium::isAvailable())
            QSKIP("chromium is not installed");
        ChromiumDevTools browser;
        QString error;
        QVERIFY2(browser.start(&error), qPrintable(error));

        auto outsideRequests = [](const QStringList &urls, const QString &page,
                                  const QString &directory) {
            QStringList outside;
            const QString inside = QDir(directory).absolutePath() + QLatin1Char('/');
            for (const QString &text : urls) {
                const QUrl url(text);
                // Chromium's own media controls draw their icons from data: URLs.
                if (url.scheme() == QLatin1String("data"))
                    continue;
                const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
                if (path == page ||
                    (path.startsWith(inside) && !path.contains(QLatin1String("/../")) &&
                     QFileInfo::exists(path)))
                    continue;
                outside << text;
            }
            return outside;
        };

        // The probe: what would count as a request outside.
        const QString probeDir = m_root.filePath(QStringLiteral("probe"));
        QVERIFY(QDir().mkpath(probeDir));
        QVERIFY(writeAll(probeDir + "/probe.html",
                         "<!DOCTYPE html><html><body><img src=\"../single/0-0001.png\">"
                         "<img src=\"https://cdn.example.invalid/x.png\">"
                         "<script src=\"http://example.invalid/x.js\"></script></body></html>"));
        QVERIFY2(browser.navigate(QUrl::fromLocalFile(probeDir + "/probe.html"), &error),
                 qPrintable(error));
        QVERIFY2(
            browser.waitUntil(QStringLiteral("document.readyState === 'complete'"), 30000, &error),
            qPrintable(error));
        const QStringList probeOutside =
            outsideRequests(browser.requestedUrls(), probeDir + "/probe.html", probeDir);
        QVERIFY2(probeOutside.size() == 3, qPrintable(probeOutside.join(' ')));

        // The single-screen page, opened at a link's time.
        browser.clearRequestedUrls();
        const QString page = m_single + "/index.html";
        QUrl url = QUrl::fromLocalFile(page);
        url.setFragment(QStringLiteral("t=3"));
        QVERIFY2(browser.navigate(url, &error), qPrintable(error));
        auto state = [&browser](QString *error) {
            return browser
                .evaluate(QStringLiteral("document.body.getAttribute('data-slide-index') + ' ' + "
                                         "document.getElementById('audio').currentTime"),
                          error)
                .toString();
        };
        // The link's time reaches the audio once it knows its length.
        const QString audioAt = QStringLiteral("document.getElementById('audio').readyState >= 1 "
                                               "&& document.getElementById('audio').currentTime "
                                               "=== %1");
        QVERIFY2(browser.waitUntil(audioAt.arg(3), 60000, &error), qPrintable(error));
        QCOMPARE(state(&error), QStringLiteral("1 3"));

        QVERIFY2(browser.pressKey(QStringLiteral("ArrowRight"), QStringLiteral("ArrowRight"), 39,
                                  &error),
                 qPrintable(error));
        QCOMPARE(state(&error), QStringLiteral("2 6"));
        for (int i = 0; i < 3; ++i)
            QVERIFY2(browser.pressKey(QStringLiteral("ArrowLeft"), QStringLiteral("ArrowLeft"), 37,
                                      &error),
                     qPrintable(error));
        QCOMPARE(state(&error), QStringLiteral("0 0"));
        QVERIFY2(browser
                     .evaluate(QStringLiteral("document.querySelectorAll('#slide-list "
                                              "button')[3].click(); true"),
                               &error)
                     .toBool(),
                 qPrintable(error));
        QCOMPARE(state(&error), QStringLiteral("3 9"));
        browser.evaluate(QStringLiteral("window.location.hash = '#t=4.5'; true"), &error);
        QVERIFY2(browser.waitUntil(QStringLiteral("document.body.getAttribute('data-slide-index') "
                                                  "=== '1'"),
                                   30000, &error),
                 qPrintable(error));
        QCOMPARE(state(&error), QStringLiteral("1 4.5"));

        // Space plays: the slide follows the running audio to the next one; space pauses.
        QVERIFY2(browser.pressKey(QStringLiteral(" "), QStringLiteral("Space"), 32, &error),
                 qPrintable(error));
        QVERIFY2(browser.waitUntil(QStringLiteral("document.body.getAttribute('data-slide-index') "
                                                  "=== '2' && !document.getElementById('audio')"
                                                  ".paused"),
                                   60000, &error),
                 qPrintable(error));
        QVERIFY2(browser.pressKey(QStringLiteral(" "), QStringLiteral("Space"), 32, &error),
                 qPrintable(error));
        QVERIFY2(browser.waitUntil(QStringLiteral("document.getElementById('audio').paused"), 30000,
                                   &error),
                 qPrintable(error));
        QVERIFY2(error.isEmpty(), qPrintable(error));

        QStringList requested = browser.requestedUrls();
        QVERIFY2(requested.contains(QUrl::fromLocalFile(m_single + "/audio.wav").toString()),
                 qPrintable(requested.join(' ')));
        qDebug() << "requested by the page:" << withoutData(requested);
        QStringList outside = outsideRequests(requested, page, m_single);
        QVERIFY2(outside.isEmpty(), qPrintable(outside.join(' ')));

        // The page written elsewhere: its links find the files, the title shows unchanged.
        browser.clearRequestedUrls();
        url = QUrl::fromLocalFile(m_dualPage);
        url.setFragment(QStringLiteral("t=2"));
        QVERIFY2(browser.navigate(url, &error), qPrintable(error));
        QVERIFY2(browser.waitUntil(audioAt.arg(2) +
                                       QStringLiteral(" && [0, 1].every(function (s) {"
                                                      " var i = document.getElementById("
                                                      "'slide-screen-' + s);"
                                                      " return i.complete && i.naturalWidth === "
                                                      "320; })"),
                                   60000, &error),
                 qPrintable(error));
        QCOMPARE(browser.evaluate(QStringLiteral("document.title"), &error).toString(),
                 m_dualTitle);
        QCOMPARE(
            browser.evaluate(QStringLiteral("document.getElementById('title').textContent"), &error)
                .toString(),
            m_dualTitle);
        QCOMPARE(browser
                     .evaluate(QStringLiteral("JSON.parse(document.getElementById('player-data')"
                                              ".textContent).title"),
                               &error)
                     .toString(),
                 m_dualTitle);
        QCOMPARE(state(&error), QStringLiteral("0 2"));
        requested = browser.requestedUrls();
        qDebug() << "requested by the page written elsewhere:" << withoutData(requested);
        outside = outsideRequests(requested, m_dualPage, m_dual);
        QVERIFY2(outside.isEmpty(), qPrintable(outside.join(' ')));
        QVERIFY2(requested.size() >= 4, qPrintable(requested.join(' ')));
        browser.close();
    }

    // A page that cannot be written leaves the one before it as it was and nothing else.
    void failedWritesLeaveNothing()
    {
        RecordedPresentation presentation;
        QVERIFY(load(m_single, &presentation));
        PlayerPageWriter writer;
        const QString page = m_single + "/index.html";
        const QByteArray before = readAll(page);
        QVERIFY(!before.isEmpty());
        const QStringList entries = QDir(m_single).entryList(QDir::AllEntries | QDir::Hidden);
        const QString reasonPattern = QStringLiteral("^Cannot write index\\.html: \\S.*$");

        {
            const QFile::Permissions permissions = QFile::permissions(m_single);
            QVERIFY(QFile::setPermissions(m_single, QFile::ReadOwner | QFile::ExeOwner |
                                                        QFile::ReadOther | QFile::ExeOther));
            QString error;
            bool written = true;
            {
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\\[PlayerPageWriter\\]"));
                const UnprivilegedScope unprivileged;
                ExportControl control;
                written = writer.write(presentation, page, control, &error);
            }
            QVERIFY(QFile::setPermissions(m_single, permissions));
            QVERIFY(!written);
            qDebug() << "failed as expected:" << error;
            QVERIFY2(QRegularExpression(reasonPattern).match(error).hasMatch(), qPrintable(error));
            QVERIFY2(error.contains(QStringLiteral("ermission")), qPrintable(error));
        }
        QCOMPARE(readAll(page), before);
        QCOMPARE(QDir(m_single).entryList(QDir::AllEntries | QDir::Hidden), entries);

        // The disk fills up in the middle of the page.
        {
            QString error;
            bool written = true;
            {
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\\[PlayerPageWriter\\]"));
                const FileSizeLimit limit(2048);
                QVERIFY(limit.isActive());
                ExportControl control;
                written = writer.write(presentation, page, control, &error);
            }
            QVERIFY(!written);
            qDebug() << "failed as expected:" << error;
            QVERIFY2(QRegularExpression(reasonPattern).match(error).hasMatch(), qPrintable(error));
            QVERIFY2(error.contains(QStringLiteral("too large")), qPrintable(error));
        }
        QCOMPARE(readAll(page), before);
        QCOMPARE(QDir(m_single).entryList(QDir::AllEntries | QDir::Hidden), entries);

        // Cancelled before it starts.
        {
            ExportControl control;
            control.cancel();
            QString error;
            QVERIFY(
                !writer.write(presentation, m_root.filePath("cancelled.html"), control, &error));
            QCOMPARE(error, ExportControl::cancelledMessage());
            QVERIFY(!QFileInfo::exists(m_root.filePath("cancelled.html")));
        }
    }

    void missingAudioWritesNothing()
    {
        const QString dir = ExportTestPresentation::create(
            QDir(m_root.path()), QStringLiteral("silent"), QStringLiteral("Silent"),
            {{0, {1}}, {1000, {2}}}, -1, 160, 90);
        QVERIFY(!dir.isEmpty());
        RecordedPresentation presentation;
        QVERIFY(load(dir, &presentation));
        QVERIFY(!presentation.hasAudio());
        PlayerPageWriter writer;
        ExportControl control;
        QString error;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\\[PlayerPageWriter\\]"));
        QVERIFY(!writer.write(presentation, {}, control, &error));
        QCOMPARE(error, presentation.missingAudioMessage());
        QVERIFY(!QFileInfo::exists(dir + "/index.html"));
    }
};

QTEST_GUILESS_MAIN(PlayerPageTest)
#include "tst_playerpage.moc"
