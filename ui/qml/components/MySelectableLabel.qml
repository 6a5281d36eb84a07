import QtQuick
import "../colors.js" as Colors

TextEdit {
    id: label

    readOnly: true
    selectByMouse: true
    textFormat: TextEdit.RichText
    font.family: "Roboto"
    font.pixelSize: 15
    color: Colors.darkGrey
    selectionColor: "#0083FF"

    onLinkActivated: link => Qt.openUrlExternally(link)

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        cursorShape: label.hoveredLink !== "" ? Qt.PointingHandCursor : Qt.IBeamCursor
    }
}
