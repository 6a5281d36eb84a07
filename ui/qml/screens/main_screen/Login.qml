import QtQuick
import QtQuick.Controls
import "../../components"
import "../../colors.js" as Colors
import "../../links.js" as Links

Item {
    id: login

    // Follows the stored token until the user asks for the credentials view.
    property bool enterCredentials: loginSettings.liveStreamToken === ""
    property bool connectToExistingLiveStream: resumeCheckBox.checked
    property string liveStreamPresentationId: presentationIdField.text

    function hideStatus() {
        errorLabel.visible = false
        connectingLabel.visible = false
        creatingLabel.visible = false
    }

    function showError(message) {
        hideStatus()
        errorLabel.text = message
        errorLabel.visible = true
        emailField.focusInput()
    }

    function startLiveStream() {
        mainWindow.qml_startLiveStream(connectToExistingLiveStream, liveStreamPresentationId)
    }

    function doLogin() {
        hideStatus()
        if (connectToExistingLiveStream)
            connectingLabel.visible = true
        else
            creatingLabel.visible = true
        mainWindow.qml_login(emailField.text, passwordField.text)
    }

    Connections {
        target: mainWindow

        function onInternal_loginSuccessful() {
            login.hideStatus()
            login.startLiveStream()
        }
        function onInternal_loginFailed() {
            login.showError("Login failed.\nCheck your email and password.")
        }
        function onInternal_showLiveStreamStartFailed(message) {
            login.showError(message)
        }
    }

    ScrollView {
        id: scroll
        anchors.fill: parent
        contentWidth: availableWidth
        ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

        Column {
            id: column
            x: 20
            width: scroll.availableWidth - 40
            topPadding: 20
            bottomPadding: 20
            spacing: 12

            MyLabel {
                id: errorLabel
                objectName: "loginError"
                width: parent.width
                visible: false
                color: Colors.red
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                // The messages come from the web service: markup in them would be followed, even
                // to images elsewhere.
                textFormat: Text.PlainText
            }
            MyLabel {
                id: connectingLabel
                objectName: "loginConnecting"
                width: parent.width
                visible: false
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                text: "Connecting to livestream..."
            }
            MyLabel {
                id: creatingLabel
                objectName: "loginCreating"
                width: parent.width
                visible: false
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                text: "Creating new livestream..."
            }

            MyLabel {
                text: "Live Stream"
                color: Colors.blue
                font.pixelSize: 30
                font.capitalization: Font.AllUppercase
            }

            Column {
                id: resumeView
                objectName: "resumeView"
                width: parent.width
                spacing: 12
                visible: !login.enterCredentials

                MyLabel {
                    width: parent.width
                    wrapMode: Text.WordWrap
                    text: "You can continue previous live stream with following details without entering your credentials by clicking on Start Streaming."
                }
                MySelectableLabel {
                    objectName: "resumeDetails"
                    width: parent.width
                    wrapMode: TextEdit.Wrap
                    font.pixelSize: 14
                    text: {
                        const url = Links.liveEditUrl(mainWindow.siteUrl, loginSettings.liveStreamPresentationId)
                        return "User: <b>%1</b><br>Presentation ID: <b>%2</b><br>Presentation: %3"
                            .arg(Links.escapeHtml(loginSettings.loginEmail))
                            .arg(Links.link(url, loginSettings.liveStreamPresentationId, Colors.blue))
                            .arg(Links.link(url, loginSettings.liveStreamPresentationTitle, Colors.blue))
                    }
                }
                MyLabel {
                    width: parent.width
                    wrapMode: Text.WordWrap
                    text: "If you want to change any details click on Enter credentials."
                }
                Row {
                    spacing: 10

                    MyButton {
                        objectName: "resumeStartButton"
                        text: "Start Streaming"
                        onClicked: login.startLiveStream()
                    }
                    MyButton {
                        objectName: "enterCredentialsButton"
                        text: "Enter Credentials"
                        color: Colors.lightGrey
                        onClicked: {
                            login.enterCredentials = true
                            emailField.focusInput()
                        }
                    }
                }
            }

            Column {
                id: credentialsView
                objectName: "credentialsView"
                width: parent.width
                spacing: 12
                visible: login.enterCredentials

                MyTextEdit {
                    id: emailField
                    objectName: "emailField"
                    width: Math.min(parent.width, 300)
                    placeholder: "E-mail"
                    text: loginSettings.loginEmail
                    inputFocus: true
                    onEditingFinished: loginSettings.loginEmail = text
                    onTabPressed: passwordField.focusInput()
                    onEnterPressed: login.doLogin()
                }
                MyTextEdit {
                    id: passwordField
                    objectName: "passwordField"
                    width: Math.min(parent.width, 300)
                    placeholder: "Password"
                    echoMode: TextInput.Password
                    passwordCharacter: "*"
                    onTabPressed: resumeCheckBox.forceActiveFocus()
                    onEnterPressed: login.doLogin()
                }
                MyCheckBox {
                    id: resumeCheckBox
                    objectName: "resumeCheckBox"
                    text: "Connect to existing Live Stream"
                    checked: loginSettings.liveStreamResume
                    onToggled: loginSettings.liveStreamResume = checked
                    onTabPressed: {
                        if (presentationIdField.visible)
                            presentationIdField.focusInput()
                        else
                            emailField.focusInput()
                    }
                    onEnterPressed: login.doLogin()
                }
                MyTextEdit {
                    id: presentationIdField
                    objectName: "presentationIdField"
                    width: Math.min(parent.width, 300)
                    visible: resumeCheckBox.checked
                    placeholder: "Presentation ID (optional)"
                    text: loginSettings.liveStreamPresentationId
                    onEditingFinished: loginSettings.liveStreamPresentationId = text
                    onTabPressed: emailField.focusInput()
                    onEnterPressed: login.doLogin()
                }
                MyButton {
                    objectName: "loginButton"
                    text: "Start Streaming"
                    onClicked: login.doLogin()
                }
            }
        }
    }
}
