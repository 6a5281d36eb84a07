import QtQuick
import QtQuick.Controls
import "../colors.js" as Colors

AbstractButton {
    id: control

    hoverEnabled: true
    padding: 0
    implicitWidth: buttonImage.width
    implicitHeight: buttonImage.height
    text: "Start<br>Recording"

    background: Item {
        MyImage {
            id: buttonImage
            source: "qrc:/images/recording_button.png"
        }
        MyImage {
            source: "qrc:/images/recording_button--hover.png"
            opacity: control.hovered ? 1 : 0

            Behavior on opacity {
                NumberAnimation { duration: 200 }
            }
        }
    }

    contentItem: Text {
        text: control.text
        textFormat: Text.StyledText
        color: Colors.white
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        font.family: "Roboto"
        font.bold: true
        font.pixelSize: 16
        font.capitalization: Font.AllUppercase
    }

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        cursorShape: Qt.PointingHandCursor
    }
}
