import QtQuick

// The title band: the program's name, the running sign, the window buttons and the page
// tabs. Pressing anywhere on it that is not a button or tab moves the window.
Rectangle {
    id: band
    property bool running: false // a run goes: the band says "Downloading"
    property int page: 0 // the page shown, whose tab is the current one
    property bool aboutAllowed: true
    // The band's commands to the program ("IDC_FS_Drag", the window buttons').
    signal command(string name)
    signal pageChosen(int which)

    gradient: Gradient {
        GradientStop {
            position: 0
            color: Theme.bandTop
        }
        GradientStop {
            position: 1
            color: Theme.bandBottom
        }
    }
    Rectangle { // lower edge, broken by the current tab
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Theme.edge
    }

    MouseArea {
        anchors.fill: parent
        onPressed: band.command("IDC_FS_Drag")
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
        color: Theme.white
        font.pixelSize: 20
        font.bold: true
    }
    Text {
        anchors.left: title.right
        anchors.leftMargin: 10
        anchors.baseline: title.baseline
        text: "video downloader"
        color: Theme.bandSubtitle
        font.pixelSize: 13
    }
    Rectangle { // shown while a run goes
        visible: band.running
        x: 300
        y: 10
        width: runningText.implicitWidth + 30
        height: 22
        radius: 11
        color: Theme.yellow
        Rectangle {
            id: runningDot
            x: 10
            anchors.verticalCenter: parent.verticalCenter
            width: 8
            height: 8
            radius: 4
            color: Theme.navy
            SequentialAnimation on opacity {
                running: band.running
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
            color: Theme.onYellowInk
            font.pixelSize: 12
            font.bold: true
        }
    }

    Row {
        x: band.width - width - 8
        y: 6
        spacing: 4
        WindowButton {
            sign: "minimize"
            text: "Minimize"
            onClicked: band.command("IDC_FS_Minimize")
        }
        WindowButton {
            sign: "tray"
            text: "Hide to tray"
            onClicked: band.command("IDC_FS_Tray")
        }
        WindowButton {
            sign: "close"
            text: "Close"
            onClicked: band.command("IDC_FS_Close")
        }
    }

    PageTabButton {
        x: 15
        y: band.height - height
        text: "Download"
        current: band.page === 0
        onChosen: band.pageChosen(0)
    }
    PageTabButton {
        x: 151
        y: band.height - height
        text: "About"
        current: band.page === 1
        available: band.aboutAllowed
        onChosen: band.pageChosen(1)
    }

    Accessible.role: Accessible.TitleBar
    Accessible.name: "Orvello"
    // Answered at once; the band acts right after, on the event loop (see PushButton).
    Accessible.onPressAction: pressLater.start()
    Timer {
        id: pressLater
        interval: 0
        onTriggered: band.command("IDC_FS_Drag")
    }
}
