import QtQuick
import QtQuick.Controls
import "../colors.js" as Colors

AbstractButton {
    id: control

    property color color: Colors.blue
    property color textColor: Colors.white
    property bool dense: false

    hoverEnabled: true
    padding: 0
    implicitWidth: label.implicitWidth + (dense ? 24 : 40)
    implicitHeight: label.implicitHeight + (dense ? 12 : 20)

    contentItem: Text {
        id: label
        text: control.text.toUpperCase()
        color: control.textColor
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        font.family: "Roboto"
        font.bold: true
        font.pixelSize: control.dense ? 12 : 14
    }

    background: Rectangle {
        radius: 6
        color: control.hovered ? Colors.hoveredColor(control.color) : control.color
    }

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        cursorShape: Qt.PointingHandCursor
    }
}
