import QtQuick
import Quillora 1.0
import "../../components"
import "../../colors.js" as Colors
import "../../links.js" as Links

Rectangle {
    id: menu

    property alias selected: textMenu.selected

    color: Colors.bgDark

    MyRecordingButton {
        id: startButton
        objectName: "startButton"
        anchors.top: parent.top
        anchors.topMargin: 40
        anchors.horizontalCenter: parent.horizontalCenter
        // While the preview frees its source it would take the device back right after a start.
        enabled: !preview.stopping
        onClicked: mainWindow.qml_startRecording()
    }

    Item {
        anchors.top: startButton.bottom
        anchors.bottom: preview.top
        anchors.left: parent.left
        anchors.right: parent.right

        MyTextMenu {
            id: textMenu
            objectName: "textMenu"
            x: 20
            anchors.verticalCenter: parent.verticalCenter
        }
    }

    SlideSourcePreview {
        id: preview
        objectName: "slideSourcePreview"
        anchors.left: parent.left
        anchors.bottom: parent.bottom
        width: parent.width
        height: width * 1080 / 1920

        Component.onCompleted: restart()
    }

    Connections {
        target: recorderSettings

        function onProperty_selectedSlideSourceChanged() {
            preview.restart()
        }
        function onProperty_useNativeSlideSourceResolutionChanged() {
            preview.restart()
        }
        function onProperty_slideWidthChanged() {
            preview.restart()
        }
        function onProperty_slideHeightChanged() {
            preview.restart()
        }
    }

    Item {
        anchors.fill: preview

        Column {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: 4

            MyLabel {
                objectName: "previewPointer"
                width: parent.width
                elide: Text.ElideRight
                font.pixelSize: 12
                text: !preview.pointerRecordingAvailable
                      ? "Pointer recording is not available"
                      : !preview.pointerRecordingEnabled
                        ? "Pointer recording is disabled"
                        : "Pointer: [" + preview.mousePositionX + ", " + preview.mousePositionY + "]"
                color: preview.pointerRecordingAvailable && preview.pointerRecordingEnabled
                       ? Colors.white : Colors.red
            }
            MyLabel {
                objectName: "previewResolutions"
                width: parent.width
                elide: Text.ElideRight
                font.pixelSize: 12
                color: Colors.white
                text: Links.resolutionsText(preview.slidesResolutions)
            }
            MyLabel {
                objectName: "previewSourceName"
                width: parent.width
                elide: Text.ElideRight
                font.pixelSize: 12
                color: Colors.white
                text: preview.slideSourceName
            }
        }

        Rectangle {
            anchors.fill: parent
            color: "black"
            opacity: 0.8
            visible: refreshArea.containsMouse

            MyLabel {
                anchors.centerIn: parent
                text: "Click to refresh the preview"
                color: Colors.white
                font.pixelSize: 12
            }
        }

        MouseArea {
            id: refreshArea
            objectName: "previewRefreshArea"
            anchors.fill: parent
            hoverEnabled: true
            enabled: !preview.loading && !preview.stopping
            cursorShape: enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
            onClicked: preview.restart()
        }

        Rectangle {
            anchors.fill: parent
            color: "black"
            visible: preview.loading && !preview.stopping

            MyLabel {
                anchors.centerIn: parent
                text: "Loading slide source..."
                color: Colors.white
                font.pixelSize: 12
            }
        }

        Rectangle {
            anchors.fill: parent
            color: "black"
            visible: preview.stopping

            MyLabel {
                anchors.centerIn: parent
                text: "Stopping slide source..."
                color: Colors.white
                font.pixelSize: 12
            }
        }

        // Above the covers: a source that cannot be opened never delivers a picture, and its
        // error must stay readable over the loading notice.
        MyLabel {
            objectName: "previewError"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.margins: 4
            text: preview.errorMessage
            color: Colors.brightRed
            font.pixelSize: 12
            wrapMode: Text.Wrap
        }
    }
}
