import QtQuick
import QtQuick.Controls
import QtQuick.Window

Window {
    id: window
    visible: true
    width: 640
    height: 480
    title: "Quillora Recorder"
    color: "#040316"

    FontLoader { id: robotoRegular; source: "qrc:/fonts/Roboto-Regular.ttf" }
    FontLoader { id: robotoBold; source: "qrc:/fonts/Roboto-Bold.ttf" }

    Label {
        objectName: "errorLabel"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        anchors.margins: 10
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.WordWrap
        color: "#ff0000"
        font.family: robotoRegular.name
        text: errorWindow.error
    }

    Label {
        objectName: "versionLabel"
        anchors.left: parent.left
        anchors.bottom: parent.bottom
        anchors.margins: 10
        color: "#aaaaaa"
        font.family: robotoRegular.name
        font.pixelSize: 12
        text: qsTr("Recorder version: %1").arg(errorWindow.version)
    }
}
