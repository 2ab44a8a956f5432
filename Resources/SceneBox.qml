// SPDX-License-Identifier: GPL-3.0-or-later
// What entities and menu buttons share: a box with a colour, a picture and a text, kept in the
// scene's 1600 x 900 frame (lastSetX .. lastSetH) and mapped to its parent by resizeProperly().
// The text size follows the scene's width by itself.
import QtQuick 2.12
import "SceneValues.js" as Values

Rectangle {
    id: box

    // The scene item (mycanvas).
    property Item scene: null
    property real lastSetX: 0
    property real lastSetY: 0
    property real lastSetW: 0
    property real lastSetH: 0
    // The position restoreEntPos() goes back to; changeX and changeY move it along.
    property real realX: 0
    property real realY: 0
    property string clickActive: "true"
    property real normalOpacity: 1
    // Entities clear their picture for an empty file name; menu buttons keep theirs.
    property bool emptyImageClears: true
    property bool logsHits: false

    // For keyboard and screen-reader users (see describeEntities of the scene): whether the
    // runtime runs its scripts (StateActive), whether a press does something, whether it has
    // hover or drop scripts, its Alt text, and whether it was picked up to be dropped.
    property bool keyActive: true
    property bool clickable: false
    property bool scripted: false
    property bool draggable: false
    property string altText: ""
    property bool pickedUp: false
    readonly property string accessibleName: altText !== "" ? altText
        : (boxText.text !== "" ? boxText.text : Values.readableFileName(boxImage.source))

    Accessible.role: clickable ? Accessible.Button : Accessible.Graphic
    Accessible.name: accessibleName
    Accessible.description: draggable ? "draggable" : ""
    Accessible.focusable: true
    // Bands and backgrounds with nothing to say and nothing to do are not read out.
    Accessible.ignored: accessibleName === "" && !clickable && !scripted
    Accessible.selectable: draggable
    Accessible.selected: pickedUp
    Accessible.onPressAction: if (scene) scene.keyPressItem(box)

    // The picture's file address; what is loaded is pictureUrl() of it.
    property url imageSource: ""
    property alias label: boxText.text
    property alias labelColor: boxText.color
    property alias textSize: boxText.textSize

    Image {
        id: boxImage
        anchors.fill: parent
        z: 4
        asynchronous: false
        source: box.pictureUrl(box.imageSource)
    }

    Text {
        id: boxText
        property real textSize: 24
        anchors.fill: parent
        z: 5
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        wrapMode: Text.WordWrap
        // Set at creation, so the text is laid out once, at its size.
        font.pixelSize: Math.max(1, textSize / 1600 * (box.scene ? box.scene.width : 0))
    }

    // objectName;_;z when (xi, yi) lies strictly inside and the box takes touches, else "".
    function touchCheckDown(xi, yi, state) {
        if (x < xi && xi < x + width && y < yi && yi < y + height && opacity > 0 && clickActive === "true") {
            if (logsHits)
                console.log("MyImage: " + boxImage.source);
            return objectName + ";_;" + z;
        }
        return "";
    }

    function resizeProperly() {
        var pw = parent ? parent.width : 0;
        var ph = parent ? parent.height : 0;
        x = lastSetX / 1600 * pw;
        y = lastSetY / 900 * ph;
        width = lastSetW / 1600 * pw;
        height = lastSetH / 900 * ph;
    }

    function setOpacity(value) {
        opacity = Values.toNumber(value, opacity);
        normalOpacity = opacity;
    }
    function setActive(value) {
        clickActive = String(value);
        keyActive = clickActive.toLowerCase() === "true";
    }
    function changeX(myx) { lastSetX = Values.toNumber(myx, lastSetX); realX = lastSetX; resizeProperly(); }
    function changeY(myy) { lastSetY = Values.toNumber(myy, lastSetY); realY = lastSetY; resizeProperly(); }
    function changeW(myw) { lastSetW = Values.toNumber(myw, lastSetW); resizeProperly(); }
    function changeH(myh) { lastSetH = Values.toNumber(myh, lastSetH); resizeProperly(); }
    function changeColor(col) { color = col; }
    // The address with the file's size and time (see kestScenePictures): pictures are cached by
    // address, so a replaced file gets a new one.
    function pictureUrl(url) {
        if (String(url) === "" || typeof scenePictures === "undefined")
            return url;
        return scenePictures.stamped(url);
    }
    function changeFilename(fn) {
        // Looked at on every change: the file may have been replaced since the last one.
        if (String(fn) !== "")
            boxImage.source = pictureUrl(Values.fileUrl(fn));
        else if (emptyImageClears)
            boxImage.source = "";
    }
    function changeText(value) { boxText.text = value; }
    function changeTextcolor(value) { boxText.color = value; }
    function changeTextsize(value) {
        boxText.textSize = Values.toNumber(value, boxText.textSize);
        resizeProperly();
    }
}
