import QtQuick

ListView {
    id: list

    model: presentationModel
    spacing: 1
    clip: true

    delegate: MyPresentationListDelegate {
        width: ListView.view.width
        title: model.title
        directory: model.directory
        slideCount: model.slideCount
        recordedAtString: model.recordedAtString
    }
}
