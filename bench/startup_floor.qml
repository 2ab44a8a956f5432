import QtQuick 2.12

// One item and nothing else: what any Qt Quick window costs to bring up.
Rectangle {
    width: 1600
    height: 900
    color: "#33658a"
}
