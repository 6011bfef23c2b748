pragma Singleton
import QtQuick

// The surface's palette, every colour once. The controls take their colours from here, and
// the program reads the grid's colours (the grid* properties at the end) once the surface
// has loaded, so the grid it lays over the Download page matches the surface.
QtObject {
    // The colours the surface is built on.
    readonly property color lime: "#cfdd63" // the grid's background and its well
    readonly property color deepBlue: "#276892" // headings, focus rings, grid lines
    readonly property color green: "#9cb863" // borders, grid headers and row selectors
    readonly property color darkGreen: "#547912" // text on light, selections
    readonly property color yellow: "#ffc700" // highlights, the main actions
    readonly property color white: "#ffffff"

    // Pages and boxes.
    readonly property color page: "#f3f6df" // the pages, and the current tab
    readonly property color panel: "#fbfcf2" // boxes on a page
    readonly property color ink: "#26340c" // ordinary text
    readonly property color mutedInk: "#5b6b3a" // hints and notes
    readonly property color placeholderInk: "#7d8a5c"
    readonly property color fieldInk: "#1f2a08" // the address typed
    readonly property color listPanelTop: "#adc679" // the list panel fades to green
    readonly property color aboutTop: "#f7f9e4"
    readonly property color aboutBottom: "#e2eba6"
    readonly property color edge: "#163f5a" // the window's edge, the band's lower edge

    // The title band.
    readonly property color bandTop: "#2f7aaa"
    readonly property color bandBottom: "#1f5a80"
    readonly property color bandSubtitle: "#d3e6f2"
    readonly property color navy: "#1d5477" // tabs, the badge's arrow, the running dot
    readonly property color tabHover: "#3a86b6"
    readonly property color tabUnavailable: "#1f5273"
    readonly property color tabUnavailableInk: "#7fa3bb"
    readonly property color windowButtonHoverInk: "#1b3a50"

    // Yellow things: the badge, the main buttons, the step numbers, the running sign.
    readonly property color lightYellow: "#ffdc52"
    readonly property color badgeBottom: "#f0b400"
    readonly property color yellowPressed: "#e0a800"
    readonly property color amber: "#b58c00" // the border of yellow things
    readonly property color onYellowInk: "#2b2100"

    // Push buttons. Faces by kind, each a gradient's top and bottom: at rest, under the
    // pointer, pressed.
    readonly property var buttonFaces: ({
            "plain": [white, "#e6eec1", "#f7fadf", "#d7e37c", lime, "#bccd4f"],
            "primary": [lightYellow, yellow, "#ffe47a", "#ffd02a", "#f0b800", yellowPressed],
            "strong": ["#3583b3", deepBlue, "#3f90c2", "#2d75a4", "#225d82", "#1c5173"]
        })
    readonly property color plainButtonInk: "#2f4a08"
    readonly property color disabledBorder: "#c5cbb0"
    readonly property color disabledTop: "#f1f2ea"
    readonly property color disabledBottom: "#e3e6d6"
    readonly property color disabledInk: "#8a9275"

    // Check boxes that show an option which is always on.
    readonly property color lockedBorder: "#84a24a"
    readonly property color lockedMark: "#1f3306"

    // The program's download grid, read by the program at start-up.
    readonly property color gridBackground: lime // around and below the rows
    readonly property color gridLines: deepBlue // grid lines and header borders
    readonly property color gridRowSelector: green // row selectors and the corner button
    readonly property color gridHeader: green // column headers
    readonly property color gridHeaderText: white
    readonly property color gridCell: white // the cells of the rows
    readonly property color gridSelected: darkGreen // selected cells and rows
    readonly property color gridSelectedText: white
    readonly property color gridActiveCell: yellow // the current cell while the grid has the focus
}
