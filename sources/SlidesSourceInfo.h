#pragma once

#include <QByteArray>
#include <QDebug>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariant>

// The description of one slide source the user can choose. Sources are recognised by their
// identifier across polls and runs, so equality compares the identifier only.
class SlidesSourceInfo
{
    Q_GADGET

public:
    enum SlideSourceType : qint32 {
        Invalid = 0,
        ScreenInterval = 2,
        Camera = 3,
        NDI = 4,
    };
    Q_ENUM(SlideSourceType)

    SlidesSourceInfo();
    SlidesSourceInfo(bool enabled, SlideSourceType type, const QByteArray &id, int index,
                     const QString &name);

    Q_INVOKABLE [[nodiscard]] bool enabled() const { return m_enabled; }
    Q_INVOKABLE [[nodiscard]] SlidesSourceInfo::SlideSourceType type() const { return m_type; }
    Q_INVOKABLE [[nodiscard]] QByteArray id() const { return m_id; }
    [[nodiscard]] int index() const { return m_index; }
    Q_INVOKABLE [[nodiscard]] QString name() const { return m_name; }

    [[nodiscard]] bool isValid() const { return m_type != Invalid; }

    [[nodiscard]] QVariant data(const QString &key) const { return m_data.value(key); }
    void setData(const QString &key, const QVariant &value) { m_data.insert(key, value); }

    // Two placeholders (both invalid) are neither equal nor unequal.
    bool operator==(const SlidesSourceInfo &other) const { return sameAs(other); }
    bool operator!=(const SlidesSourceInfo &other) const;
    Q_INVOKABLE [[nodiscard]] bool sameAs(const SlidesSourceInfo &other) const;

    // Discovery of the sources available now; the screen capture entry always comes first.
    static QList<SlidesSourceInfo> availableSlideSources();
    static QList<SlidesSourceInfo> availableSlideSourcesGeneral();
    // Capture devices in the order the video capture back end numbers them. On Windows they come
    // from DirectShow, on Linux from V4L2.
    static QList<SlidesSourceInfo> availableSlideSourcesWindowsDirectShow();
    static QList<SlidesSourceInfo> availableSlideSourcesNDI();
    static QList<SlidesSourceInfo> availableSlideSourcesMacOS();
    static bool videoInputEnabledByName(const QString &name);

private:
    bool m_enabled = true;
    SlideSourceType m_type = Invalid;
    QByteArray m_id;
    int m_index = -1;
    QString m_name;
    QMap<QString, QVariant> m_data;
};

QDebug operator<<(QDebug debug, const SlidesSourceInfo &info);

Q_DECLARE_METATYPE(SlidesSourceInfo)
Q_DECLARE_METATYPE(QList<SlidesSourceInfo>)
