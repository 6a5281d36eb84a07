import QtQuick
import QtQuick.Controls
import "../../components"
import "../../colors.js" as Colors

Rectangle {
    id: page

    readonly property string uploadsUrl: mainWindow.siteUrl + "/recorder_app/uploads"

    color: Colors.bgLight

    ScrollView {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.bottom: exportBar.top
        ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

        MyPresentationList {
            id: list
            objectName: "presentationList"
        }
    }

    // How the last export goes or went; hidden until there is one.
    Rectangle {
        id: exportBar
        objectName: "exportBar"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: footer.top
        visible: presentationExport.running || presentationExport.message !== ""
        height: visible ? exportRow.implicitHeight + 16 : 0
        color: Colors.white

        Row {
            id: exportRow
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            anchors.leftMargin: 15
            anchors.rightMargin: 15
            spacing: 10

            ProgressBar {
                id: exportProgress
                objectName: "exportProgress"
                anchors.verticalCenter: parent.verticalCenter
                width: 120
                visible: presentationExport.running
                from: 0
                to: 100
                value: presentationExport.progress
            }
            MyLabel {
                objectName: "exportMessage"
                anchors.verticalCenter: parent.verticalCenter
                width: parent.width - (exportProgress.visible ? exportProgress.width + 10 : 0)
                       - (cancelExportButton.visible ? cancelExportButton.width + 10 : 0)
                text: presentationExport.message
                color: presentationExport.failed ? Colors.red : Colors.darkGrey
                font.pixelSize: 12
                wrapMode: Text.Wrap
            }
            MyButton {
                id: cancelExportButton
                objectName: "exportCancelButton"
                anchors.verticalCenter: parent.verticalCenter
                visible: presentationExport.running
                dense: true
                color: Colors.red
                text: "Cancel"
                onClicked: presentationExport.cancel()
            }
        }
    }

    Rectangle {
        id: footer
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: footerColumn.implicitHeight + 20
        color: Colors.bgLight

        Column {
            id: footerColumn
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            anchors.leftMargin: 15
            anchors.rightMargin: 15
            spacing: 2

            MyLabel {
                text: "Looking to upload your recordings?"
                font.pixelSize: 12
            }
            Row {
                spacing: 4

                MyLabel {
                    text: "Go to"
                    font.pixelSize: 12
                }
                MyLabel {
                    id: uploadsLink
                    objectName: "uploadsLink"
                    text: page.uploadsUrl
                    color: Colors.blue
                    font.pixelSize: 12

                    MouseArea {
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: Qt.openUrlExternally(page.uploadsUrl)
                    }
                }
            }
        }
    }
}
