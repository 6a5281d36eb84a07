import QtQuick
import "../../../components"

Column {
    spacing: 8

    MyLabel {
        text: "Audio input"
        font.bold: true
        font.capitalization: Font.AllUppercase
    }
    // Each group of radio buttons has a parent of its own: radio buttons are exclusive per parent.
    Column {
        objectName: "audioInputs"
        width: parent.width

        Repeater {
            model: recorderSettings.availableAudioInputs

            MyRadioButton {
                objectName: "audioInput_" + index
                text: modelData.name()
                checked: modelData.sameAs(recorderSettings.selectedAudioInput)
                onClicked: recorderSettings.selectedAudioInput = modelData
            }
        }
    }
    MyLabel {
        objectName: "audioInputUnavailable"
        width: parent.width
        visible: !recorderSettings.selectedAudioInputAvailable
        wrapMode: Text.WordWrap
        text: "The chosen audio input is not available now. It is used as soon as it appears."
    }

    MyLabel {
        text: "Audio channel count"
        font.bold: true
        font.capitalization: Font.AllUppercase
    }
    Column {
        MyRadioButton {
            objectName: "oneChannel"
            text: "1 channel"
            checked: recorderSettings.audioChannelCount === 1
            onClicked: recorderSettings.audioChannelCount = 1
        }
        MyRadioButton {
            objectName: "twoChannels"
            text: "2 channels"
            checked: recorderSettings.audioChannelCount === 2
            onClicked: recorderSettings.audioChannelCount = 2
        }
    }
}
