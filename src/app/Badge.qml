import QtQuick

// The program's mark: an arrow down onto a line, on a yellow disc.
Rectangle {
    id: badge
    property real size: 28
    width: size
    height: size
    radius: size / 2
    gradient: Gradient {
        GradientStop {
            position: 0
            color: Theme.lightYellow
        }
        GradientStop {
            position: 1
            color: Theme.badgeBottom
        }
    }
    border.width: Math.max(1, size / 24)
    border.color: Theme.amber
    readonly property color ink: Theme.navy
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
