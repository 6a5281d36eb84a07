import QtQuick
import QtQuick.Controls

RadioButton {
    font.family: "Roboto"
    font.pixelSize: 14
}
