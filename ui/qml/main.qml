import QtQuick
import QtQuick.Window

// Placeholder main window; the full user interface replaces it.
Window {
    visible: true
    width: 640
    height: 480
    title: "Quillora Recorder"
    color: "#040316"
}
