import QtQuick
import QtQuick.Controls
import "settings"
import "../../colors.js" as Colors

Rectangle {
    id: page

    color: Colors.bgLight

    ScrollView {
        id: scroll
        objectName: "settingsScroll"
        anchors.fill: parent
        contentWidth: availableWidth
        ScrollBar.vertical.policy: ScrollBar.AlwaysOn
        ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

        Column {
            x: 15
            width: scroll.availableWidth - 30
            topPadding: 15
            bottomPadding: 15
            spacing: 15

            CaptureTypeSelect {
                width: parent.width
            }
            AudioInputSelect {
                width: parent.width
            }
            VMixSettings {
                width: parent.width
            }
        }
    }
}
