// SPDX-License-Identifier: GPL-3.0-or-later
// Hit testing and pointer input of the scene document (browser.qml), whose ids it uses: presses
// report clicks at once, a move of more than 10 pixels on a draggable entity drags it, and the
// release reports a drop. The state (canGoOn, dragging, ...) stays on mycanvas.

function entitiesNameZAt(x, y) {
    var answers = [];
    var layers = [dynamicEntityLayer, dynamicMenuLayer];
    for (var l = 0; l < layers.length; ++l) {
        var children = layers[l].children;
        for (var i = 0; i < children.length; ++i) {
            var answer = children[i].touchCheckDown(x, y, 0);
            if (answer !== "")
                answers.push(answer);
        }
    }
    return answers;
}

// The hits at (x, y) as {name, z, order}, highest z first; on equal z the object drawn later
// (on top) comes first.
function sortedHits(answers) {
    var pairs = [];
    for (var i = 0; i < answers.length; ++i) {
        // The z is after the last separator; a name may hold anything.
        var cut = answers[i].lastIndexOf(";_;");
        pairs.push({ name: answers[i].substring(0, cut), z: Number(answers[i].substring(cut + 3)), order: i });
    }
    pairs.sort(function (a, b) { return (b.z - a.z) || (b.order - a.order); });
    return pairs;
}

// The name of the hit at position z (0: topmost) after sorting by z. Hits named exclude are
// skipped.
function touchedEntityAt(x, y, z, exclude) {
    var index = (z === undefined) ? 0 : z;
    var answers = entitiesNameZAt(x, y);
    mycanvas.mayClickedEntityList = answers;
    var pairs = sortedHits(answers);
    var sorted = [];
    for (var j = 0; j < pairs.length; ++j)
        sorted.push(pairs[j].name + ";_;" + pairs[j].z);
    console.log("MySortedList: " + sorted);
    if (exclude !== undefined)
        pairs = pairs.filter(function (pair) { return pair.name !== exclude; });
    if (pairs.length < index + 1)
        return undefined;
    return pairs[index].name;
}

function fingerDown(x, y, mb) {
    if (!mycanvas.canGoOn)
        return;
    if (helpSite.visible) {
        if (helpSite.touchCheckDown(x, y, mb))
            mycanvas.skipAudio();
        else
            console.log("Touching in Helpscreen but no button!");
        return;
    }
    console.log("[TOUCHER] Touching POS: " + x + "," + y);
    var name = mycanvas.getTouchedEntitiyFromPosition(x, y);
    console.log("[TOUCHER] Touching Ent: " + name);
    if (name === "ENTITY_SkipAudio") {
        console.log("skip");
        mycanvas.skipAudio();
        return;
    }
    if (!mycanvas.ignoreUInput) {
        mycanvas.clickedEntityHandler(name === undefined ? "" : name);
        mycanvas.fingerDownPos = [x, y];
        var ent = name === undefined ? undefined : mycanvas.getQMLEntityFromName(name);
        if (ent && ent.dragDrop === "true")
            mycanvas.dragEnt = name;
    }
}

// The pointer moving with no button down: entering an active entity (the topmost one under
// the pointer) reports it once; moving within it or over nothing reports nothing.
function pointerMove(x, y) {
    if (!mycanvas.canGoOn || mycanvas.ignoreUInput || helpSite.visible)
        return;
    var pairs = sortedHits(entitiesNameZAt(x, y));
    var name = pairs.length > 0 ? pairs[0].name : "";
    if (name === mycanvas.hoveredEntity)
        return;
    mycanvas.hoveredEntity = name;
    if (name !== "")
        mycanvas.hoverEntity(name);
}

function fingerMove(x, y) {
    if (!mycanvas.canGoOn || mycanvas.ignoreUInput)
        return;
    var down = mycanvas.fingerDownPos;
    if (mycanvas.dragEnt === undefined || down[0] === -1 || down[1] === -1)
        return;
    if (!mycanvas.dragging) {
        var dx = x - down[0];
        var dy = y - down[1];
        if (Math.sqrt(dx * dx + dy * dy) > 10) {
            console.log("[TOUCHER] Dragging BEGIN");
            mycanvas.dragging = true;
        }
    }
    if (mycanvas.dragging && mainview.width > 0 && mainview.height > 0) {
        var ent = mycanvas.getQMLEntityFromName(mycanvas.dragEnt);
        if (ent)
            ent.dragToPos(x / mainview.width * 1600, y / mainview.height * 900);
    }
}

function fingerUp(x, y) {
    if (!mycanvas.canGoOn)
        return;
    console.log("MyIgnoreUInput: " + mycanvas.ignoreUInput);
    if (mycanvas.dragging) {
        console.log("[TOUCHER] Dragging END");
        // The dragged entity is under the finger itself; the drop target is what lies below
        // it, whatever the z order of the two.
        var target = mycanvas.getTouchedEntitiyFromPosition(x, y, 0, mycanvas.dragEnt);
        console.log("[TOUCHER] Drop: " + target);
        if (target !== undefined)
            mycanvas.dropEntity(mycanvas.dragEnt, target);
    }
    mycanvas.dragging = false;
    mycanvas.dragEnt = undefined;
    mycanvas.fingerDownPos = [-1, -1];
}

// ---- Keyboard -------------------------------------------------------------------------------
// The same routes as the pointer: the focus ring stands for the pointer over an entity, Enter
// or Space for a press on it, and a picked-up entity dropped on another for a drag.

