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

    // The latest messages, oldest first. As in the recorder's own list, a message that comes
    // again moves to the end with its count: a source failing every second for hours must not
    // grow the label without end.
    property var errorEntries: []
    readonly property int maxErrorLines: 100

    function addError(message) {
        const previous = errorEntries.find(entry => entry.message === message)
        let entries = errorEntries.filter(entry => entry.message !== message)
        entries.push({ message: message, count: previous ? previous.count + 1 : 1 })
        if (entries.length > maxErrorLines)
            entries = entries.slice(entries.length - maxErrorLines)
        showErrors(entries)
    }

    function showErrors(entries) {
        errorEntries = entries
        errorLabel.text = entries.map(entry => entry.count > 1
                                      ? entry.message + " (" + entry.count + " times)"
                                      : entry.message).join("\n")
    }

    Connections {
        target: mainWindow

        function onErrorMessage(message) {
            window.addError(message)
        }

        // Errors belong to one recording and stay readable on the main screen after it ended
        // (why it stopped, or why it did not start); the next start begins with a clean slate.
        function onStartRecording() {
            window.showErrors([])
        }
        function onStartLiveStream() {
            window.showErrors([])
        }
    }
}
