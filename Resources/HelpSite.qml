// SPDX-License-Identifier: GPL-3.0-or-later
// Full-screen page with a headline and a block of text above the scene; closed by its icon.
import QtQuick 2.12

Rectangle {
    id: helpSite

    // Every size follows the width of the view, as the scene's own texts do.
    readonly property real unit: width / 1600

    color: "white"
    opacity: 0.98

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

    function touchCheckDown(xi, yi, state) {
        if (closeIcon.x < xi && xi < closeIcon.x + closeIcon.width
                && closeIcon.y < yi && yi < closeIcon.y + closeIcon.height) {
            animationOut.start();
            return true;
        }
        return false;
    }
}
