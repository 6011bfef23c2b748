// The UI surface of Orvello: the title band, the Download and About pages and every control
// the program answers. The program talks to it through three members only:
//   signal fsCommand(command, args)   commands from the surface to the program (args is "")
//   setVariable(name, value)          values from the program ("_root.download_dir", ...)
//   getVariable(name)                 values the program reads ("_root.video_url", ...)
// Any QML file that keeps these three may take this one's place.
//
// The surface fills a fixed, frameless window of 630 x 535. On the Download page the program
// lays its download grid over the rectangle x 23, y 177, 572 x 179 (the "well" below); the
// surface only draws the frame around that place and puts nothing under it.
//
// Palette, shared with the grid: #cfdd63 lime (the grid's background), #276892 deep blue
// (title band, headings), #9cb863 green, #547912 dark green (text on light, selections),
// #ffc700 yellow (highlights, the main actions).
//
// What the program's variables do here:
//   _root.startDownload   "0" disables Start, "1" enables it.
//   _root.downloadBtn     "0" while a run goes: Stop becomes the active action, Browse is locked
//                         (a run's files all go to one folder) and the title band says
//                         "Downloading"; "1" returns to idle, where Stop is disabled (the
//                         program's stop command would start a run when none is going).
//   _root.downloadTab     "0" makes the About page unavailable during a run: its tab is
//                         disabled and, when About is shown, the surface returns to Download;
//                         "1" makes it available again.
//   _root.downloadBtnTab  "1" switches to the Download page, as if its tab had been chosen.
//   _root.autoToDownloadList_CB, _root.Download_CB, _root.Convert_CB
//                         the three check boxes, "1" checked, "0" unchecked. Only the clipboard
//                         switch is the user's to change; the other two show options that are
//                         always on.
//   _root.download_dir    the download folder, shown as text.
//   _root.aboutTxt        the about text: its first line is the version, the rest a sentence.
//   _root.video_url       the address field; getVariable answers its exact text.
import QtQuick

