// SPDX-License-Identifier: GPL-3.0-or-later
// What scripts change of an entity or a menu button (SceneEntity): kept here rather than in the
// box, since every function a box declares is made anew for each box, and a scene entry makes
// a hundred of them. Each changes the box's frame values and maps them with resizeProperly().
.pragma library
.import "SceneValues.js" as Values

function setOpacity(box, value) {
    box.opacity = Values.toNumber(value, box.opacity);
    box.normalOpacity = box.opacity;
}

function setActive(box, value) {
    box.clickActive = String(value);
    box.keyActive = box.clickActive.toLowerCase() === "true";
}

// X and Y move the position restoreEntPos() goes back to along.
function changeX(box, myx) {
    box.lastSetX = Values.toNumber(myx, box.lastSetX);
    box.realX = box.lastSetX;
    box.resizeProperly();
}

function changeY(box, myy) {
    box.lastSetY = Values.toNumber(myy, box.lastSetY);
    box.realY = box.lastSetY;
    box.resizeProperly();
}

function changeW(box, myw) {
    box.lastSetW = Values.toNumber(myw, box.lastSetW);
    box.resizeProperly();
}

function changeH(box, myh) {
    box.lastSetH = Values.toNumber(myh, box.lastSetH);
    box.resizeProperly();
}

function changeColor(box, col) {
    box.color = col;
}

// Entities clear their picture for an empty file name; menu buttons keep theirs.
function changeFilename(box, fn) {
    // Looked at on every change: the file may have been replaced since the last one.
    if (String(fn) !== "")
        box.picture = box.scene ? box.scene.pictureUrl(Values.fileUrl(fn)) : Values.fileUrl(fn);
    else if (box.emptyImageClears)
        box.picture = "";
    box.updateAccess();
}

function changeText(box, value) {
    box.label = value;
    box.updateAccess();
}

function changeTextcolor(box, value) {
    box.labelColor = value;
}

function changeTextsize(box, value) {
    box.textSize = Values.toNumber(value, box.textSize);
    box.resizeProperly();
}

// x and y separated by ";_;".
function changePosition(box, posString) {
    var f = String(posString).split(";_;");
    if (f.length < 2)
        return;
    changeX(box, f[0]);
    changeY(box, f[1]);
}

function getPosition(box) {
    return box.lastSetX + ";_;" + box.lastSetY;
}

function restoreEntPos(box) {
    changeX(box, box.realX);
    changeY(box, box.realY);
}
