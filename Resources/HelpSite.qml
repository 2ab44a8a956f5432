// SPDX-License-Identifier: GPL-3.0-or-later
// Full-screen page with a headline and a block of text above the scene; closed by its icon.
import QtQuick 2.12

Rectangle {
    id: helpSite

    // Every size follows the width of the view, as the scene's own texts do.
    readonly property real unit: width / 1600

    color: "white"
    opacity: 0.98

    // The close icon was pressed from the keyboard or by an assistive tool.
    signal closePressed()

    NumberAnimation on opacity {
        id: animationOut
        from: 0.98
        to: 0
        duration: 300
        running: false
        onFinished: helpSite.visible = false
    }

    Image {
        id: closeIcon
        objectName: "closeIcon"
        source: "/Resources/Buttons/cancel.png"
        width: 256 * helpSite.unit
        height: width
        x: helpSite.width - width - 40 * helpSite.unit
        y: 30 * helpSite.unit
        fillMode: Image.PreserveAspectFit
        smooth: true

        Accessible.role: Accessible.Button
        Accessible.name: "Close"
        Accessible.focusable: true
        Accessible.onPressAction: helpSite.pressClose()
    }

    Text {
        id: displayHeadline
        objectName: "displayHeadline"
        text: "Info:"
        y: helpSite.height / 6
        width: helpSite.width
        anchors.horizontalCenter: parent.horizontalCenter
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.WordWrap
        font.family: "Century Gothic"
        font.weight: Font.Medium
        font.pixelSize: Math.max(1, 100 * helpSite.unit)

        Accessible.role: Accessible.Heading
        Accessible.name: text
        Accessible.focusable: true
    }

    Text {
        id: displayText
        objectName: "displayText"

        readonly property real textTop: helpSite.height / 6 + 100 * helpSite.unit

        text: ""
        width: 0.8 * helpSite.width
        anchors.horizontalCenter: parent.horizontalCenter
        horizontalAlignment: Text.AlignHCenter
        y: textTop + (helpSite.height - textTop - contentHeight) / 2
        wrapMode: Text.WordWrap
        font.family: "Century Gothic"
        font.weight: Font.Medium
        font.pixelSize: Math.max(1, 42 * helpSite.unit)

        Accessible.role: Accessible.StaticText
        Accessible.name: text
        Accessible.focusable: true
    }

    // Marks the part of the page that has the keyboard focus.
    Rectangle {
        property Item target: closeIcon.activeFocus ? closeIcon
            : (displayHeadline.activeFocus ? displayHeadline : (displayText.activeFocus ? displayText : null))
        visible: target !== null
        x: target ? target.x - 6 : 0
        y: target ? target.y - 6 : 0
        width: target ? target.width + 12 : 0
        height: target ? target.height + 12 : 0
        color: "transparent"
        border.width: 4
        border.color: "#d35400"
    }

    // p is "headline;_;text". A fade still running from an earlier close is cut short, or it
    // would hide the page that was just shown again.
    function show(p) {
        var fields = String(p).split(";_;");
        animationOut.stop();
        opacity = 0.98;
        visible = true;
        displayHeadline.text = fields[0];
        displayText.text = fields.length > 1 ? fields[1] : "";
    }

    // What the keyboard moves through while the page is shown, in reading order.
    function keyTargets() { return [displayHeadline, displayText, closeIcon]; }
    function isCloseIcon(item) { return item === closeIcon; }
    function keyName(item) { return item === closeIcon ? closeIcon.Accessible.name : item.text; }

    function pressClose() {
        animationOut.start();
        closePressed();
    }

    function touchCheckDown(xi, yi, state) {
        if (closeIcon.x < xi && xi < closeIcon.x + closeIcon.width
                && closeIcon.y < yi && yi < closeIcon.y + closeIcon.height) {
            animationOut.start();
            return true;
        }
        return false;
    }
}
