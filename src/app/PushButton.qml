import QtQuick

// A push button. kind: "plain" (light), "primary" (yellow) or "strong" (deep blue).
Rectangle {
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
    readonly property int face: down ? 4 : hovered ? 2 : 0

    implicitWidth: content.implicitWidth + 2 * padding
    implicitHeight: 30
    radius: 4
    border.width: 1
    border.color: !enabled ? Theme.disabledBorder : kind === "primary" ? Theme.amber : kind === "strong" ? Theme.edge : hovered ? Theme.darkGreen : Theme.green
    gradient: Gradient {
        GradientStop {
            position: 0
            color: button.enabled ? Theme.buttonFaces[button.kind][button.face] : Theme.disabledTop
        }
        GradientStop {
            position: 1
            color: button.enabled ? Theme.buttonFaces[button.kind][button.face + 1] : Theme.disabledBottom
        }
    }

    readonly property color ink: !enabled ? Theme.disabledInk : kind === "strong" ? Theme.white : kind === "primary" ? Theme.onYellowInk : Theme.plainButtonInk

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
        border.color: Theme.deepBlue
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
    // An assistive tool's press is answered at once and the button acts right after, on the
    // event loop, so a message box or dialog its command opens never holds the tool.
    // Pointer and keyboard act at once.
    Accessible.onPressAction: pressLater.start()
    Timer {
        id: pressLater
        interval: 0
        onTriggered: button.activate()
    }
}
