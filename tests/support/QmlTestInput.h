#pragma once

#include <QString>

class QQuickItem;
class QQuickWindow;

// Drives the QML window the way a user does: clicks at the centre of items, types into fields.
namespace QmlTestInput {

void click(QQuickWindow *window, QQuickItem *item);
// The text input inside one of the window's text fields.
QQuickItem *textInput(QQuickItem *field);
// Focuses the field, replaces its text by typing and ends with the given key.
void typeInto(QQuickWindow *window, QQuickItem *field, const QString &text, int finishKey);
bool hasActiveFocus(QQuickItem *field);

} // namespace QmlTestInput
