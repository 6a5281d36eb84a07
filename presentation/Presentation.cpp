#include "Presentation.h"

#include "PresentationFile.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QDomDocument>
#include <QFile>
#include <QStringConverter>
#include <QTextStream>
#include <QVariant>

#include <memory>

namespace {

const QString xmlFileName = QStringLiteral("presentation.xml");
const QString timestampsFileName = QStringLiteral("timestamps_ms.txt");

// A presentation is handed between threads in queued signals of classes whose headers only
// declare its name (the recorders, the list's loader). Their meta objects then know the argument
// by that name alone, so it is registered under it before anything can send one.
void registerPointerType()
{
    qRegisterMetaType<Presentation *>();
}
Q_CONSTRUCTOR_FUNCTION(registerPointerType)

} // namespace

Presentation::Presentation(const QDir &directory) : m_directory(directory) {}

Presentation *Presentation::create(bool isLiveStream, bool connectToExistingLiveStream,
                                   const QString &livestreamPresentationId, QString *errorMessage)
{
    const auto fail = [errorMessage](const QString &message) -> Presentation * {
        qWarning() << "[Presentation]" << message;
        if (errorMessage)
            *errorMessage = message;
        return nullptr;
    };

    QDir workDir(QCoreApplication::instance()->property("workDir").toString());
    const QDateTime now = QDateTime::currentDateTime();
    const QString stamp = now.toString(Qt::ISODate).replace(QLatin1Char(':'), QLatin1Char('-'));
    const QString baseName =
        (isLiveStream ? QObject::tr("Live Stream %1") : QObject::tr("Presentation %1")).arg(stamp);

    // mkdir() fails for an existing name, so two recorders never share a directory.
    QString name = baseName;
    bool created = workDir.mkdir(name);
    for (int number = 2; !created && workDir.exists(name) && number < 1000; ++number) {
        name = QStringLiteral("%1 (%2)").arg(baseName).arg(number);
        created = workDir.mkdir(name);
    }
    if (!created || !workDir.cd(name)) {
        return fail(QStringLiteral("Cannot create the presentation directory in %1.")
                        .arg(QDir::toNativeSeparators(workDir.absolutePath())));
    }

    auto presentation = std::make_unique<Presentation>(workDir);
    presentation->setLiveStream(isLiveStream);
    presentation->setLivestreamPresentationId(livestreamPresentationId);
    presentation->setConnectToExistingLiveStream(connectToExistingLiveStream);
    presentation->setTitle(name);
    presentation->setRecordedAt(now);
    QString xmlError;
    if (!presentation->saveXml(&xmlError)) {
        workDir.removeRecursively();
        return fail(xmlError);
    }
    return presentation.release();
}

Presentation *Presentation::load(const QDir &directory)
{
    auto presentation = std::make_unique<Presentation>(directory);
    if (!presentation->loadXml())
        return nullptr;
    presentation->setSlideCount(presentation->countSlides());
    return presentation.release();
}

int Presentation::countSlides() const
{
    QStringList paths;
    QDirIterator it(m_directory.absolutePath(), {timestampsFileName}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(it.next());

    int total = 0;
    for (const QString &path : std::as_const(paths)) {
        QFile file(path);
        if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        QTextStream stream(&file);
        QString line;
        while (stream.readLineInto(&line)) {
            if (!line.isEmpty())
                ++total;
        }
    }
    return total;
}

void Presentation::setLiveStream(bool newVal)
{
    if (m_isLiveStream == newVal)
        return;
    m_isLiveStream = newVal;
    emit property_isLiveStreamChanged(newVal);
}

void Presentation::setLivestreamPresentationId(const QString &newVal)
{
    if (m_livestreamPresentationId == newVal)
        return;
    m_livestreamPresentationId = newVal;
    emit property_livestreamPresentationIdChanged(newVal);
}

void Presentation::setConnectToExistingLiveStream(bool newVal)
{
    if (m_connectToExistingLiveStream == newVal)
        return;
    m_connectToExistingLiveStream = newVal;
    emit property_connectToExistingLiveStreamChanged(newVal);
}

void Presentation::setTitle(const QString &newVal)
{
    if (m_title == newVal)
        return;
    m_title = newVal;
    emit property_titleChanged(newVal);
}

void Presentation::setRecordedAt(const QDateTime &newVal)
{
    if (m_recordedAt == newVal)
        return;
    m_recordedAt = newVal;
    emit property_recordedAtChanged(newVal);
}

void Presentation::setSlideCount(int newVal)
{
    if (m_slideCount == newVal)
        return;
    m_slideCount = newVal;
    emit property_slideCountChanged(newVal);
}

bool Presentation::saveXml(QString *errorMessage) const
{
    QDomDocument document;
    document.appendChild(document.createProcessingInstruction(
        QStringLiteral("xml"), QStringLiteral("version='1.0' encoding='UTF-8'")));
    QDomElement root = document.createElement(QStringLiteral("presentation"));
    document.appendChild(root);
    appendChildElement(document, root, QStringLiteral("name"), m_title);
    appendChildElement(document, root, QStringLiteral("recordingStart"),
                       m_recordedAt.toString(Qt::ISODate));

    QString message;
    if (PresentationFile::replace(m_directory.absoluteFilePath(xmlFileName),
                                  document.toByteArray(4), &message, QIODevice::Text))
        return true;
    qWarning().noquote() << "[Presentation]"
                         << "saving XML failed:" << message;
    if (errorMessage)
        *errorMessage = message;
    return false;
}

bool Presentation::loadXml()
{
    QFile file(m_directory.absoluteFilePath(xmlFileName));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QDomDocument document;
    if (!document.setContent(&file)) {
        file.close();
        return false;
    }
    const QDomElement root = document.documentElement();
    setTitle(root.firstChildElement(QStringLiteral("name")).text());
    setRecordedAt(QDateTime::fromString(
        root.firstChildElement(QStringLiteral("recordingStart")).text(), Qt::ISODate));
    file.close();
    qDebug() << "[Presentation]"
             << "loaded presentation" << m_title;
    return true;
}

void Presentation::appendChildElement(QDomDocument &document, QDomElement &parent,
                                      const QString &name, const QString &text) const
{
    QDomElement element = document.createElement(name);
    element.appendChild(document.createTextNode(text));
    parent.appendChild(element);
}
