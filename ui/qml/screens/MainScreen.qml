import QtQuick
import "main_screen"

Item {
    id: screen

    Menu {
        id: menu
        objectName: "menu"
        anchors.left: parent.left
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        width: 250
    }

    Item {
        id: content
        anchors.left: menu.right
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.bottom: parent.bottom

        PresentationList {
            id: presentationList
            objectName: "presentationListPage"
            anchors.fill: parent
            visible: false
        }
        Settings {
            id: settings
            objectName: "settingsPage"
            anchors.fill: parent
            visible: false
        }
        LiveStream {
            id: liveStream
            objectName: "liveStreamPage"
            anchors.fill: parent
            visible: false
        }
    }

    states: [
        State {
            name: "presentationList"
            when: menu.selected === "presentationList"
            PropertyChanges { target: presentationList; visible: true }
        },
        State {
            name: "settings"
            when: menu.selected === "settings"
            PropertyChanges { target: settings; visible: true }
        },
        State {
            name: "liveStream"
            when: menu.selected === "liveStream"
            PropertyChanges { target: liveStream; visible: true }
        }
    ]
}
