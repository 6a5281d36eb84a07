import QtQuick
import QtQuick.Controls
import "../colors.js" as Colors

AbstractButton {
    id: control

    checkable: true
    autoExclusive: true
    hoverEnabled: true
    padding: 0
    implicitWidth: label.implicitWidth
    implicitHeight: label.implicitHeight + 8

    contentItem: Text {
        id: label
        text: (control.checked ? "\u2192 " : "") + control.text
        color: control.checked || control.hovered ? Colors.blue : Colors.lightGrey
        verticalAlignment: Text.AlignVCenter
        font.family: "Roboto"
        font.pixelSize: 18
    }

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        cursorShape: Qt.PointingHandCursor
    }
}
