import QtQuick

// The title band: the program's name, the running sign, the window buttons and the page
// tabs. Pressing anywhere on it that is not a button or tab moves the window.
Rectangle {
    id: band
    property bool running: false // a run goes: the band says "Downloading"
    // The running video's speed and time left ("1.2 MB/s, 35 s left"), shown after
    // "Downloading" when there is one.
    property string speed: ""
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
        id: subtitle
        anchors.left: title.right
        anchors.leftMargin: 10
        anchors.baseline: title.baseline
        text: "video downloader"
        color: Theme.bandSubtitle
        font.pixelSize: 13
    }
    Rectangle { // shown while a run goes
        id: runningBadge
        visible: band.running
        // "Downloading", with the speed after it while there is one. Its place is x 300; a
        // longer text moves it left, up to the subtitle, and is drawn smaller. When one line
        // would need letters under 10 pixels, the speed goes on a second line; a speed that
        // doesn't fit at 9 pixels even then is cut. It never reaches the window buttons.
        readonly property string fullText: band.speed === "" ? "Downloading" : "Downloading \u00b7 " + band.speed
        readonly property real leftmost: subtitle.x + subtitle.width + 12
        readonly property real rightmost: windowButtons.x - 10
        readonly property bool twoLines: band.speed !== "" && oneLine.advanceWidth * 10 / 12 > rightmost - leftmost - 30
        // The widths at full size, which the badge takes when there is room.
        TextMetrics {
            id: oneLine
            font.pixelSize: 12
            font.bold: true
            text: runningBadge.fullText
        }
        TextMetrics {
            id: label
            font: oneLine.font
            text: "Downloading"
        }
        TextMetrics {
            id: speedLine
            font: oneLine.font
            text: band.speed
        }
        x: Math.max(leftmost, Math.min(300, rightmost - width))
        y: twoLines ? 5 : 10
        width: Math.min(Math.ceil(twoLines ? Math.max(label.advanceWidth, speedLine.advanceWidth) : oneLine.advanceWidth) + 31, rightmost - leftmost)
        height: twoLines ? 34 : 22
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
        Column {
            x: 23
            width: parent.width - 30
            anchors.verticalCenter: parent.verticalCenter
            Text {
                id: runningText
                width: parent.width
                text: runningBadge.twoLines ? "Downloading" : runningBadge.fullText
                color: Theme.onYellowInk
                font.pixelSize: 12
                font.bold: true
                fontSizeMode: Text.HorizontalFit
                minimumPixelSize: 9
                elide: Text.ElideRight
                Accessible.ignored: true
            }
            Text {
                id: speedText
                objectName: "speedText"
                visible: runningBadge.twoLines
                width: parent.width
                text: band.speed
                color: Theme.onYellowInk
                font.pixelSize: 12
                font.bold: true
                fontSizeMode: Text.HorizontalFit
                minimumPixelSize: 9
                elide: Text.ElideRight
                Accessible.ignored: true
            }
        }
        Accessible.role: Accessible.StaticText
        Accessible.name: fullText
    }

    Row {
        id: windowButtons
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
