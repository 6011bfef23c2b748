import QtQuick

// A check box with a wrapping label. A locked one shows an option that is always on: it
// follows the program's value and the user cannot change it.
Item {
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
    // An assistive tool's toggle or press: the mark changes at once, and the program hears
    // of it right after, on the event loop, so the tool's call is answered first. Toggled
    // twice before then, the program hears once, of the mark as it is.
    function toggleLater() {
        if (!enabled || locked)
            return
        checked = !checked
        toggledLater.start()
    }
    Timer {
        id: toggledLater
        interval: 0
        onTriggered: option.toggled(option.checked)
    }

    implicitHeight: Math.max(20, label.implicitHeight)

    Rectangle {
        id: box
        y: 0
        width: 18
        height: 18
        radius: 3
        color: option.checked ? (option.locked ? Theme.green : Theme.darkGreen) : Theme.white
        border.width: area.containsMouse && !option.locked ? 2 : 1
        border.color: option.locked ? Theme.lockedBorder : Theme.darkGreen
        Text {
            anchors.centerIn: parent
            visible: option.checked
            text: "\u2713"
            color: option.locked ? Theme.lockedMark : Theme.white
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
        border.color: Theme.deepBlue
        visible: option.activeFocus
    }
    Text {
        id: label
        x: 28
        width: option.width - x
        text: option.note === "" ? option.text : option.text + "&nbsp;&nbsp;<font color=\"" + Theme.mutedInk + "\"><i>" + option.note + "</i></font>"
        textFormat: Text.StyledText
        wrapMode: Text.WordWrap
        color: Theme.ink
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
    Accessible.onToggleAction: toggleLater()
    Accessible.onPressAction: toggleLater()
}
