// SPDX-License-Identifier: GPL-3.0-or-later
// An entity of the current scene, and what a menu button (SceneMenuButton) builds on: a box with
// a colour, a picture and a text, kept in the scene's 1600 x 900 frame (lastSetX .. lastSetH) and
// mapped to its parent by resizeProperly(); scripts move and change it, a learner may drag it,
// and it can play a video over itself.
// A scene entry makes a hundred of these at once, so a box holds no bindings and few functions,
// and derives from no type of ours (each level is one more object creator per box): the scene
// gives it its place, picture and text size when it makes it, and SceneBoxes.js changes them,
// calling resizeProperly() and updateAccess() to keep the rest in step.
import QtQuick 2.12
import "SceneValues.js" as Values

Rectangle {
    id: box

    // Properties start at their type's default (0, false, "", null) unless given: an initial
    // value is one more assignment for each of a hundred boxes.

    // The scene item (mycanvas).
    property Item scene
    property real lastSetX
    property real lastSetY
    property real lastSetW
    property real lastSetH
    // The position restoreEntPos() (SceneBoxes.js) goes back to; changeX and changeY move it.
    property real realX
    property real realY
    property string clickActive: "true"
    property real normalOpacity: 1
    // Entities clear their picture for an empty file name; menu buttons keep theirs.
    property bool emptyImageClears: true
    property bool logsHits: true
    // As the course wrote them, lower-cased; the scene sets draggable from dragDrop.
    property string dragDrop: "false"
    property string shouldDropRestore: "false"
    // The video it plays over itself (SceneEntityVideo), made by SceneMedia.js only when a video
    // is asked for, since a media player costs more than all the rest of an entity.
    property Item video

    // For keyboard and screen-reader users (see describeEntities of the scene): whether the
    // runtime runs its scripts (StateActive), whether a press does something, whether it has
    // hover or drop scripts, its Alt text, and whether it was picked up to be dropped. Whoever
    // changes one of them calls updateAccess().
    property bool keyActive: true
    property bool clickable
    property bool scripted
    property bool draggable
    property string altText
    property bool pickedUp
    // The Alt text, else the text, else the picture's file name; kept by updateAccess().
    property string accessibleName
    // Whether the box has its accessible object (see updateAccess()).
    property bool accessMade

    // The picture as loaded: the scene's pictureUrl() of its file address.
    property alias picture: boxImage.source
    property alias label: boxText.text
    property alias labelColor: boxText.color
    property alias textSize: boxText.textSize
    // textSize at the scene's width; resizeProperly() keeps it.
    property alias labelPixelSize: boxText.font.pixelSize

    Image {
        id: boxImage
        anchors.fill: parent
        z: 4
    }

    Text {
        id: boxText
        property real textSize: 24
        anchors.fill: parent
        z: 5
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        wrapMode: Text.WordWrap
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

    // Centres the box on a point of the frame; its restore position stays.
    function dragToPos(px, py) {
        lastSetX = px - lastSetW / 2;
        lastSetY = py - lastSetH / 2;
        resizeProperly();
    }

    function resizeProperly() {
        var pw = parent ? parent.width : 0;
        var ph = parent ? parent.height : 0;
        x = lastSetX / 1600 * pw;
        y = lastSetY / 900 * ph;
        width = lastSetW / 1600 * pw;
        height = lastSetH / 900 * ph;
        var pixels = Values.textPixels(boxText.textSize, pw);
        if (boxText.font.pixelSize !== pixels)
            boxText.font.pixelSize = pixels;
    }

    // The accessible object serves assistive tools alone: it is made only while one listens
    // (the scene's accessActive), and a box that is neither named nor does anything gets none
    // (the same as an ignored one).
    function updateAccess() {
        accessibleName = Values.accessibleName(altText, boxText.text, boxImage.source);
        if (!scene || !scene.accessActive)
            return;
        var silent = accessibleName === "" && !clickable && !scripted;
        if (silent && !accessMade)
            return;
        if (!accessMade) {
            accessMade = true;
            Accessible.focusable = true;
            Accessible.pressAction.connect(function () {
                if (scene)
                    scene.keyPressItem(box);
            });
        }
        Accessible.role = clickable ? Accessible.Button : Accessible.Graphic;
        Accessible.name = accessibleName;
        Accessible.description = draggable ? "draggable" : "";
        Accessible.ignored = silent;
        Accessible.selectable = draggable;
        Accessible.selected = pickedUp;
    }
}
