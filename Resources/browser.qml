// SPDX-License-Identifier: GPL-3.0-or-later
// The course scene: entities, menu buttons, sounds, videos and frame animations in fixed layers,
// driven by name through the functions of mycanvas and reporting back through its signals. The
// objects are the components SceneEntity, SceneMenuButton, SceneSound, SceneVideo and
// SceneFrameAnimator, made with the course's values as their properties; pointer input and
// media live in SceneInput.js and SceneMedia.js.
import QtQuick 2.12
import QtQuick.Controls 1.3
import QtMultimedia 5.12
import QtQuick.Shapes 1.12
import "SceneValues.js" as Values
import "SceneInput.js" as Input
import "SceneMedia.js" as Media
import "SceneBoxes.js" as Boxes

Item {
    id: mainview
    anchors.fill: parent
    visible: true

    property var audioplayers: []
    property int numAudioPlayer: 0
    property int scaleX: width / 1600
    property int scaleY: height / 900
    // Mute state of the scene's sounds; every player binds to it, so it reaches those already
    // playing as well as those started later.
    property bool audioMuted: false

    signal finishedVideo()

    // Keys reach the item with the focus (the scene's input item, an entity or a part of the
    // help page) and come up here.
    Keys.onPressed: event.accepted = Input.keyPressed(event.key, event.modifiers)

    onWidthChanged: {
        console.log("Changed my width: " + width);
        mycanvas.onResize();
    }
    onHeightChanged: {
        console.log("Changed my height: " + height);
        mycanvas.onResize();
    }

    Item {
        id: mycanvas
        anchors.fill: parent
        z: 0

        property var lastHover: ""
        property string clickedButton: ""
        property var ignoreUInput: false
        property var mayClickedEntityList: []
        property bool dragging: false
        property var dragEnt: undefined
        property var fingerDownPos: [-1, -1]
        property string hoveredEntity: "" // the entity the pointer is over, reported once
        property var canGoOn: false
        property var videoIsPlaying: false
        // What the scene's players bind their mute state to.
        readonly property bool audioMuted: mainview.audioMuted

        readonly property string noValue: Values.noValue
        // Whether an assistive tool listens (the bridge keeps it): only then do the boxes
        // make and keep their accessible objects.
        property bool accessActive: false
        onAccessActiveChanged: {
            var layers = [dynamicMenuLayer, dynamicEntityLayer];
            for (var l = 0; l < layers.length; ++l) {
                for (var i = 0; i < layers[l].children.length; ++i)
                    layers[l].children[i].updateAccess();
            }
        }
        // Access details told before their entities are made (see describeEntities), by
        // layer and name.
        property var pendingAccess: ({})

        // Keyboard input: the entity or menu button with the focus ring, and the entity picked
        // up to be dropped somewhere else.
        property Item keyFocus: null
        property Item keyDragged: null

        signal finishedLoading()
        signal finishedAudio(string name)
        signal finishedReset()
        signal clickedEntity(string name)
        signal hoverEntity(string name)
        signal dropEntity(string droppedEntity, string ondroppedEntity)
        // For learners who cannot see the screen: what got the focus, what was dropped where.
        signal announce(string text)
        // Escape: the reading now playing is to stop, as the sounds do.
        signal stopReading()

        Item {
            id: ctrlEventSource
            anchors.fill: parent
            focus: true

            property alias cursorShape: inputArea.cursorShape

            signal mouseMove(int x, int y)
            signal mouseDown(int x, int y, int buttons)
            signal mouseUp(int x, int y)
            signal mouseWheel(int x, int y)
            signal mouseIn()
            signal mouseOut()
            signal keyDown(var event)
            signal keyUp(var event)

            MouseArea {
                id: inputArea
                anchors.fill: parent
                hoverEnabled: true
                // Right and middle presses are no clicks.
                acceptedButtons: Qt.LeftButton
                onPressed: {
                    console.log("This is my onClick!");
                    mycanvas.fingerDown(mouse.x, mouse.y, mouse.buttons);
                }
                onPositionChanged: {
                    if (pressed)
                        mycanvas.fingerMove(mouse.x, mouse.y);
                    else
                        Input.pointerMove(mouse.x, mouse.y);
                }
                onReleased: mycanvas.fingerUp(mouse.x, mouse.y)
                onExited: mycanvas.hoveredEntity = ""
            }
        }

        Rectangle {
            id: dynamicBackground
            anchors.fill: parent
            color: "#000000"
            z: 1

            Item {
                id: dynamicEntityLayer
                anchors.fill: parent
                z: 1
            }
            Item {
                id: dynamicTextLayer
                anchors.fill: parent
                z: 2
            }
            Item {
                id: dynamicVideoLayer
                anchors.fill: parent
                z: 3
            }
            Item {
                id: dynamicMenuLayer
                anchors.fill: parent
                z: 4
            }
            Item {
                id: dynamicAudioLayer
                anchors.fill: parent
                z: 200
            }
            Item {
                id: dynamicPNGAnimationLayer
            }

            // The focus ring of the keyboard, and a second ring on an entity picked up.
            Rectangle {
                property Item target: mycanvas.keyFocus && mycanvas.keyFocus.activeFocus ? mycanvas.keyFocus : null
                visible: target !== null && target.visible
                z: 250
                x: target ? target.x - 5 : 0
                y: target ? target.y - 5 : 0
                width: target ? target.width + 10 : 0
                height: target ? target.height + 10 : 0
                color: "transparent"
                border.width: 5
                border.color: "#d35400"
            }
            Rectangle {
                property Item target: mycanvas.keyDragged
                visible: target !== null && target.visible
                z: 251
                x: target ? target.x - 12 : 0
                y: target ? target.y - 12 : 0
                width: target ? target.width + 24 : 0
                height: target ? target.height + 24 : 0
                color: "transparent"
                border.width: 4
                border.color: "#1f6feb"
            }
        }

        // From its file rather than an inline Component: a wrapper would be one more object
        // creator for each of a hundred entities.
        readonly property Component entityComponent: Qt.createComponent("SceneEntity.qml")
        Component { id: entityVideoComponent; SceneEntityVideo {} }
        Component { id: menuButtonComponent; SceneMenuButton {} }
        Component { id: soundComponent; SceneSound {} }
        Component { id: videoComponent; SceneVideo {} }
        Component { id: animatorComponent; SceneFrameAnimator {} }

        // The bridge connects to our signals only after the view has finished creating the
        // document, so announcing the load from inside the creation would go unheard.
        Component.onCompleted: {
            console.log("COMPLETED!");
            Qt.callLater(startup);
        }

        // ---- Helpers ----------------------------------------------------------------------------

        function stValue(myvar, stdval) {
            return Values.stValue(myvar, stdval);
        }

        // Makes a scene object from its component with the given properties; null (and a log
        // line) when that fails.
        function makeObject(component, parentItem, properties) {
            var obj = component.createObject(parentItem, properties);
            if (!obj)
                console.log("Cannot create an object of " + component.url + ": " + component.errorString());
            return obj;
        }

        // Takes an object out of its layer at once (destroy() only deletes it later), so that
        // hit tests, name look-ups and child counts no longer see it.
        function removeObject(obj) {
            // Keys go to the item with the focus: without one they would be lost.
            if (obj.activeFocus)
                ctrlEventSource.forceActiveFocus();
            obj.visible = false;
            obj.parent = null;
            obj.destroy();
        }

        function removeLayerChildren(layer) {
            // The bridge's helper does what removeObject() does, for a whole layer at once.
            if (typeof sceneLayers !== "undefined") {
                sceneLayers.clear(layer, ctrlEventSource);
                return;
            }
            var items = [];
            for (var i = 0; i < layer.children.length; ++i)
                items.push(layer.children[i]);
            for (var j = 0; j < items.length; ++j)
                removeObject(items[j]);
        }

        // ---- Start-up, size, resets ----------------------------------------------------------

        function startup() {
            console.log("ini");
            finishedLoading();
            onResize();
        }

        function onResize() {
            var layers = [dynamicTextLayer, dynamicVideoLayer, dynamicMenuLayer, dynamicEntityLayer];
            for (var l = 0; l < layers.length; ++l) {
                var children = layers[l].children;
                for (var i = 0; i < children.length; ++i) {
                    if (typeof children[i].resizeProperly === "function")
                        children[i].resizeProperly();
                }
            }
        }

        function subprojectReset(la) {
            mainview.numAudioPlayer = 0;
            canGoOn = false;
            skipAudio();
            console.log("QML subproject reset start!");
            console.log("entlayer has: " + dynamicEntityLayer.children.length);
            stopSceneVideos();
            removeLayerChildren(dynamicTextLayer);
            removeLayerChildren(dynamicVideoLayer);
            removeLayerChildren(dynamicEntityLayer);
            for (var i = dynamicPNGAnimationLayer.children.length - 1; i >= 0; --i)
                dynamicPNGAnimationLayer.children[i].stop();
            removeLayerChildren(dynamicPNGAnimationLayer);
            // The new scene's entities are entered afresh.
            hoveredEntity = "";
            // A drag cannot outlive the entity it moves.
            keyDragged = null;
            keyFocus = null;
            dragging = false;
            dragEnt = undefined;
            fingerDownPos = [-1, -1];
            videoIsPlaying = false;
            pendingAccess = {};
            console.log("QML subproject reset end!");
            finishedReset();
        }

        function projectReset(la) {
            canGoOn = false;
            console.log("QML Project Reset start!");
            subprojectReset(la);
            removeLayerChildren(dynamicMenuLayer);
            console.log("QML Project Reset end!");
        }

        function resetWorkDone(no) {
            canGoOn = true;
        }

        // ---- Entities and menu buttons -------------------------------------------------------

        // entOpts: the entities' option lists (23 values each), or, as the bridge sends them,
        // {recordSize, records}: what createEntityFrom() reads of each entity and its access
        // details, one after the other in one flat list, numbers as numbers.
        function batchEntityInit(entOpts) {
            console.log("batchEntityInit start");
            // The entities' lines are built only when they are written.
            var quiet = typeof sceneLog !== "undefined" && !sceneLog.debugOn();
            var keepIgnore = ignoreUInput;
            ignoreUInput = true;
            try {
                var placed = dynamicEntityLayer.children.length;
                if (entOpts && entOpts.records !== undefined) {
                    var records = entOpts.records;
                    var size = entOpts.recordSize;
                    // Picture addresses by file name, for this entry only (see pictureUrl).
                    var pictures = Object.create(null);
                    for (var k = 0; size > 0 && k + size <= records.length; k += size) {
                        if (!quiet)
                            console.log("createEntity");
                        createEntityFrom(records, k, quiet, pictures);
                    }
                } else {
                    var lists = entOpts ? entOpts : [];
                    for (var i = 0; i < lists.length; ++i)
                        createEntity(lists[i], quiet);
                }
                // New boxes are made visible, opaque and in their place (makeBox); those that
                // were there already are placed anew.
                var children = dynamicEntityLayer.children;
                for (var j = 0; j < placed; ++j)
                    children[j].resizeProperly();
            } finally {
                ignoreUInput = keepIgnore;
                pendingAccess = {};
            }
            console.log("batchEntityInit end");
        }

        function createEntity(msg, quiet) {
            if (!quiet)
                console.log("createEntity");
            return createQmlEntity(msg, quiet);
        }

        function createMenuEntity(msg) {
            console.log("createMenuEntity");
            createQmlMenuEntity(msg);
        }

        // The address under which a picture file is loaded (see kestScenePictures).
        function pictureUrl(url) {
            if (String(url) === "" || typeof scenePictures === "undefined")
                return url;
            return scenePictures.stamped(url);
        }

        // Makes a box in layer (menu: 1 for the menu layer) from f: name, colour, X, Y, Width,
        // Height, Z, file address or picture (its address as pictureUrl() gave it), text, text
        // colour, text size and, where given, access (its access details, else those
        // describeEntities told). Everything is assigned once it is made, which costs less than
        // properties at its making, and only where it differs from a box's defaults; the text
        // comes after its size and font, so that it is laid out once. It is placed as
        // resizeProperly() would place it.
        function makeBox(component, layer, menu, f) {
            var box = component.createObject(layer);
            if (!box) {
                console.log("Cannot create an object of " + component.url + ": " + component.errorString());
                return null;
            }
            var pw = layer.width;
            var ph = layer.height;
            box.labelPixelSize = Values.textPixels(f.textSize, pw);
            box.width = f.w / 1600 * pw;
            box.height = f.h / 900 * ph;
            if (f.text !== "")
                box.label = f.text;
            box.scene = mycanvas;
            box.objectName = f.name;
            box.color = f.color;
            box.lastSetX = f.x;
            box.lastSetY = f.y;
            box.lastSetW = f.w;
            box.lastSetH = f.h;
            box.realX = f.x;
            box.realY = f.y;
            box.x = f.x / 1600 * pw;
            box.y = f.y / 900 * ph;
            box.z = f.z;
            if (f.picture !== undefined)
                box.picture = f.picture;
            else if (f.file !== "")
                box.picture = pictureUrl(f.file);
            if (f.textColor !== "black")
                box.labelColor = f.textColor;
            if (f.textSize !== 24)
                box.textSize = f.textSize;
            var info = f.access !== undefined ? f.access : pendingAccess[menu + ":" + f.name];
            if (info !== undefined) {
                if (info.alt !== undefined && String(info.alt) !== "")
                    box.altText = String(info.alt);
                if (info.active !== true)
                    box.keyActive = false;
                if (info.clickable === true)
                    box.clickable = true;
                if (info.scripted === true)
                    box.scripted = true;
            }
            return box;
        }

        function createQmlEntity(opts, quiet) {
            if (!opts || opts.length < 23) {
                console.log("createQmlEntity: incomplete option list");
                return null;
            }
            return createEntityFrom([opts[9], opts[10], opts[0], opts[1], opts[6], opts[7], opts[2], opts[13],
                                     opts[16], opts[19], opts[20], opts[15], opts[22]], 0, quiet);
        }

        // A finite number as it is (the bridge sends most numbers so); anything else as
        // Values.toNumber() reads it.
        function finiteNumber(value, fallback) {
            return typeof value === "number" && isFinite(value) ? value : Values.toNumber(value, fallback);
        }

        // The entity whose values start at r[k]: name, colour, X, Y, Width, Height, Z, file,
        // text, text colour, text size, DragDrop, DropRestore and, from a batch of records,
        // its access details alt, active, clickable and scripted (else those describeEntities
        // told); a batch gives the picture addresses it has found so far in pictures.
        function createEntityFrom(r, k, quiet, pictures) {
            var col = Values.entityColor(r[k + 1]);
            if (!quiet)
                console.log("Entity colour: " + col);
            var name = String(r[k]);
            var file = Values.stValue(r[k + 7], "");
            if (!quiet)
                console.log("QML CREATE " + name + "!");
            var text = String(Values.stValue(r[k + 8], ""));
            var picture;
            if (pictures !== undefined && file !== "") {
                picture = pictures[file];
                if (picture === undefined) {
                    picture = pictureUrl(Values.fileUrl(file));
                    pictures[file] = picture;
                }
            }
            var ent = makeBox(entityComponent, dynamicEntityLayer, 0, {
                name: name,
                color: col,
                x: finiteNumber(r[k + 2], 0),
                y: finiteNumber(r[k + 3], 0),
                w: finiteNumber(r[k + 4], 0),
                h: finiteNumber(r[k + 5], 0),
                z: finiteNumber(r[k + 6], 0),
                file: file === "" || picture !== undefined ? "" : Values.fileUrl(file),
                picture: picture,
                text: text,
                textColor: Values.textColor(r[k + 9]),
                textSize: Values.toNumber(Values.stValue(r[k + 10], "24"), 24),
                access: pictures === undefined ? undefined
                    : { alt: r[k + 13], active: r[k + 14], clickable: r[k + 15], scripted: r[k + 16] }
            });
            if (!ent)
                return null;
            // Most entities have neither (the bridge sends nothing then).
            if (r[k + 11] !== undefined) {
                var dragDrop = String(Values.stValue(r[k + 11], "false")).toLowerCase();
                if (dragDrop !== "false") {
                    ent.dragDrop = dragDrop;
                    ent.draggable = dragDrop === "true";
                }
            }
            if (r[k + 12] !== undefined) {
                var dropRestore = String(Values.stValue(r[k + 12], "false")).toLowerCase();
                if (dropRestore !== "false")
                    ent.shouldDropRestore = dropRestore;
            }
            // Without an assistive tool, the name is all updateAccess() would keep; a batch
            // knows what it is made of.
            if (pictures === undefined || accessActive)
                ent.updateAccess();
            else
                ent.accessibleName = Values.accessibleName(r[k + 13] === undefined ? "" : String(r[k + 13]), text,
                                                           picture === undefined ? "" : picture);
            return ent;
        }

        function createQmlMenuEntity(opts) {
            if (!opts || opts.length < 23) {
                console.log("createQmlMenuEntity: incomplete option list");
                return;
            }
            var fields = [String(opts[9]), opts[0], opts[1], opts[6], opts[7], stValue(opts[13], ""),
                          stValue(opts[16], ""), Values.textColor(opts[19]), stValue(opts[20], "24"),
                          stValue(opts[21], "transparent"), Values.entityColor(opts[10]), stValue(opts[2], "200")];
            var p = fields.join(";_;");
            console.log(p);
            createQmlMenubutton(p);
        }

        function createQmlMenubutton(p) {
            var f = String(p).split(";_;");
            if (f.length < 12) {
                console.log("createQmlMenubutton: incomplete fields");
                return null;
            }
            var button = makeBox(menuButtonComponent, dynamicMenuLayer, 1, {
                name: f[0],
                color: Values.entityColor(f[10]),
                x: Values.toNumber(f[1], 0),
                y: Values.toNumber(f[2], 0),
                w: Values.toNumber(f[3], 0),
                h: Values.toNumber(f[4], 0),
                z: Values.toNumber(f[11], 200),
                file: f[5] === "" ? "" : Values.fileUrl(f[5]),
                text: f[6],
                textColor: Values.textColor(f[7]),
                textSize: Values.toNumber(f[8], 24)
            });
            if (button) {
                button.resizeProperly();
                button.updateAccess();
            }
            return button;
        }

        // Access details of entities (list of {name, menu, alt, active, clickable, scripted}),
        // which the bridge reads from their documents.
        function describeEntities(list) {
            var infos = list ? list : [];
            // By layer and name, in one pass: a scene entry describes all its entities at once.
            var boxes = {};
            var layers = [dynamicEntityLayer, dynamicMenuLayer];
            for (var l = 0; l < layers.length; ++l) {
                var children = layers[l].children;
                for (var c = 0; c < children.length; ++c) {
                    var key = l + ":" + children[c].objectName;
                    if (!boxes[key])
                        boxes[key] = [];
                    boxes[key].push(children[c]);
                }
            }
            for (var i = 0; i < infos.length; ++i) {
                var info = infos[i];
                var key = (info.menu ? 1 : 0) + ":" + info.name;
                var named = boxes[key] || [];
                // The bridge tells a scene's entities before it makes them.
                pendingAccess[key] = info;
                for (var j = 0; j < named.length; ++j) {
                    named[j].altText = String(info.alt === undefined ? "" : info.alt);
                    named[j].keyActive = info.active === true;
                    named[j].clickable = info.clickable === true;
                    named[j].scripted = info.scripted === true;
                    named[j].updateAccess();
                }
            }
        }

        function changeGivenEntity(ent, attName, attVal) {
            switch (String(attName).toLowerCase()) {
            case "filename": Boxes.changeFilename(ent, attVal); break;
            case "x": Boxes.changeX(ent, Number(attVal)); break;
            case "y": Boxes.changeY(ent, Number(attVal)); break;
            case "width": Boxes.changeW(ent, Number(attVal)); break;
            case "height": Boxes.changeH(ent, Number(attVal)); break;
            case "opacity": Boxes.setOpacity(ent, Number(attVal)); break;
            case "backgroundcolor": Boxes.changeColor(ent, attVal); break;
            case "stateactive": Boxes.setActive(ent, attVal); break;
            case "text": Boxes.changeText(ent, attVal); break;
            case "textcolor": Boxes.changeTextcolor(ent, attVal); break;
            case "textsize": Boxes.changeTextsize(ent, attVal); break;
            default: break;
            }
        }

        function changeObjectsNamed(layer, p) {
            var f = String(p).split(";_;");
            if (f.length < 3)
                return;
            var children = layer.children;
            for (var i = 0; i < children.length; ++i) {
                if (children[i].objectName === f[0])
                    changeGivenEntity(children[i], f[1], f[2]);
            }
        }

        function changeEntity(p) {
            changeObjectsNamed(dynamicEntityLayer, p);
        }

        function changeMenuEntity(p) {
            changeObjectsNamed(dynamicMenuLayer, p);
        }

        function getQMLEntityFromName(name) {
            var children = dynamicEntityLayer.children;
            for (var i = 0; i < children.length; ++i) {
                if (children[i].objectName === name)
                    return children[i];
            }
            return undefined;
        }

        function restoreEntityPos(p) {
            var children = dynamicEntityLayer.children;
            for (var i = 0; i < children.length; ++i) {
                if (children[i].objectName === p)
                    Boxes.restoreEntPos(children[i]);
            }
        }

        // Pairs "A;B" separated by ";_;", applied one after the other: each pair exchanges the
        // current positions of two entities.
        function shufflePosition(p) {
            var pairs = String(p).split(";_;");
            for (var i = 0; i < pairs.length; ++i) {
                var names = pairs[i].split(";");
                if (names.length < 2)
                    continue;
                var a = getQMLEntityFromName(names[0]);
                var b = getQMLEntityFromName(names[1]);
                if (!a || !b)
                    continue;
                var posA = Boxes.getPosition(a);
                var posB = Boxes.getPosition(b);
                Boxes.changePosition(a, posB);
                Boxes.changePosition(b, posA);
            }
        }

        function setClearColor(color) {
            var c = String(color);
            // Course documents write colours as 0xRRGGBB.
            if (/^0x/i.test(c))
                c = "#" + c.substring(2);
            dynamicBackground.color = c;
        }

        function showHelpSite(p) {
            var keyUser = keyFocus !== null && keyFocus.activeFocus;
            helpSite.show(p);
            // A keyboard user is taken to the page, to read it and to close it.
            if (keyUser)
                Input.moveFocus(1);
        }

        function ignoreUserinput(p) {
            ignoreUInput = (String(p) === "true");
        }

        // ---- Sound and video (SceneMedia.js) -------------------------------------------------

        function returnFinishedAudioName(name) {
            console.log("came here!");
            finishedAudio(name);
        }

        function beginAudio(params) { Media.beginAudio(params); }
        function skipAudio() { Media.skipAudio(); }

        function muteAudio(opt) {
            mainview.audioMuted = (opt === true || String(opt).toLowerCase() === "true");
        }

        // Its end (or failure, or stopMedia) raises finishedVideo() of mainview.
        function beginVideo(p) { Media.beginVideo(p); }

        // A video of the scene or of an entity ended: a script waiting for it goes on.
        function reportVideoEnd() {
            videoIsPlaying = false;
            mainview.finishedVideo();
        }

        function stopSceneVideos() { Media.stopSceneVideos(); }
        function entityVideoEnded(ent) { Media.entityVideoEnded(ent); }
        function entityVideoFailed(ent) { Media.entityVideoFailed(ent); }

        function stopMedia(p) {
            console.log("stop media");
            skipAudio();
            stopSceneVideos();
        }

        function stopSpecificMedia(p) { Media.stopSpecificMedia(p); }
        function actionVideoPlayer(p) { Media.actionVideoPlayer(p); }

        // ---- Frame animations -----------------------------------------------------------------

        function pngAnimate(p) {
            console.log("ANIM");
            var f = String(p).split(";_;");
            if (f.length < 4)
                return;
            createQMLPngAnimation(f);
        }

        function createQMLPngAnimation(opts) {
            var animator = makeObject(animatorComponent, dynamicPNGAnimationLayer, {
                objectName: String(opts[1]),
                target: getQMLEntityFromName(opts[0]) || null,
                repeat: Values.toNumber(opts[3], -1)
            });
            if (animator) {
                animator.loadImages(opts[2]);
                animator.start();
            }
        }

        function stopPNGAnimation(p) {
            var children = dynamicPNGAnimationLayer.children;
            for (var i = 0; i < children.length; ++i) {
                if (children[i].objectName === p)
                    children[i].stop();
            }
        }

        // ---- Hit testing and input (SceneInput.js) -------------------------------------------

        function getEntitiesNameZFromPosition(x, y) { return Input.entitiesNameZAt(x, y); }
        function getTouchedEntitiyFromPosition(x, y, z, exclude) { return Input.touchedEntityAt(x, y, z, exclude); }
        function clickedEntityHandler(txt) { clickedEntity(txt); }
        function fingerDown(x, y, mb) { Input.fingerDown(x, y, mb); }
        function fingerMove(x, y) { Input.fingerMove(x, y); }
        function fingerUp(x, y) { Input.fingerUp(x, y); }
        // An assistive tool pressed an entity or menu button: as Enter on it.
        function keyPressItem(item) { Input.pressItem(item); }
        function restoreKeyFocus() { ctrlEventSource.forceActiveFocus(); }

        function receivedTouchEvent(pos) {
            console.log("touch event down");
            if (pos && pos.length >= 2)
                fingerDown(pos[0], pos[1], 1);
        }

        function receivedTouchEventUp(pos) {
            console.log("touch event up");
            if (pos && pos.length >= 2)
                fingerUp(pos[0], pos[1]);
        }

        function receivedTouchMoveEvent(pos) {
            if (pos && pos.length >= 2)
                fingerMove(pos[0], pos[1]);
        }

        // ---- Accepted and ignored ----------------------------------------------------------------

        function move3DEntity(p) {}
        function animate(opt) {}
        function createVideoPlayer(p) {}
        function createBubble(p) {}
        function activateSceneBorder(p) {}
        function paused(p) {}
    }

    HelpSite {
        id: helpSite
        objectName: "helpSite"
        anchors.fill: parent
        visible: false
        z: 299
        onClosePressed: mycanvas.skipAudio()
        // The page's parts had the focus; the keys go back to the scene.
        onVisibleChanged: if (!visible) mycanvas.restoreKeyFocus()
    }
}
