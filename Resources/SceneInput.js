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
