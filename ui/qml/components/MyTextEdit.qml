import QtQuick
import "../colors.js" as Colors

Rectangle {
    id: field

    property alias text: input.text
    property alias placeholder: placeholderLabel.text
    property alias echoMode: input.echoMode
    property alias passwordCharacter: input.passwordCharacter
    property alias inputFocus: input.focus

    signal editingFinished
    signal tabPressed
    signal enterPressed

    function focusInput() {
        input.forceActiveFocus()
    }

    width: 200
    height: 40
    color: Colors.white
    radius: 6
    border.width: 1
    border.color: input.activeFocus ? Colors.darkGrey : Colors.lightGrey

    TextInput {
        id: input
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        verticalAlignment: TextInput.AlignVCenter
        clip: true
        selectByMouse: true
        selectionColor: "#0083FF"
        color: Colors.darkGrey
        font.family: "Roboto"
        font.pixelSize: 14

        onEditingFinished: field.editingFinished()

        // Tab moves to the field the page chooses, so it must not also run the window's own
        // focus chain. Enter stays with the input, which ends the editing.
        Keys.onTabPressed: event => {
            field.tabPressed()
            event.accepted = true
        }
        Keys.onReturnPressed: event => {
            field.enterPressed()
            event.accepted = false
        }
        Keys.onEnterPressed: event => {
            field.enterPressed()
            event.accepted = false
        }
    }

    MyLabel {
        id: placeholderLabel
        anchors.left: parent.left
        anchors.leftMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        color: Colors.lightGrey
        visible: input.text.length === 0 && !input.activeFocus
    }
}
