import QtQuick
import QtQuick.Controls
import QtQuick.Window
import "colors.js" as Colors
import "screens"

Window {
    id: window

    visible: true
    width: 640
    height: 480
    title: "Quillora Recorder"
    color: Colors.bgDark

    FontLoader { source: "qrc:/fonts/Roboto-Regular.ttf" }
    FontLoader { source: "qrc:/fonts/Roboto-Bold.ttf" }

    MainScreen {
        objectName: "mainScreen"
        anchors.fill: parent
        visible: !mainWindow.isRecording && !mainWindow.isLoading
    }

    RecordingScreen {
        objectName: "recordingScreen"
        anchors.fill: parent
        visible: mainWindow.isRecording
    }

    // Drawn over the recording screen while a recording stops.
    LoadingScreen {
        objectName: "loadingScreen"
        anchors.fill: parent
        visible: mainWindow.isLoading
    }

    Label {
        id: errorLabel
        objectName: "errorLabel"
        anchors.left: parent.left
        anchors.top: parent.top
        padding: 4
        visible: text.length > 0
        textFormat: Text.PlainText
        color: Colors.brightRed
        font.family: "Roboto"
        font.pixelSize: 10
        background: Rectangle {
            color: "black"
            opacity: 0.5
        }
    }

    Connections {
        target: mainWindow

        function onErrorMessage(message) {
            errorLabel.text = errorLabel.text.length > 0 ? errorLabel.text + "\n" + message : message
        }

        // Errors belong to one recording and stay readable on the main screen after it ended
        // (why it stopped, or why it did not start); the next start begins with a clean slate.
        function onStartRecording() {
            errorLabel.text = ""
        }
        function onStartLiveStream() {
            errorLabel.text = ""
        }
    }
}