Rectangle {
    id: root
    implicitWidth: 630
    implicitHeight: 535
    color: "#f3f6df"

    signal fsCommand(string command, string args)

    // Every variable written or read, by full name, as text; the ones with a meaning above are
    // also shown by the controls.
    property var variables: ({})

    property bool startAllowed: true // _root.startDownload
    property bool running: false // _root.downloadBtn is "0"
    property bool aboutAllowed: true // _root.downloadTab
    property string downloadDir: ""
    property string aboutText: ""
    readonly property var aboutLines: aboutText.split(/\r\n|\r|\n/)

    // 0: Download, 1: About. The page shown, or the one being slid to.
    property int page: 0
    readonly property int bandHeight: 78

    function setVariable(name, value) {
        const text = value === undefined || value === null ? "" : String(value)
        variables[name] = text
        const on = text === "1"
        const known = text === "0" || text === "1"
        switch (name) {
        case "_root.video_url":
            urlInput.text = text
            break
        case "_root.download_dir":
            downloadDir = text
            break
        case "_root.aboutTxt":
            aboutText = text
            break
        case "_root.startDownload":
            if (known)
                startAllowed = on
            break
        case "_root.downloadBtn":
            if (known)
                running = !on
            break
        case "_root.downloadTab":
            if (known) {
                aboutAllowed = on
                if (!on)
                    showPage(0)
            }
            break
        case "_root.downloadBtnTab":
            if (on)
                showPage(0)
            break
        case "_root.autoToDownloadList_CB":
            if (known)
                clipboardOption.checked = on
            break
        case "_root.Download_CB":
            if (known)
                downloadOption.checked = on
            break
        case "_root.Convert_CB":
            if (known)
                keepFormatOption.checked = on
            break
        }
    }

    function getVariable(name) {
        if (name === "_root.video_url")
            return urlInput.text
        const v = variables[name]
        return v === undefined ? "" : v
    }

    // Slides to page p. The program hears "IDC_FS_Slider" as the slide starts (it hides its
    // grid) and the page's own command once the page is in place.
    function showPage(p) {
        if (p === page || (p === 1 && !aboutAllowed))
            return
        page = p
        fsCommand("IDC_FS_Slider", "")
        slide.stop()
        slide.to = -p * root.width
        slide.start()
    }

    function pageShown() {
        fsCommand(page === 0 ? "IDC_FS_Download" : "IDC_FS_About", "")
        if (page === 0)
            urlInput.forceActiveFocus()
    }

    NumberAnimation {
        id: slide
        target: strip
        property: "x"
        duration: 260
        easing.type: Easing.InOutCubic
        onFinished: root.pageShown()
    }

    // The program shows its grid only when told the Download page is shown; say so once the
    // program is listening, right after loading.
    Timer {
        interval: 0
        running: true
        onTriggered: {
            if (!slide.running)
                root.pageShown()
        }
    }

    // ---- Reusable controls -------------------------------------------------------------

    // A push button. kind: "plain" (light), "primary" (yellow) or "strong" (deep blue).
    component PushButton: Rectangle {
        id: button
        property string text
        property string glyph
        property string kind: "plain"
        property int fontSize: 13
        property int padding: 13
        signal clicked

        function activate() {
            if (enabled)
                clicked()
        }

        readonly property bool hovered: area.containsMouse
        readonly property bool down: area.pressed
        readonly property var faces: ({
                "plain": ["#ffffff", "#e6eec1", "#f7fadf", "#d7e37c", "#cfdd63", "#bccd4f"],
                "primary": ["#ffdc52", "#ffc700", "#ffe47a", "#ffd02a", "#f0b800", "#e0a800"],
                "strong": ["#3583b3", "#276892", "#3f90c2", "#2d75a4", "#225d82", "#1c5173"]
            })
        readonly property int face: down ? 4 : hovered ? 2 : 0

        implicitWidth: content.implicitWidth + 2 * padding
        implicitHeight: 30
        radius: 4
        border.width: 1
        border.color: !enabled ? "#c5cbb0" : kind === "primary" ? "#b58c00" : kind === "strong" ? "#163f5a" : hovered ? "#547912" : "#9cb863"
        gradient: Gradient {
            GradientStop {
                position: 0
                color: button.enabled ? button.faces[button.kind][button.face] : "#f1f2ea"
            }
            GradientStop {
                position: 1
                color: button.enabled ? button.faces[button.kind][button.face + 1] : "#e3e6d6"
            }
        }

        readonly property color ink: !enabled ? "#8a9275" : kind === "strong" ? "#ffffff" : kind === "primary" ? "#2b2100" : "#2f4a08"

        Row {
            id: content
            anchors.centerIn: parent
            anchors.verticalCenterOffset: button.down ? 1 : 0
            spacing: 7
            Text {
                visible: button.glyph !== ""
                text: button.glyph
                color: button.ink
                font.pixelSize: button.fontSize
                font.bold: true
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                text: button.text
                color: button.ink
                font.pixelSize: button.fontSize
                font.bold: button.kind !== "plain"
                anchors.verticalCenter: parent.verticalCenter
            }
        }

        Rectangle { // keyboard focus ring
            anchors.fill: parent
            anchors.margins: -3
            radius: parent.radius + 3
            color: "transparent"
            border.width: 2
            border.color: "#276892"
            visible: button.activeFocus
        }

        MouseArea {
            id: area
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: button.activate()
        }

        activeFocusOnTab: true
        Keys.onPressed: event => {
            if (event.key === Qt.Key_Space || event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
                button.activate()
                event.accepted = true
            }
        }

        Accessible.role: Accessible.Button
        Accessible.name: text
        // The accessibility interface does not report a disabled item as such; say it.
        Accessible.description: enabled ? "" : "Unavailable"
        Accessible.focusable: true
        Accessible.pressed: down
        Accessible.onPressAction: activate()
    }

    // A check box with a wrapping label. A locked one shows an option that is always on: it
    // follows the program's value and the user cannot change it.
    component CheckOption: Item {
        id: option
        property string text
        property bool checked: false
        property bool locked: false
        property string note // shown after the text, muted
        // Raised only when the user changes the box, never when the program sets it.
        signal toggled(bool on)

        function toggle() {
            if (!enabled || locked)
                return
            checked = !checked
            toggled(checked)
        }

        implicitHeight: Math.max(20, label.implicitHeight)

        Rectangle {
            id: box
            y: 0
            width: 18
            height: 18
            radius: 3
            color: option.checked ? (option.locked ? "#9cb863" : "#547912") : "#ffffff"
            border.width: area.containsMouse && !option.locked ? 2 : 1
            border.color: option.locked ? "#84a24a" : "#547912"
            Text {
                anchors.centerIn: parent
                visible: option.checked
                text: "\u2713"
                color: option.locked ? "#1f3306" : "#ffffff"
                font.pixelSize: 14
                font.bold: true
            }
        }
        Rectangle { // keyboard focus ring
            anchors.fill: box
            anchors.margins: -3
            radius: 5
            color: "transparent"
            border.width: 2
            border.color: "#276892"
            visible: option.activeFocus
        }
        Text {
            id: label
            x: 28
            width: option.width - x
            text: option.note === "" ? option.text : option.text + "&nbsp;&nbsp;<font color=\"#5b6b3a\"><i>" + option.note + "</i></font>"
            textFormat: Text.StyledText
            wrapMode: Text.WordWrap
            color: "#26340c"
            font.pixelSize: 13
            lineHeight: 1.05
        }
        MouseArea {
            id: area
            anchors.fill: parent
            enabled: !option.locked
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: option.toggle()
        }

        activeFocusOnTab: !locked
        Keys.onPressed: event => {
            if (event.key === Qt.Key_Space) {
                option.toggle()
                event.accepted = true
            }
        }

        Accessible.role: Accessible.CheckBox
        Accessible.name: text
        Accessible.description: note
        Accessible.checkable: true
        Accessible.checked: checked
        Accessible.readOnly: locked
        Accessible.focusable: !locked
        Accessible.onToggleAction: toggle()
        Accessible.onPressAction: toggle()
    }

    // A page tab in the title band; the current one takes the page's colour, so it reads as
    // the page's own top.
    component PageTabButton: Rectangle {
        id: tab
        property string text
        property bool current: false
        // An unavailable tab stays enabled so that it still takes its presses: a press on it
        // must neither choose the page nor fall through to the band and move the window.
        property bool available: true
        signal chosen

        function activate() {
            if (available)
                chosen()
        }

        width: 132
        height: 34
        radius: 6
        color: current ? "#f3f6df" : !available ? "#1f5273" : area.containsMouse ? "#3a86b6" : "#1d5477"
        Rectangle { // squares the bottom corners
            anchors.bottom: parent.bottom
            width: parent.width
            height: parent.radius
            color: parent.color
        }
        Rectangle { // the current tab's accent
            visible: tab.current
            x: 6
            width: parent.width - 12
            height: 3
            radius: 1.5
            color: "#ffc700"
        }
        Text {
            anchors.centerIn: parent
            anchors.verticalCenterOffset: 1
            text: tab.text
            color: tab.current ? "#276892" : tab.available ? "#ffffff" : "#7fa3bb"
            font.pixelSize: 14
            font.bold: true
        }
        Rectangle { // keyboard focus ring
            anchors.fill: parent
            anchors.margins: 2
            radius: 4
            color: "transparent"
            border.width: 2
            border.color: "#ffc700"
            visible: tab.activeFocus
        }
        MouseArea {
            id: area
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: tab.current || !tab.available ? Qt.ArrowCursor : Qt.PointingHandCursor
            onClicked: tab.activate()
        }

        activeFocusOnTab: available
        Keys.onPressed: event => {
            if (event.key === Qt.Key_Space || event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
                tab.activate()
                event.accepted = true
            }
        }

        Accessible.role: Accessible.PageTab
        Accessible.name: text
        Accessible.description: available ? "" : "Unavailable"
        Accessible.selectable: true
        Accessible.selected: current
        Accessible.focusable: true
        Accessible.onPressAction: activate()
    }

    // A window button in the title band, its sign drawn: "minimize", "tray" or "close".
    component WindowButton: Rectangle {
        id: wb
        property string sign
        property string text
        signal clicked

        width: 36
        height: 28
        radius: 4
        color: area.pressed ? "#e0a800" : area.containsMouse ? "#ffc700" : "transparent"
        border.width: activeFocus ? 2 : 0
        border.color: "#ffc700"
        readonly property color ink: area.containsMouse ? "#1b3a50" : "#ffffff"

        Rectangle { // minimize: a bar at the bottom
            visible: wb.sign === "minimize"
            anchors.horizontalCenter: parent.horizontalCenter
            y: 18
            width: 14
            height: 2
            color: wb.ink
        }
        Item { // tray: an arrow down into a tray
            visible: wb.sign === "tray"
            anchors.fill: parent
            Rectangle {
                x: 17
                y: 6
                width: 2
                height: 9
                color: wb.ink
            }
            Item { // arrow head: the lower half of a turned square
                x: 13
                y: 13
                width: 10
                height: 5
                clip: true
                Rectangle {
                    x: 1.5
                    y: -3.5
                    width: 7
                    height: 7
                    rotation: 45
                    color: wb.ink
                }
            }
            Rectangle {
                x: 10
                y: 16
                width: 2
                height: 5
                color: wb.ink
            }
            Rectangle {
                x: 24
                y: 16
                width: 2
                height: 5
                color: wb.ink
            }
            Rectangle {
                x: 10
                y: 20
                width: 16
                height: 2
                color: wb.ink
            }
        }
        Repeater { // close: a cross
            model: wb.sign === "close" ? [45, -45] : []
            Rectangle {
                anchors.centerIn: parent
                width: 16
                height: 2
                radius: 1
                rotation: modelData
                color: wb.ink
            }
        }
        MouseArea {
            id: area
            anchors.fill: parent
            hoverEnabled: true
            onClicked: wb.clicked()
        }

        activeFocusOnTab: true
        Keys.onPressed: event => {
            if (event.key === Qt.Key_Space || event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
                wb.clicked()
                event.accepted = true
            }
        }

        Accessible.role: Accessible.Button
        Accessible.name: text
        Accessible.focusable: true
        Accessible.onPressAction: clicked()
    }

    // The program's mark: an arrow down onto a line, on a yellow disc.
    component Badge: Rectangle {
        id: badge
        property real size: 28
        width: size
        height: size
        radius: size / 2
        gradient: Gradient {
            GradientStop {
                position: 0
                color: "#ffdc52"
            }
            GradientStop {
                position: 1
                color: "#f0b400"
            }
        }
        border.width: Math.max(1, size / 24)
        border.color: "#b58c00"
        readonly property color ink: "#1d5477"
        Rectangle { // shaft
            x: (badge.size - width) / 2
            y: badge.size * 0.2
            width: badge.size * 0.14
            height: badge.size * 0.34
            color: badge.ink
        }
        Item { // head: the lower half of a turned square
            x: (badge.size - width) / 2
            y: badge.size * 0.5
            width: badge.size * 0.48
            height: width / 2
            clip: true
            Rectangle {
                width: parent.width / Math.SQRT2
                height: width
                x: (parent.width - width) / 2
                y: -height / 2
                rotation: 45
                color: badge.ink
            }
        }
        Rectangle { // line
            x: (badge.size - width) / 2
            y: badge.size * 0.76
            width: badge.size * 0.5
            height: badge.size * 0.08
            radius: height / 2
            color: badge.ink
        }
    }

    // ---- Pages ---------------------------------------------------------------------------

    Item {
        id: viewport
        y: root.bandHeight
        width: root.width
        height: root.height - root.bandHeight
        clip: true

        // Both pages side by side, placed so their children use window coordinates.
        Item {
            id: strip
            y: -root.bandHeight
            width: root.width * 2
            height: root.height

            // -- Download page --
            Item {
                id: downloadPage
                width: root.width
                height: root.height
                visible: root.page === 0 || slide.running

                Text {
                    x: 23
                    y: 86
                    text: "Video page address"
                    color: "#276892"
                    font.pixelSize: 13
                    font.bold: true
                }
                Text {
                    anchors.right: addButton.right
                    y: 87
                    text: "Enter or Add puts it on the list"
                    color: "#5b6b3a"
                    font.pixelSize: 12
                }
                Rectangle {
                    id: urlBox
                    x: 23
                    y: 105
                    width: 470
                    height: 32
                    radius: 4
                    color: "#ffffff"
                    border.width: urlInput.activeFocus ? 2 : 1
                    border.color: urlInput.activeFocus ? "#276892" : "#9cb863"

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
                        color: "#7d8a5c"
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
                        color: "#1f2a08"
                        selectionColor: "#ffc700"
                        selectedTextColor: "#1f2a08"
                        font.pixelSize: 14
                        onAccepted: root.fsCommand("IDC_FS_addDownloadURL", "")

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
                    onClicked: root.fsCommand("IDC_FS_addDownloadURL", "")
                }

                // The list panel: its tools on top, the well for the program's grid below.
                Rectangle {
                    x: 15
                    y: 145
                    width: 588
                    height: 221
                    radius: 6
                    border.color: "#547912"
                    gradient: Gradient {
                        GradientStop {
                            position: 0
                            color: "#adc679"
                        }
                        GradientStop {
                            position: 1
                            color: "#9cb863"
                        }
                    }
                }
                Row {
                    id: listTools
                    x: 23
                    y: 149
                    height: 24
                    // Spread the tools over the well's width.
                    spacing: Math.max(4, (572 - selectAllButton.implicitWidth - removeButton.implicitWidth - upButton.implicitWidth - downButton.implicitWidth - clearButton.implicitWidth) / 4)
                    PushButton {
                        id: selectAllButton
                        height: 24
                        padding: 8
                        text: "Select all"
                        onClicked: root.fsCommand("IDC_FS_selectAllD", "")
                    }
                    PushButton {
                        id: removeButton
                        height: 24
                        padding: 8
                        text: "Remove selected"
                        onClicked: root.fsCommand("IDC_FS_removeSelectedD", "")
                    }
                    PushButton {
                        id: upButton
                        height: 24
                        padding: 8
                        glyph: "\u25b2"
                        text: "Move up"
                        onClicked: root.fsCommand("IDC_FS_moveUp", "")
                    }
                    PushButton {
                        id: downButton
                        height: 24
                        padding: 8
                        glyph: "\u25bc"
                        text: "Move down"
                        onClicked: root.fsCommand("IDC_FS_moveDown", "")
                    }
                    PushButton {
                        id: clearButton
                        height: 24
                        padding: 8
                        text: "Clear completed"
                        onClicked: root.fsCommand("ID_FS_clearComplete", "")
                    }
                }
                Rectangle { // the well: the program's grid covers x 23, y 177, 572 x 179
                    x: 21
                    y: 175
                    width: 576
                    height: 183
                    color: "#cfdd63"
                    border.width: 2
                    border.color: "#547912"
                }

                // Where the files go.
                Text {
                    x: 23
                    anchors.verticalCenter: folderBox.verticalCenter
                    text: "Save to"
                    color: "#276892"
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
                    color: "#fbfcf2"
                    border.color: "#9cb863"
                    Text {
                        anchors.fill: parent
                        anchors.leftMargin: 10
                        anchors.rightMargin: 10
                        verticalAlignment: Text.AlignVCenter
                        text: root.downloadDir
                        elide: Text.ElideMiddle
                        color: "#26340c"
                        font.pixelSize: 13
                    }
                    Accessible.role: Accessible.StaticText
                    Accessible.name: "Download folder"
                    Accessible.description: root.downloadDir
                }
                PushButton {
                    x: 501
                    y: 375
                    width: 94
                    height: 30
                    text: "Browse"
                    enabled: !root.running
                    onClicked: root.fsCommand("ID_FS_downloadBrowse", "")
                }

                // Options.
                Rectangle {
                    x: 15
                    y: 413
                    width: 418
                    height: 114
                    radius: 6
                    color: "#fbfcf2"
                    border.color: "#9cb863"
                }
                Text {
                    x: 27
                    y: 418
                    text: "Options"
                    color: "#276892"
                    font.pixelSize: 13
                    font.bold: true
                }
                CheckOption {
                    id: clipboardOption
                    x: 27
                    y: 438
                    width: 398
                    text: "Monitor video URL's in the clipboard and automatically add and download them"
                    onToggled: on => {
                        root.variables["_root.autoToDownloadList_CB"] = on ? "1" : "0"
                        root.fsCommand(on ? "ID_FS_autoDownloadCheck" : "ID_FS_autoDownloadUncheck", "")
                    }
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
                    enabled: root.startAllowed
                    onClicked: root.fsCommand("IDC_FS_startDownload", "")
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
                    enabled: root.running
                    onClicked: root.fsCommand("IDC_FS_stopDownload", "")
                }
            }

            // -- About page --
            Item {
                id: aboutPage
                x: root.width
                width: root.width
                height: root.height
                visible: root.page === 1 || slide.running

                Rectangle {
                    x: 15
                    y: 90
                    width: 600
                    height: 152
                    radius: 8
                    border.color: "#9cb863"
                    gradient: Gradient {
                        GradientStop {
                            position: 0
                            color: "#f7f9e4"
                        }
                        GradientStop {
                            position: 1
                            color: "#e2eba6"
                        }
                    }
                }
                Badge {
                    x: 36
                    y: 116
                    size: 92
                }
                Text {
                    x: 150
                    y: 100
                    text: "Orvello"
                    color: "#276892"
                    font.pixelSize: 30
                    font.bold: true
                }
                Text {
                    id: versionText
                    x: 150
                    y: 142
                    text: root.aboutLines[0]
                    color: "#547912"
                    font.pixelSize: 15
                    font.bold: true
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    Accessible.ignored: text === ""
                }
                Text {
                    id: descriptionText
                    x: 150
                    y: 166
                    width: 445
                    text: root.aboutLines.slice(1).join(" ")
                    wrapMode: Text.WordWrap
                    color: "#26340c"
                    font.pixelSize: 14
                    lineHeight: 1.1
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    Accessible.ignored: text === ""
                }

                Text {
                    x: 23
                    y: 256
                    text: "How it works"
                    color: "#276892"
                    font.pixelSize: 14
                    font.bold: true
                }
                Repeater {
                    model: ["Paste the address of a video page and press Add.",
                        "Press Start: Orvello finds the video file behind each page and downloads it.",
                        "Find the files in your download folder."]
                    Rectangle {
                        x: 15 + index * 204
                        y: 280
                        width: 192
                        height: 104
                        radius: 6
                        color: "#fbfcf2"
                        border.color: "#9cb863"
                        Rectangle {
                            x: 10
                            y: 10
                            width: 28
                            height: 28
                            radius: 14
                            color: "#ffc700"
                            border.color: "#b58c00"
                            Text {
                                anchors.centerIn: parent
                                text: index + 1
                                color: "#2b2100"
                                font.pixelSize: 14
                                font.bold: true
                            }
                        }
                        Text {
                            x: 46
                            y: 13
                            width: parent.width - 56
                            text: modelData
                            wrapMode: Text.WordWrap
                            color: "#26340c"
                            font.pixelSize: 13
                        }
                    }
                }

                Text {
                    x: 23
                    y: 398
                    text: "Supported sites"
                    color: "#276892"
                    font.pixelSize: 14
                    font.bold: true
                }
                Text {
                    x: 23
                    y: 420
                    width: 584
                    text: "Google Video, YouTube, Bolt, MySpace, AngryAlien, ThatVideoSite, iFilm, Break, Blip, DailyMotion, PutFile and ZippyVideos."
                    wrapMode: Text.WordWrap
                    color: "#26340c"
                    font.pixelSize: 13
                    lineHeight: 1.1
                }

                PushButton {
                    x: 333
                    y: 483
                    width: 120
                    height: 36
                    glyph: "?"
                    text: "Help"
                    fontSize: 14
                    onClicked: root.fsCommand("IDC_FS_Help", "")
                }
                PushButton {
                    x: 463
                    y: 483
                    width: 152
                    height: 36
                    kind: "strong"
                    text: "Visit web site"
                    fontSize: 14
                    onClicked: root.fsCommand("ID_FS_webSite", "")
                }
            }
        }
    }

    // ---- Title band ----------------------------------------------------------------------

    Rectangle {
        id: band
        width: root.width
        height: root.bandHeight
        gradient: Gradient {
            GradientStop {
                position: 0
                color: "#2f7aaa"
            }
            GradientStop {
                position: 1
                color: "#1f5a80"
            }
        }
        Rectangle { // lower edge, broken by the current tab
            anchors.bottom: parent.bottom
            width: parent.width
            height: 1
            color: "#163f5a"
        }

        // Pressing anywhere on the band that is not a button or tab moves the window.
        MouseArea {
            anchors.fill: parent
            onPressed: root.fsCommand("IDC_FS_Drag", "")
        }

        Badge {
            x: 14
            y: 7
            size: 28
        }
        Text {
            id: title
            x: 52
            y: 8
            text: "Orvello"
            color: "#ffffff"
            font.pixelSize: 20
            font.bold: true
        }
        Text {
            anchors.left: title.right
            anchors.leftMargin: 10
            anchors.baseline: title.baseline
            text: "video downloader"
            color: "#d3e6f2"
            font.pixelSize: 13
        }
        Rectangle { // shown while a run goes
            visible: root.running
            x: 300
            y: 10
            width: runningText.implicitWidth + 30
            height: 22
            radius: 11
            color: "#ffc700"
            Rectangle {
                id: runningDot
                x: 10
                anchors.verticalCenter: parent.verticalCenter
                width: 8
                height: 8
                radius: 4
                color: "#1d5477"
                SequentialAnimation on opacity {
                    running: root.running
                    loops: Animation.Infinite
                    NumberAnimation {
                        to: 0.2
                        duration: 500
                    }
                    NumberAnimation {
                        to: 1
                        duration: 500
                    }
                }
            }
            Text {
                id: runningText
                x: 23
                anchors.verticalCenter: parent.verticalCenter
                text: "Downloading"
                color: "#2b2100"
                font.pixelSize: 12
                font.bold: true
            }
        }

        Row {
            x: root.width - width - 8
            y: 6
            spacing: 4
            WindowButton {
                sign: "minimize"
                text: "Minimize"
                onClicked: root.fsCommand("IDC_FS_Minimize", "")
            }
            WindowButton {
                sign: "tray"
                text: "Hide to tray"
                onClicked: root.fsCommand("IDC_FS_Tray", "")
            }
            WindowButton {
                sign: "close"
                text: "Close"
                onClicked: root.fsCommand("IDC_FS_Close", "")
            }
        }

        PageTabButton {
            x: 15
            y: root.bandHeight - height
            text: "Download"
            current: root.page === 0
            onChosen: root.showPage(0)
        }
        PageTabButton {
            x: 151
            y: root.bandHeight - height
            text: "About"
            current: root.page === 1
            available: root.aboutAllowed
            onChosen: root.showPage(1)
        }

        Accessible.role: Accessible.TitleBar
        Accessible.name: "Orvello"
        Accessible.onPressAction: root.fsCommand("IDC_FS_Drag", "")
    }

    Rectangle { // the window's edge
        anchors.fill: parent
        color: "transparent"
        border.color: "#163f5a"
    }
}
