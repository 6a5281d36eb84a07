import QtQuick
import "../../../components"

Column {
    id: section

    // The script engine's integer parsing: leading digits count, anything unparsable is 0.
    function parseResolution(text) {
        const value = parseInt(text)
        return isFinite(value) ? value : 0
    }

    spacing: 8

    MyLabel {
        text: "Slide source"
        font.bold: true
        font.capitalization: Font.AllUppercase
    }
    Column {
        objectName: "slideSources"
        width: parent.width

        Repeater {
            model: recorderSettings.availableSlideSources

            MyRadioButton {
                objectName: "slideSource_" + index
                text: modelData.name()
                checked: modelData.sameAs(recorderSettings.selectedSlideSource)
                enabled: modelData.enabled()
                onClicked: recorderSettings.selectedSlideSource = modelData
            }
        }
    }
    MyLabel {
        objectName: "slideSourceUnavailable"
        width: parent.width
        visible: !recorderSettings.selectedSlideSourceAvailable
                 && recorderSettings.selectedSlideSource.name() !== ""
        wrapMode: Text.WordWrap
        textFormat: Text.PlainText
        text: "Not available now: " + recorderSettings.selectedSlideSource.name()
              + ". It is used as soon as it appears."
    }

    MyLabel {
        text: "Slide resolution"
        font.bold: true
        font.capitalization: Font.AllUppercase
    }
    MyLabel {
        width: parent.width
        font.pixelSize: 10
        wrapMode: Text.WordWrap
        textFormat: Text.StyledText
        text: "Resolution setting is only used when slide source is camera or capture card. It is not used for either NDI, interval nor event driven screen recording.<br>No resizing is done in Quillora Recorder, this resolution is only sent to the slide source device.<br>Make sure to use correct resolution supported by the capture device and its drivers. When resolution is not correct capturing slides might break."
    }
    MyCheckBox {
        id: nativeResolution
        objectName: "nativeResolution"
        text: "Use native slide source resolution"
        checked: recorderSettings.useNativeSlideSourceResolution
        onToggled: recorderSettings.useNativeSlideSourceResolution = checked
    }
    Row {
        objectName: "resolutionRow"
        visible: !nativeResolution.checked
        spacing: 8

        MyTextEdit {
            id: widthField
            objectName: "slideWidthField"
            width: 100
            text: recorderSettings.slideWidth
            onEditingFinished: {
                recorderSettings.slideWidth = section.parseResolution(text)
                // Show what was stored, also when the setting did not change.
                text = Qt.binding(() => recorderSettings.slideWidth)
            }
            onTabPressed: heightField.focusInput()
            onEnterPressed: heightField.focusInput()
        }
        MyLabel {
            anchors.verticalCenter: parent.verticalCenter
            text: "×"
        }
        MyTextEdit {
            id: heightField
            objectName: "slideHeightField"
            width: 100
            text: recorderSettings.slideHeight
            onEditingFinished: {
                recorderSettings.slideHeight = section.parseResolution(text)
                text = Qt.binding(() => recorderSettings.slideHeight)
            }
            onTabPressed: widthField.focusInput()
            onEnterPressed: widthField.focusInput()
        }
    }

    MyLabel {
        text: "Pointer recording"
        font.bold: true
        font.capitalization: Font.AllUppercase
    }
    MyLabel {
        width: parent.width
        font.pixelSize: 10
        wrapMode: Text.WordWrap
        text: "Pointer recording only works with Interval screen capture. If you select another slide source no pointer will be recorded."
    }
    MyCheckBox {
        objectName: "pointerRecording"
        text: "Enable pointer recording"
        checked: recorderSettings.pointerRecordingEnabled
        onToggled: recorderSettings.pointerRecordingEnabled = checked
    }
}
