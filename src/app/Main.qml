// The UI surface of Orvello: the title band, the Download and About pages and every control
// the program answers. The program talks to it through three members:
//   signal fsCommand(command, args)   commands from the surface to the program (args is "")
//   setVariable(name, value)          values from the program ("_root.download_dir", ...)
//   getVariable(name)                 values the program reads ("_root.video_url", ...)
// and reads two more once it has loaded:
//   gridArea                          the item over which it lays its download grid
//   theme                             the palette, whose grid* colours the grid takes
// Any QML file that keeps the first three may take this one's place; without the other two
// the grid keeps its usual place (x 23, y 177, 572 x 179) and colours.
//
// The surface fills a fixed, frameless window of 630 x 535. On the Download page the program
// lays its download grid over gridArea (DownloadPage.qml); the surface only draws the well
// around that place and puts nothing under it.
//
// The controls, the title band and the pages are components in the files beside this one;
// their colours are the singleton Theme's (Theme.qml, declared in qmldir).
//
// What the program's variables do here:
//   _root.startDownload   "0" disables Start, "1" enables it.
//   _root.downloadBtn     "0" while a run goes: Stop becomes the active action, Browse is locked
//                         (a run's files all go to one folder) and the title band says
//                         "Downloading"; "1" returns to idle, where Stop is disabled (the
//                         program's stop command would start a run when none is going).
//   _root.downloadSpeed   the running video's speed and time left ("1.2 MB/s, 35 s left"),
//                         shown after "Downloading" in the title band; "" shows none.
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
    color: Theme.page

    signal fsCommand(string command, string args)

    readonly property Item gridArea: downloadPage.gridArea
    readonly property QtObject theme: Theme

    // Every variable written or read, by full name, as text; the ones with a meaning above are
    // also shown by the controls.
    property var variables: ({})

    property bool startAllowed: true // _root.startDownload
    property bool running: false // _root.downloadBtn is "0"
    property bool aboutAllowed: true // _root.downloadTab

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
            downloadPage.videoUrl = text
            break
        case "_root.download_dir":
            downloadPage.downloadDir = text
            break
        case "_root.aboutTxt":
            aboutPage.aboutText = text
            break
        case "_root.downloadSpeed":
            band.speed = text
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
                downloadPage.clipboardChecked = on
            break
        case "_root.Download_CB":
            if (known)
                downloadPage.downloadChecked = on
            break
        case "_root.Convert_CB":
            if (known)
                downloadPage.keepFormatChecked = on
            break
        }
    }

    function getVariable(name) {
        if (name === "_root.video_url")
            return downloadPage.videoUrl
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
            downloadPage.focusAddress()
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

            DownloadPage {
                id: downloadPage
                width: root.width
                height: root.height
                visible: root.page === 0 || slide.running
                running: root.running
                startAllowed: root.startAllowed
                onCommand: name => root.fsCommand(name, "")
                onClipboardToggled: on => {
                    root.variables["_root.autoToDownloadList_CB"] = on ? "1" : "0"
                    root.fsCommand(on ? "ID_FS_autoDownloadCheck" : "ID_FS_autoDownloadUncheck", "")
                }
            }

            AboutPage {
                id: aboutPage
                x: root.width
                width: root.width
                height: root.height
                visible: root.page === 1 || slide.running
                onCommand: name => root.fsCommand(name, "")
            }
        }
    }

    TitleBand {
        id: band
        width: root.width
        height: root.bandHeight
        running: root.running
        page: root.page
        aboutAllowed: root.aboutAllowed
        onCommand: name => root.fsCommand(name, "")
        onPageChosen: which => root.showPage(which)
    }

    Rectangle { // the window's edge
        anchors.fill: parent
        color: "transparent"
        border.color: Theme.edge
    }
}
