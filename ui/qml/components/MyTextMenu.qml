import QtQuick
import "../colors.js" as Colors

Column {
    id: menu

    property string selected: "presentationList"

    spacing: 4

    MyTextMenuButton {
        objectName: "menuPresentationList"
        text: "My Presentations"
        checked: true
        onCheckedChanged: if (checked) menu.selected = "presentationList"
    }
    MyTextMenuButton {
        objectName: "menuSettings"
        text: "Settings"
        onCheckedChanged: if (checked) menu.selected = "settings"
    }
    MyTextMenuButton {
        objectName: "menuLiveStream"
        text: "Live Stream"
        onCheckedChanged: if (checked) menu.selected = "liveStream"
    }
    Item {
        width: 1
        height: 8
    }
    MyLabel {
        text: qsTr("Recorder version: %1").arg(mainWindow.version)
        color: Colors.lightGrey
        font.pixelSize: 12
    }
}
