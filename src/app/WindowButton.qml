import QtQuick

// A window button in the title band, its sign drawn: "minimize", "tray" or "close".
Rectangle {
    id: wb
    property string sign
    property string text
    signal clicked

    width: 36
    height: 28
    radius: 4
    color: area.pressed ? Theme.yellowPressed : area.containsMouse ? Theme.yellow : "transparent"
    border.width: activeFocus ? 2 : 0
    border.color: Theme.yellow
    readonly property color ink: area.containsMouse ? Theme.windowButtonHoverInk : Theme.white

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
    Item { // close: a cross
        visible: wb.sign === "close"
        anchors.fill: parent
        Rectangle {
            anchors.centerIn: parent
            width: 16
            height: 2
            radius: 1
            rotation: 45
            color: wb.ink
        }
        Rectangle {
            anchors.centerIn: parent
            width: 16
            height: 2
            radius: 1
            rotation: -45
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
    // Answered at once; the button acts right after, on the event loop (see PushButton).
    Accessible.onPressAction: pressLater.start()
    Timer {
        id: pressLater
        interval: 0
        onTriggered: wb.clicked()
    }
}
