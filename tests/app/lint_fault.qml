// A surface component with a fault the QML check must report: a name that is not in scope.
import QtQuick

Item {
    width: someParentsWidth
}
