import QtQuick

// A page tab in the title band; the current one takes the page's colour, so it reads as the
// page's own top.
Rectangle {
    id: tab
    property string text
    property bool current: false
    // An unavailable tab stays enabled so that it still takes its presses: a press on it must
    // neither choose the page nor fall through to the band and move the window.
    property bool available: true
    signal chosen

    function activate() {
        if (available)
            chosen()
    }

    width: 132
    height: 34
    radius: 6
    color: current ? Theme.page : !available ? Theme.tabUnavailable : area.containsMouse ? Theme.tabHover : Theme.navy
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
        color: Theme.yellow
    }
    Text {
        anchors.centerIn: parent
        anchors.verticalCenterOffset: 1
        text: tab.text
        color: tab.current ? Theme.deepBlue : tab.available ? Theme.white : Theme.tabUnavailableInk
        font.pixelSize: 14
        font.bold: true
    }
    Rectangle { // keyboard focus ring
        anchors.fill: parent
        anchors.margins: 2
        radius: 4
        color: "transparent"
        border.width: 2
        border.color: Theme.yellow
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
    // Answered at once; the tab acts right after, on the event loop (see PushButton).
    Accessible.onPressAction: pressLater.start()
    Timer {
        id: pressLater
        interval: 0
        onTriggered: tab.activate()
    }
}
