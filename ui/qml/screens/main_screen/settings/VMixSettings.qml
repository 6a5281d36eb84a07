import QtQuick
import "../../../components"

Column {
    spacing: 8

    MyLabel {
        text: "vMix API"
        font.bold: true
        font.capitalization: Font.AllUppercase
    }
    MyLabel {
        width: parent.width
        font.pixelSize: 10
        wrapMode: Text.WordWrap
        text: "Enables polling vMix API. Allows Quillora player integrations based on vMix state."
    }
    MyCheckBox {
        objectName: "pollVMixApi"
        text: "Poll vMix API"
        checked: liveStreamSettings.pollVMixApi
        onToggled: liveStreamSettings.pollVMixApi = checked
    }
    MyLabel {
        text: "vMix API endpoint"
    }
    MyTextEdit {
        objectName: "vMixApiEndpointField"
        width: Math.min(parent.width, 300)
        text: liveStreamSettings.vMixApiEndpoint
        onEditingFinished: liveStreamSettings.vMixApiEndpoint = text
    }
    MyLabel {
        text: "vMix API poll interval in milliseconds"
    }
    MyTextEdit {
        objectName: "vMixApiPollIntervalField"
        text: liveStreamSettings.vMixApiPollInterval
        onEditingFinished: {
            const value = parseInt(text)
            if (isFinite(value))
                liveStreamSettings.vMixApiPollInterval = value
            else
                text = Qt.binding(() => liveStreamSettings.vMixApiPollInterval)
        }
    }
}
