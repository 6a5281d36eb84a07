import QtQuick
import "../colors.js" as Colors

// A banner listing several rich-text messages.
Rectangle {
    id: banner

    property var messages: []

    color: Colors.red
    implicitHeight: column.implicitHeight + 20

    Column {
        id: column
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: 10
        spacing: 4

        Repeater {
            model: banner.messages

            MySelectableLabel {
                width: column.width
                text: modelData
                color: Colors.white
                font.pixelSize: 12
                wrapMode: TextEdit.Wrap
            }
        }
    }
}
