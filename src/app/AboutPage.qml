import QtQuick

// The About page, laid out in window coordinates: the program's name, version and
// description, how it works, the sites it knows, and the help and web site buttons.
Item {
    id: page
    // The program's about text: its first line is the version, the rest a sentence.
    property string aboutText: ""
    readonly property var aboutLines: aboutText.split(/\r\n|\r|\n/)
    // The page's commands to the program ("IDC_FS_Help", "ID_FS_webSite").
    signal command(string name)

    Rectangle {
        x: 15
        y: 90
        width: 600
        height: 152
        radius: 8
        border.color: Theme.green
        gradient: Gradient {
            GradientStop {
                position: 0
                color: Theme.aboutTop
            }
            GradientStop {
                position: 1
                color: Theme.aboutBottom
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
        color: Theme.deepBlue
        font.pixelSize: 30
        font.bold: true
    }
    Text {
        id: versionText
        x: 150
        y: 142
        text: page.aboutLines[0]
        color: Theme.darkGreen
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
        text: page.aboutLines.slice(1).join(" ")
        wrapMode: Text.WordWrap
        color: Theme.ink
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
        color: Theme.deepBlue
        font.pixelSize: 14
        font.bold: true
    }
    Repeater {
        model: ["Paste the address of a video page and press Add.",
            "Press Start: Orvello finds the video file behind each page and downloads it.",
            "Find the files in your download folder."]
        Rectangle {
            id: step
            required property int index
            required property string modelData
            x: 15 + index * 204
            y: 280
            width: 192
            height: 104
            radius: 6
            color: Theme.panel
            border.color: Theme.green
            Rectangle {
                x: 10
                y: 10
                width: 28
                height: 28
                radius: 14
                color: Theme.yellow
                border.color: Theme.amber
                Text {
                    anchors.centerIn: parent
                    text: step.index + 1
                    color: Theme.onYellowInk
                    font.pixelSize: 14
                    font.bold: true
                }
            }
            Text {
                x: 46
                y: 13
                width: parent.width - 56
                text: step.modelData
                wrapMode: Text.WordWrap
                color: Theme.ink
                font.pixelSize: 13
            }
        }
    }

    Text {
        x: 23
        y: 398
        text: "Supported sites"
        color: Theme.deepBlue
        font.pixelSize: 14
        font.bold: true
    }
    Text {
        x: 23
        y: 420
        width: 584
        text: "Google Video, YouTube, Bolt, MySpace, AngryAlien, ThatVideoSite, iFilm, Break, Blip, DailyMotion, PutFile and ZippyVideos."
        wrapMode: Text.WordWrap
        color: Theme.ink
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
        onClicked: page.command("IDC_FS_Help")
    }
    PushButton {
        x: 463
        y: 483
        width: 152
        height: 36
        kind: "strong"
        text: "Visit web site"
        fontSize: 14
        onClicked: page.command("ID_FS_webSite")
    }
}
