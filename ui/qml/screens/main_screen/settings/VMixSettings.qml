import QtQuick
import "../../../components"
import "../../../colors.js" as Colors

Column {
    id: vMixSettings

    // The intervals the poller works with: shorter ones flood vMix and the log, longer ones look
    // enabled while nothing is sent.
    readonly property int minimumPollInterval: 100
    readonly property int maximumPollInterval: 60000

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
            if (isFinite(value) && value >= vMixSettings.minimumPollInterval
                    && value <= vMixSettings.maximumPollInterval) {
                pollIntervalError.text = ""
                liveStreamSettings.vMixApiPollInterval = value
            } else {
                pollIntervalError.text = "The poll interval must be between "
                        + vMixSettings.minimumPollInterval + " and "
                        + vMixSettings.maximumPollInterval + " milliseconds."
                text = Qt.binding(() => liveStreamSettings.vMixApiPollInterval)
            }
        }
    }
    MyLabel {
        id: pollIntervalError
        objectName: "vMixApiPollIntervalError"
        width: parent.width
        visible: text !== ""
        color: Colors.red
        wrapMode: Text.WordWrap
    }
}
