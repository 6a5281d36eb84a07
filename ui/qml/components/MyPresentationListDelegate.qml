import QtQuick
import QtQuick.Controls
import "../colors.js" as Colors
import "../links.js" as Links

Rectangle {
    id: row

    property string title
    property string directory
    property int slideCount
    property string recordedAtString

    implicitHeight: Math.max(texts.implicitHeight, openButton.implicitHeight) + 20
    color: hover.hovered ? Qt.lighter(Colors.blue, 2.0) : Colors.white

    HoverHandler {
        id: hover
    }

    Column {
        id: texts
        anchors.left: parent.left
        anchors.right: exportButton.left
        anchors.leftMargin: 15
        anchors.rightMargin: 15
        anchors.verticalCenter: parent.verticalCenter
        spacing: 2

        MyLabel {
            width: parent.width
            text: row.title
            wrapMode: Text.Wrap
        }
        MyLabel {
            width: parent.width
            text: qsTr("%1 slide(s)").arg(row.slideCount) + " · " + row.recordedAtString
            font.pixelSize: 10
        }
    }

    MyButton {
        id: exportButton
        objectName: "exportButton"
        anchors.right: openButton.left
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        dense: true
        enabled: !presentationExport.running
        color: enabled ? Colors.blue : Colors.lightGrey
        text: "Export"
        onClicked: exportMenu.open()

        Menu {
            id: exportMenu
            objectName: "exportMenu"
            y: exportButton.height

            MenuItem {
                objectName: "exportVideo"
                text: "Video"
                onTriggered: presentationExport.start(row.directory, "video")
            }
            MenuItem {
                objectName: "exportHandout"
                text: "Handout"
                onTriggered: presentationExport.start(row.directory, "handout")
            }
            MenuItem {
                objectName: "exportPlayer"
                text: "Player page"
                onTriggered: presentationExport.start(row.directory, "player")
            }
        }
    }

    MyButton {
        id: openButton
        objectName: "openButton"
        anchors.right: parent.right
        anchors.rightMargin: 15
        anchors.verticalCenter: parent.verticalCenter
        dense: true
        text: "Open"
        onClicked: Qt.openUrlExternally(Links.directoryUrl(row.directory))
    }
}
