#include "QmlTestInput.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

namespace QmlTestInput {

void click(QQuickWindow *window, QQuickItem *item)
{
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

QQuickItem *textInput(QQuickItem *field)
{
    const QList<QQuickItem *> children = field->findChildren<QQuickItem *>();
    for (QQuickItem *child : children) {
        if (qstrcmp(child->metaObject()->className(), "QQuickTextInput") == 0)
            return child;
    }
    return nullptr;
}

void typeInto(QQuickWindow *window, QQuickItem *field, const QString &text, int finishKey)
{
    QQuickItem *input = textInput(field);
    if (!input)
        return;
    input->forceActiveFocus();
    QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(window, Qt::Key_Delete);
    else
        for (const QChar character : text)
            QTest::keyClick(window, character.toLatin1());
    QTest::keyClick(window, Qt::Key(finishKey));
}

bool hasActiveFocus(QQuickItem *field)
{
    QQuickItem *input = textInput(field);
    return (input ? input : field)->hasActiveFocus();
}

} // namespace QmlTestInput
