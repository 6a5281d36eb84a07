import QtQuick
import "../../colors.js" as Colors

Rectangle {
    color: Colors.bgLight

    Login {
        objectName: "login"
        anchors.fill: parent
    }
}
