import QtQuick
import Quillora 1.0
import "../components"
import "../colors.js" as Colors
import "../links.js" as Links

Rectangle {
    id: screen

    // The latest captured slides, one image per screen of the slide source.
    property var slides: []

    color: Colors.bgDark

    Connections {
        target: mainWindow

        function onInternal_showSlides(slides) {
            screen.slides = slides
        }
    }

    Row {
        id: slideView
        objectName: "slideView"
        anchors.fill: parent

        Repeater {
            model: screen.slides.length

            ImageItem {
                width: screen.width / screen.slides.length
                height: slideView.height
                image: screen.slides[index]
            }
        }
    }

    Rectangle {
        anchors.fill: parent
        color: Colors.bgDark
        opacity: 0.5
    }

    Text {
        id: frozenLabel
        objectName: "frozenLabel"

        property bool blinkOn: true

        anchors.bottom: durationLabel.top
        anchors.horizontalCenter: parent.horizontalCenter
        visible: mainWindow.slidesFrozen && blinkOn
        text: "Slides frozen!"
        color: Colors.brightRed
        font.family: "Roboto"
        font.pixelSize: 70
        font.capitalization: Font.AllUppercase

        Timer {
            interval: 800
            repeat: true
            running: mainWindow.slidesFrozen && screen.visible
            onRunningChanged: frozenLabel.blinkOn = true
            onTriggered: frozenLabel.blinkOn = !frozenLabel.blinkOn
        }
    }

    // A lost microphone or slide source must be seen at once: the recording goes on without it.
    Rectangle {
        objectName: "missingDevicesWarning"
        anchors.bottom: frozenLabel.top
        anchors.bottomMargin: 10
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(parent.width - 20, missingDevicesText.implicitWidth + 24)
        height: missingDevicesText.implicitHeight + 12
        visible: mainWindow.missingDevices.length > 0
        color: Colors.red
        radius: 4

        Text {
            id: missingDevicesText
            objectName: "missingDevicesText"
            anchors.centerIn: parent
            width: parent.width - 24
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            textFormat: Text.PlainText
            text: mainWindow.missingDevices.map(device => device + " is missing: waiting for it to return.").join("\n")
            color: Colors.white
            font.family: "Roboto"
            font.pixelSize: 16
            font.bold: true
        }
    }

    Text {
        id: durationLabel
        objectName: "durationLabel"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.verticalCenter: parent.verticalCenter
        anchors.verticalCenterOffset: -stopButton.height / 2
        text: mainWindow.recordingDurationString
        color: Colors.white
        font.family: "Roboto"
        font.pixelSize: 50
    }

    MyButton {
        id: stopButton
        objectName: "stopButton"
        anchors.top: durationLabel.bottom
        anchors.topMargin: 10
        anchors.horizontalCenter: parent.horizontalCenter
        color: Colors.red
        text: mainWindow.isLiveStream ? "Stop Streaming" : "Stop Recording"
        onClicked: mainWindow.qml_stopRecording()
    }

    Column {
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 10
        width: 150
        spacing: 8

        MyButton {
            objectName: "freezeButton"
            width: parent.width
            color: Colors.red
            text: mainWindow.slidesFrozen ? "Unfreeze slides" : "Freeze slides"
            onClicked: mainWindow.qml_freezeSlides()
        }
        MyButton {
            objectName: "captureButton"
            width: parent.width
            text: "Capture slide"
            onClicked: mainWindow.qml_captureSlide()
        }
    }

    Column {
        objectName: "recordingInfo"
        anchors.left: parent.left
        anchors.bottom: parent.bottom
        anchors.margins: 10

        MyLabel {
            color: Colors.white
            font.pixelSize: 12
            text: "Mouse position: [" + mainWindow.mousePositionX + ", " + mainWindow.mousePositionY + "]"
        }
        MyLabel {
            color: Colors.white
            font.pixelSize: 12
            text: "Slides source: " + recorderSettings.selectedSlideSource.name()
        }
        MyLabel {
            color: Colors.white
            font.pixelSize: 12
            text: "Slides resolution: " + Links.resolutionsText(mainWindow.slidesResolutions)
        }
        MyLabel {
            color: Colors.white
            font.pixelSize: 12
            text: "Slides captured: " + mainWindow.slidesCaptured
        }
        MyLabel {
            color: Colors.white
            font.pixelSize: 12
            text: "Slides saved: " + mainWindow.slidesSaved
        }
        Column {
            visible: mainWindow.isLiveStream

            MyLabel {
                color: Colors.white
                font.pixelSize: 12
                text: "Slides to upload: " + mainWindow.slidesToUpload
            }
            MyLabel {
                color: Colors.white
                font.pixelSize: 12
                text: "Slides uploaded: " + mainWindow.slidesUploaded
            }
            MyLabel {
                color: Colors.white
                font.pixelSize: 12
                text: "Slides upload failed: " + mainWindow.slidesUploadFailed
            }
            MyLabel {
                color: Colors.white
                font.pixelSize: 12
                text: "Slides created on web: " + mainWindow.slideInfoWebSuccessCount
            }
            MyLabel {
                color: Colors.white
                font.pixelSize: 12
                text: "Slides failed to create on web: " + mainWindow.slideInfoWebFailCount
            }
            MyLabel {
                color: Colors.white
                font.pixelSize: 12
                text: "Last slide creating failed: " + (mainWindow.lastSlideInfoWebSuccess ? "no" : "yes")
            }
            MyLabel {
                color: Colors.white
                font.pixelSize: 12
                text: "Last slide creating error: " + mainWindow.lastSlideInfoWebErrorString
                      + "(" + mainWindow.lastSlideInfoWebError + ")"
            }
            MyLabel {
                color: Colors.white
                font.pixelSize: 12
                text: "vMix API polling: " + (liveStreamSettings.pollVMixApi
                                              ? "enabled (every " + liveStreamSettings.vMixApiPollInterval + " ms)"
                                              : "disabled")
            }
        }
    }

    MySelectableLabel {
        objectName: "presentationTitle"
        anchors.left: parent.left
        anchors.top: parent.top
        anchors.margins: 10
        width: parent.width - 20
        wrapMode: TextEdit.Wrap
        color: Colors.white
        font.pixelSize: 15
        text: {
            if (!mainWindow.isLiveStream)
                return Links.escapeHtml(mainWindow.liveStreamPresentationTitle)
            const url = Links.liveEditUrl(mainWindow.siteUrl, mainWindow.liveStreamPresentationId)
            return "<b>" + Links.link(url, mainWindow.liveStreamPresentationId, Colors.white) + "</b><br>"
                    + Links.link(url, mainWindow.liveStreamPresentationTitle, Colors.white)
        }
    }
}
