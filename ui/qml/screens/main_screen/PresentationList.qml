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
        anchors.bottom: footer.top
        ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

        MyPresentationList {
            id: list
            objectName: "presentationList"
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
