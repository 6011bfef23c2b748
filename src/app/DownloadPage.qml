import QtQuick

// The Download page, laid out in window coordinates: the address field, the list panel with
// its tools and the place of the program's grid (gridArea), the download folder, the options
// and the run's buttons.
Item {
    id: page
    property bool running: false // a run goes: Stop is the action, Browse is locked
    property bool startAllowed: true
    property string downloadDir: ""
    property alias videoUrl: urlInput.text
    property alias clipboardChecked: clipboardOption.checked
    property alias downloadChecked: downloadOption.checked
    property alias keepFormatChecked: keepFormatOption.checked
    // Where the program lays its download grid. The surface puts nothing there; it only
    // draws the well around it.
    readonly property Item gridArea: gridPlace
    // The page's commands to the program.
    signal command(string name)
    // The user switched the clipboard option.
    signal clipboardToggled(bool on)

    function focusAddress() {
        urlInput.forceActiveFocus()
    }

    Text {
        x: 23
        y: 86
        text: "Video page address"
        color: Theme.deepBlue
        font.pixelSize: 13
        font.bold: true
    }
    Text {
        anchors.right: addButton.right
        y: 87
        text: "Enter or Add puts it on the list"
        color: Theme.mutedInk
        font.pixelSize: 12
    }
    Rectangle {
        id: urlBox
        x: 23
        y: 105
        width: 470
        height: 32
        radius: 4
        color: Theme.white
        border.width: urlInput.activeFocus ? 2 : 1
        border.color: urlInput.activeFocus ? Theme.deepBlue : Theme.green

        MouseArea { // a press beside the text still goes to the field
            anchors.fill: parent
            cursorShape: Qt.IBeamCursor
            onPressed: urlInput.forceActiveFocus()
        }
        Text {
            anchors.fill: urlInput
            verticalAlignment: Text.AlignVCenter
            visible: urlInput.text === ""
            text: "Paste the address of a video page here"
            color: Theme.placeholderInk
            font.pixelSize: 14
            elide: Text.ElideRight
            Accessible.ignored: true
        }
        TextInput {
            id: urlInput
            objectName: "urlInput"
            anchors.fill: parent
            anchors.leftMargin: 10
            anchors.rightMargin: 10
            verticalAlignment: TextInput.AlignVCenter
            clip: true
            focus: true
            selectByMouse: true
            color: Theme.fieldInk
            selectionColor: Theme.yellow
            selectedTextColor: Theme.fieldInk
            font.pixelSize: 14
            onAccepted: page.command("IDC_FS_addDownloadURL")

            Accessible.role: Accessible.EditableText
            Accessible.name: "Video page address"
            Accessible.editable: true
            Accessible.focusable: true
            Accessible.onPressAction: forceActiveFocus()
        }
    }
    PushButton {
        id: addButton
        x: 501
        y: 105
        width: 94
        height: 32
        kind: "primary"
        glyph: "+"
        text: "Add"
        fontSize: 14
        onClicked: page.command("IDC_FS_addDownloadURL")
    }

    // The list panel: its tools on top, the well for the program's grid below.
    Rectangle {
        x: 15
        y: 145
        width: 588
        height: 221
        radius: 6
        border.color: Theme.darkGreen
        gradient: Gradient {
            GradientStop {
                position: 0
                color: Theme.listPanelTop
            }
            GradientStop {
                position: 1
                color: Theme.green
            }
        }
    }
    Row {
        id: listTools
        x: gridPlace.x
        y: 149
        height: 24
        // Spread the tools over the well's width.
        spacing: Math.max(4, (gridPlace.width - selectAllButton.implicitWidth - removeButton.implicitWidth - upButton.implicitWidth - downButton.implicitWidth - clearButton.implicitWidth) / 4)
        PushButton {
            id: selectAllButton
            height: 24
            padding: 8
            text: "Select all"
            onClicked: page.command("IDC_FS_selectAllD")
        }
        PushButton {
            id: removeButton
            height: 24
            padding: 8
            text: "Remove selected"
            onClicked: page.command("IDC_FS_removeSelectedD")
        }
        PushButton {
            id: upButton
            height: 24
            padding: 8
            glyph: "\u25b2"
            text: "Move up"
            onClicked: page.command("IDC_FS_moveUp")
        }
        PushButton {
            id: downButton
            height: 24
            padding: 8
            glyph: "\u25bc"
            text: "Move down"
            onClicked: page.command("IDC_FS_moveDown")
        }
        PushButton {
            id: clearButton
            height: 24
            padding: 8
            text: "Clear completed"
            onClicked: page.command("ID_FS_clearComplete")
        }
    }
    Item {
        id: gridPlace
        objectName: "gridArea"
        x: 23
        y: 177
        width: 572
        height: 179
    }
    Rectangle { // the well, two pixels around the grid's place
        anchors.fill: gridPlace
        anchors.margins: -2
        color: Theme.lime
        border.width: 2
        border.color: Theme.darkGreen
    }

    // Where the files go.
    Text {
        x: 23
        anchors.verticalCenter: folderBox.verticalCenter
        text: "Save to"
        color: Theme.deepBlue
        font.pixelSize: 13
        font.bold: true
    }
    Rectangle {
        id: folderBox
        x: 86
        y: 375
        width: 407
        height: 30
        radius: 4
        color: Theme.panel
        border.color: Theme.green
        Text {
            anchors.fill: parent
            anchors.leftMargin: 10
            anchors.rightMargin: 10
            verticalAlignment: Text.AlignVCenter
            text: page.downloadDir
            elide: Text.ElideMiddle
            color: Theme.ink
            font.pixelSize: 13
        }
        Accessible.role: Accessible.StaticText
        Accessible.name: "Download folder"
        Accessible.description: page.downloadDir
    }
    PushButton {
        x: 501
        y: 375
        width: 94
        height: 30
        text: "Browse"
        enabled: !page.running
        onClicked: page.command("ID_FS_downloadBrowse")
    }

    // Options.
    Rectangle {
        x: 15
        y: 413
        width: 418
        height: 114
        radius: 6
        color: Theme.panel
        border.color: Theme.green
    }
    Text {
        x: 27
        y: 418
        text: "Options"
        color: Theme.deepBlue
        font.pixelSize: 13
        font.bold: true
    }
    CheckOption {
        id: clipboardOption
        x: 27
        y: 438
        width: 398
        text: "Monitor video URL's in the clipboard and automatically add and download them"
        onToggled: on => page.clipboardToggled(on)
    }
    CheckOption {
        id: downloadOption
        x: 27
        y: 478
        width: 398
        locked: true
        checked: true
        text: "Download videos"
        note: "always on"
    }
    CheckOption {
        id: keepFormatOption
        x: 27
        y: 502
        width: 398
        locked: true
        checked: true
        text: "Keep the original format"
        note: "always on"
    }

    // The run.
    PushButton {
        id: startButton
        x: 443
        y: 413
        width: 160
        height: 56
        kind: "primary"
        glyph: "\u25b6"
        text: "Start"
        fontSize: 17
        enabled: page.startAllowed
        onClicked: page.command("IDC_FS_startDownload")
    }
    PushButton {
        id: stopButton
        x: 443
        y: 477
        width: 160
        height: 50
        kind: "strong"
        glyph: "\u25a0"
        text: "Stop"
        fontSize: 16
        enabled: page.running
        onClicked: page.command("IDC_FS_stopDownload")
    }
}
