import QtQuick
import QtQuick.Controls

CheckBox {
    id: box

    signal tabPressed
    signal enterPressed

    font.family: "Roboto"
    font.pixelSize: 14

    // The page moves the focus itself on Tab; letting the event on would move it a second time
    // along the window's focus chain.
    Keys.onTabPressed: event => {
        box.tabPressed()
        event.accepted = true
    }
    Keys.onReturnPressed: event => {
        box.enterPressed()
        event.accepted = false
    }
    Keys.onEnterPressed: event => {
        box.enterPressed()
        event.accepted = false
    }
}
