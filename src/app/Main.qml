// The UI surface of Orvello. The program talks to it through three members only:
//   signal fsCommand(command, args)   commands from the surface to the program
//   setVariable(name, value)          values from the program ("_root.download_dir", ...)
//   getVariable(name)                 values the program reads ("_root.video_url", ...)
// Any QML file that keeps these three may take this one's place.
import QtQuick

Rectangle {
    id: root
    color: "#1f4e6e"
    implicitWidth: 780
    implicitHeight: 140

    signal fsCommand(string command, string args)

    property var variables: ({})

    function setVariable(name, value) {
        var v = variables
        v[name] = String(value)
        variables = v
        if (name === "_root.video_url")
            urlInput.text = String(value)
    }

    function getVariable(name) {
        if (name === "_root.video_url")
            return urlInput.text
        var v = variables[name]
        return v === undefined ? "" : v
    }

    Column {
        anchors.fill: parent
        anchors.margins: 14
        spacing: 10

        Text {
            text: "Orvello"
            color: "white"
            font.pixelSize: 22
            font.bold: true
        }

        Row {
            spacing: 8
            Rectangle {
                width: root.width - 150
                height: 30
                radius: 4
                color: "white"
                TextInput {
                    id: urlInput
                    objectName: "urlInput"
                    anchors.fill: parent
                    anchors.margins: 6
                    clip: true
                    selectByMouse: true
                    font.pixelSize: 14
                }
            }
            Rectangle {
                width: 100
                height: 30
                radius: 4
                color: addArea.pressed ? "#9cc3dd" : "#d6e8f4"
                Text {
                    anchors.centerIn: parent
                    text: "Add"
                    font.pixelSize: 14
                }
                MouseArea {
                    id: addArea
                    anchors.fill: parent
                    onClicked: root.fsCommand("IDC_FS_addDownloadURL", "")
                }
            }
        }
    }
}