// What Tab reaches: entities the pointer could press and the runtime would run, leaving out
// boxes with nothing to say and nothing to do (backgrounds, bands).
function keyReachable(box) {
    return box.visible && box.opacity > 0 && box.clickActive === "true" && box.keyActive
        && (box.clickable || box.scripted || box.accessibleName !== "");
}

function readingOrder(layer) {
    var boxes = [];
    var children = layer.children;
    for (var i = 0; i < children.length; ++i) {
        if (children[i].keyActive !== undefined && keyReachable(children[i]))
            boxes.push(children[i]);
    }
    boxes.sort(function (a, b) { return (a.lastSetY - b.lastSetY) || (a.lastSetX - b.lastSetX); });
    return boxes;
}

// The ring in reading order: the help page's parts while it is shown, else the menu bar, then
// the scene's entities, each top to bottom, then left to right.
function keyRing() {
    if (helpSite.visible)
        return helpSite.keyTargets();
    return readingOrder(dynamicMenuLayer).concat(readingOrder(dynamicEntityLayer));
}

function focusedItem(ring) {
    for (var i = 0; i < ring.length; ++i) {
        if (ring[i].activeFocus)
            return i;
    }
    return -1;
}

function focusItem(item) {
    item.forceActiveFocus(Qt.TabFocusReason);
    if (helpSite.visible) {
        mycanvas.announce(helpSite.keyName(item));
        return;
    }
    mycanvas.keyFocus = item;
    console.log("[KEYS] Focus: " + item.objectName);
    if (mycanvas.keyDragged !== null) {
        mycanvas.announce(item === mycanvas.keyDragged ? "back where it was" : item.accessibleName);
        return;
    }
    mycanvas.announce(item.accessibleName);
    // As the pointer entering it.
    if (!mycanvas.ignoreUInput && mycanvas.hoveredEntity !== item.objectName) {
        mycanvas.hoveredEntity = item.objectName;
        mycanvas.hoverEntity(item.objectName);
    }
}

function moveFocus(step) {
    var ring = keyRing();
    if (ring.length === 0)
        return;
    var index = focusedItem(ring);
    if (index < 0)
        index = step > 0 ? 0 : ring.length - 1;
    else
        index = (index + step + ring.length) % ring.length;
    focusItem(ring[index]);
}

function isEntity(item) {
    return item.parent === dynamicEntityLayer;
}

function pickUp(item) {
    mycanvas.keyDragged = item;
    item.pickedUp = true;
    item.updateAccess();
    mycanvas.announce(item.accessibleName + " picked up");
}

function putBack() {
    var item = mycanvas.keyDragged;
    mycanvas.keyDragged = null;
    if (item === null)
        return;
    item.pickedUp = false;
    item.updateAccess();
    if (item.visible)
        focusItem(item);
}

// The picked-up entity onto target, reported as the end of a pointer drag there.
function dropOn(target) {
    var dragged = mycanvas.keyDragged;
    if (target === dragged) {
        putBack();
        return;
    }
    mycanvas.keyDragged = null;
    dragged.pickedUp = false;
    dragged.updateAccess();
    dragged.dragToPos(target.lastSetX + target.lastSetW / 2, target.lastSetY + target.lastSetH / 2);
    console.log("[KEYS] Drop: " + target.objectName);
    mycanvas.dropEntity(dragged.objectName, target.objectName);
    mycanvas.announce(dragged.accessibleName + " placed on " + target.accessibleName);
}

// Enter or Space on item: what a press on it does (fingerDown), or the drop of the entity
// picked up.
function pressItem(item) {
    if (!mycanvas.canGoOn || !item)
        return;
    if (helpSite.visible) {
        if (helpSite.isCloseIcon(item))
            helpSite.pressClose();
        return;
    }
    if (keyRing().indexOf(item) < 0)
        return;
    if (mycanvas.keyDragged !== null) {
        dropOn(item);
        return;
    }
    var name = item.objectName;
    if (name === "ENTITY_SkipAudio") {
        mycanvas.skipAudio();
        return;
    }
    if (mycanvas.ignoreUInput)
        return;
    console.log("[KEYS] Press: " + name);
    mycanvas.clickedEntityHandler(name);
    if (isEntity(item) && item.dragDrop === "true")
        pickUp(item);
}

// A key pressed anywhere in the scene; true when it was used.
function keyPressed(key, modifiers) {
    if (!mycanvas.canGoOn)
        return false;
    switch (key) {
    case Qt.Key_Tab:
        moveFocus((modifiers & Qt.ShiftModifier) ? -1 : 1);
        return true;
    case Qt.Key_Backtab:
        moveFocus(-1);
        return true;
    case Qt.Key_Right:
    case Qt.Key_Down:
        moveFocus(1);
        return true;
    case Qt.Key_Left:
    case Qt.Key_Up:
        moveFocus(-1);
        return true;
    case Qt.Key_Return:
    case Qt.Key_Enter:
    case Qt.Key_Space:
        var ring = keyRing();
        var index = focusedItem(ring);
        if (index >= 0)
            pressItem(ring[index]);
        return true;
    case Qt.Key_Escape:
        if (mycanvas.keyDragged !== null) {
            putBack();
            return true;
        }
        mycanvas.skipAudio();
        mycanvas.stopReading();
        return true;
    default:
        return false;
    }
}
