import QtQuick

// Images are drawn at twice their shown size; a "retina" image is shown at half its pixels.
Image {
    id: image

    property bool retina: true

    function applyRetinaSize() {
        if (retina && status === Image.Ready) {
            width = sourceSize.width / 2
            height = sourceSize.height / 2
        }
    }

    onStatusChanged: applyRetinaSize()
    Component.onCompleted: applyRetinaSize()
}
