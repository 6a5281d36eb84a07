import QtQuick
import QtQuick.Controls
import "../colors.js" as Colors

Label {
    font.family: "Roboto"
    font.weight: Font.Normal
    font.pixelSize: 14
    color: Colors.darkGrey
}
