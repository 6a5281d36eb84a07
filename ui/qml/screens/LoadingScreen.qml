import QtQuick
import "../components"
import "../colors.js" as Colors
import "../links.js" as Links

Rectangle {
    id: screen

    color: Colors.bgDark

    Item {
        objectName: "loadingIndicator"
        anchors.centerIn: parent
        width: background.width
        height: background.height

        MyImage {
            id: background
            source: "qrc:/images/loader_bg.png"
        }
        MyImage {
            id: foreground
            objectName: "loaderForeground"
            source: "qrc:/images/loader_fg.png"

            RotationAnimation on rotation {
                from: 0
                to: 180
                duration: 1000
                loops: Animation.Infinite
                running: screen.visible
            }
        }
    }

    // While a recording stops, the numbers it ended with stay readable.
    Column {
        objectName: "loadingInfo"
        anchors.left: parent.left
        anchors.bottom: parent.bottom
        anchors.margins: 10
        visible: mainWindow.isRecording

        MyLabel {
            color: Colors.white
            font.pixelSize: 12
            text: "Slides source: " + recorderSettings.selectedSlideSource.name()
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
        objectName: "loadingPresentationTitle"
        anchors.left: parent.left
        anchors.top: parent.top
        anchors.margins: 10
        width: parent.width - 20
        visible: mainWindow.isRecording
        wrapMode: TextEdit.Wrap
        color: Colors.white
        font.pixelSize: 15
        text: {
            if (!mainWindow.isLiveStream)
                return Links.escapeHtml(mainWindow.liveStreamPresentationTitle)
            // Same page as the recording screen links to.
            const url = Links.liveEditUrl(mainWindow.siteUrl, mainWindow.liveStreamPresentationId)
            return "<b>" + Links.link(url, mainWindow.liveStreamPresentationId, Colors.white) + "</b><br>"
                    + Links.link(url, mainWindow.liveStreamPresentationTitle, Colors.white)
        }
    }
}
