// SPDX-License-Identifier: GPL-3.0-or-later
// The course scene: entities, menu buttons, sounds, videos and frame animations in fixed layers,
// driven by name through the functions of mycanvas and reporting back through its signals.
import QtQuick 2.12
import QtQuick.Controls 1.3
import QtMultimedia 5.12
import QtQuick.Shapes 1.12

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
        property var canGoOn: false
        property var videoIsPlaying: false

        readonly property string noValue: ";-;-;NoValue;-;-;"
        readonly property string snippetHeader: "import QtQuick 2.4; import QtMultimedia 5.12;\n"

        signal finishedLoading()
        signal finishedAudio(string name)
        signal finishedReset()
        signal clickedEntity(string name)
        signal hoverEntity(string name)
        signal dropEntity(string droppedEntity, string ondroppedEntity)

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
                acceptedButtons: Qt.AllButtons
                onPressed: {
                    console.log("This is my onClick!");
                    mycanvas.fingerDown(mouse.x, mouse.y, mouse.buttons);
                }
                onPositionChanged: mycanvas.fingerMove(mouse.x, mouse.y)
                onReleased: mycanvas.fingerUp(mouse.x, mouse.y)
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
        }

        // The bridge connects to our signals only after the view has finished creating the
        // document, so announcing the load from inside the creation would go unheard.
        Component.onCompleted: {
            console.log("COMPLETED!");
            Qt.callLater(startup);
        }

        // ---- Values taken from course documents ---------------------------------------------

        function stValue(myvar, stdval) {
            if (myvar === undefined || myvar === null || myvar === noValue || myvar === "")
                return stdval;
            return myvar;
        }

        // A QML string literal holding exactly the text: course values never leave the quotes.
        function qmlString(value) {
            var text = (value === undefined || value === null) ? "" : String(value);
            return JSON.stringify(text).replace(/\u2028/g, "\\u2028").replace(/\u2029/g, "\\u2029");
        }

        function toNumber(value, fallback) {
            if (value === undefined || value === null || String(value).trim() === "")
                return fallback;
            var n = Number(value);
            return isFinite(n) ? n : fallback;
        }

        // A number as QML source text; never NaN or Infinity.
        function numText(value, fallback) {
            return String(toNumber(value, fallback));
        }

        function isColor(value) {
            try {
                return Qt.colorEqual(value, value);
            } catch (e) {
                return false;
            }
        }

        // Local path to URL. "#", "?" and "%" are file name characters here, not URL syntax.
        function fileUrl(path) {
            var p = String(path).replace(/\\/g, "/").replace(/^\/+/, "");
            return "file:///" + p.replace(/%/g, "%25").replace(/#/g, "%23").replace(/\?/g, "%3F");
        }

        // Sound actions send URLs; anything without a scheme (a drive letter is none) is a path.
        function mediaUrl(file) {
            var f = String(file);
            return /^[A-Za-z][A-Za-z0-9+.\-]+:/.test(f) ? f : fileUrl(f);
        }

        function createObject(text, parentItem, fileName) {
            try {
                return Qt.createQmlObject(text, parentItem, fileName);
            } catch (e) {
                console.log("Cannot create " + fileName + ": " + e);
                return null;
            }
        }

        // Takes an object out of its layer at once (destroy() only deletes it later), so that
        // hit tests, name look-ups and child counts no longer see it.
        function removeObject(obj) {
            obj.visible = false;
            obj.parent = null;
            obj.destroy();
        }

        function removeLayerChildren(layer) {
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
            // A drag cannot outlive the entity it moves.
            dragging = false;
            dragEnt = undefined;
            fingerDownPos = [-1, -1];
            videoIsPlaying = false;
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

        function batchEntityInit(entOpts) {
            console.log("batchEntityInit start");
            var keepIgnore = ignoreUInput;
            ignoreUInput = true;
            try {
                var lists = entOpts ? entOpts : [];
                for (var i = 0; i < lists.length; ++i) {
                    var ent = createEntity(lists[i]);
                    if (ent) {
                        ent.visible = true;
                        ent.opacity = 1;
                    }
                }
                for (var j = 0; j < dynamicEntityLayer.children.length; ++j)
                    dynamicEntityLayer.children[j].resizeProperly();
            } finally {
                ignoreUInput = keepIgnore;
            }
            console.log("batchEntityInit end");
        }

        function createEntity(msg) {
            console.log("createEntity");
            return createQmlEntity(msg);
        }

        function createMenuEntity(msg) {
            console.log("createMenuEntity");
            createQmlMenuEntity(msg);
        }

        // Only "#" colours are accepted as an entity's background; anything else is see-through.
        function entityColor(value) {
            var col = stValue(value, "transparent");
            if (col !== "transparent" && (String(col).charAt(0) !== "#" || !isColor(col)))
                col = "transparent";
            return col;
        }

        function textColor(value) {
            var col = stValue(value, "black");
            return isColor(col) ? col : "black";
        }

        function createQmlEntity(opts) {
            if (!opts || opts.length < 23) {
                console.log("createQmlEntity: incomplete option list");
                return null;
            }
            var col = entityColor(opts[10]);
            console.log("Entity colour: " + col);
            var name = String(opts[9]);
            var file = stValue(opts[13], "");
            var n = dynamicEntityLayer.children.length;
            var text = snippetHeader
                    + "Rectangle {\n"
                    + "    id: entity" + n + "\n"
                    + "    objectName: " + qmlString(name) + "\n"
                    + "    color: " + qmlString(col) + "\n"
                    + "    property real lastSetX: " + numText(opts[0], 0) + "\n"
                    + "    property real lastSetY: " + numText(opts[1], 0) + "\n"
                    + "    property real lastSetW: " + numText(opts[6], 0) + "\n"
                    + "    property real lastSetH: " + numText(opts[7], 0) + "\n"
                    + "    property real realX: " + numText(opts[0], 0) + "\n"
                    + "    property real realY: " + numText(opts[1], 0) + "\n"
                    + "    property string clickActive: \"true\"\n"
                    + "    property string dragDrop: " + qmlString(String(stValue(opts[15], "false")).toLowerCase()) + "\n"
                    + "    property string shouldDropRestore: " + qmlString(String(stValue(opts[22], "false")).toLowerCase()) + "\n"
                    + "    opacity: 1\n"
                    + "    visible: true\n"
                    + "    z: " + numText(opts[2], 0) + "\n"
                    + "    Image {\n"
                    + "        id: entityImage" + n + "\n"
                    + "        anchors.centerIn: parent\n"
                    + "        width: parent.width\n"
                    + "        height: parent.height\n"
                    + "        z: 4\n"
                    + "        source: " + qmlString(file === "" ? "" : fileUrl(file)) + "\n"
                    + "        cache: false\n"
                    + "        asynchronous: false\n"
                    + "    }\n"
                    + "    Text {\n"
                    + "        id: entityText" + n + "\n"
                    + "        property real textSize: " + numText(stValue(opts[20], "24"), 24) + "\n"
                    + "        anchors.fill: parent\n"
                    + "        z: 5\n"
                    + "        horizontalAlignment: Text.AlignHCenter\n"
                    + "        verticalAlignment: Text.AlignVCenter\n"
                    + "        wrapMode: Text.WordWrap\n"
                    + "        text: " + qmlString(stValue(opts[16], "")) + "\n"
                    + "        color: " + qmlString(textColor(opts[19])) + "\n"
                    + "    }\n"
                    + "    Video {\n"
                    + "        id: entityVideo" + n + "\n"
                    + "        property int repeat: 0\n"
                    + "        property bool wanted: false\n"
                    + "        property bool failed: false\n"
                    + "        anchors.fill: parent\n"
                    + "        z: 6\n"
                    + "        visible: false\n"
                    + "        muted: mainview.audioMuted\n"
                    + "        onStopped: if (status === MediaPlayer.EndOfMedia) entity" + n + ".videoEnded()\n"
                    + "        onErrorChanged: if (error !== MediaPlayer.NoError) entity" + n + ".videoFailed()\n"
                    + "    }\n"
                    + "    function setVideofile(file) { entityVideo" + n + ".failed = false; entityVideo" + n + ".source = mycanvas.fileUrl(file); }\n"
                    + "    function videoPlay() {\n"
                    + "        var v = entityVideo" + n + ";\n"
                    + "        if (v.failed) { videoDone(); return; }\n"
                    + "        v.wanted = true;\n"
                    + "        v.visible = true;\n"
                    + "        v.play();\n"
                    + "    }\n"
                    + "    function videoStop() {\n"
                    + "        entityVideo" + n + ".stop();\n"
                    + "        videoDone();\n"
                    + "    }\n"
                    + "    function videoPause() { entityVideo" + n + ".pause(); }\n"
                    + "    function setVideorepeat(rep) { entityVideo" + n + ".repeat = mycanvas.toNumber(rep, 0); }\n"
                    + "    function videoDone() {\n"
                    + "        entityVideo" + n + ".wanted = false;\n"
                    + "        entityVideo" + n + ".visible = false;\n"
                    + "        mycanvas.videoIsPlaying = false;\n"
                    + "        mainview.finishedVideo();\n"
                    + "    }\n"
                    + "    function videoEnded() {\n"
                    + "        var v = entityVideo" + n + ";\n"
                    + "        if (v.repeat === -1) { v.play(); return; }\n"
                    + "        if (v.repeat > 0) { v.repeat = v.repeat - 1; v.play(); return; }\n"
                    + "        videoDone();\n"
                    + "    }\n"
                    // A video that cannot play ends like a finished one once it is asked to play,
                    // so a script waiting for it goes on.
                    + "    function videoFailed() {\n"
                    + "        var v = entityVideo" + n + ";\n"
                    + "        if (v.failed) return;\n"
                    + "        v.failed = true;\n"
                    + "        console.log(\"Entity video ERROR: \" + v.errorString);\n"
                    + "        if (v.wanted) videoDone();\n"
                    + "    }\n"
                    + "    function touchCheckDown(xi, yi, state) {\n"
                    + "        if (x < xi && xi < x + width && y < yi && yi < y + height && opacity > 0 && clickActive === \"true\") {\n"
                    + "            console.log(\"MyImage: \" + entityImage" + n + ".source);\n"
                    + "            return objectName + \";_;\" + z;\n"
                    + "        }\n"
                    + "        return \"\";\n"
                    + "    }\n"
                    + "    function resizeProperly() {\n"
                    + "        var pw = parent ? parent.width : 0;\n"
                    + "        var ph = parent ? parent.height : 0;\n"
                    + "        x = lastSetX / 1600 * pw;\n"
                    + "        y = lastSetY / 900 * ph;\n"
                    + "        width = lastSetW / 1600 * pw;\n"
                    + "        height = lastSetH / 900 * ph;\n"
                    + "        entityText" + n + ".font.pixelSize = Math.max(1, entityText" + n + ".textSize / 1600 * mainview.width);\n"
                    + "    }\n"
                    + "    function setOpacity(value) { opacity = mycanvas.toNumber(value, opacity); }\n"
                    + "    function setActive(value) { clickActive = String(value); }\n"
                    + "    function changeX(myx) { lastSetX = mycanvas.toNumber(myx, lastSetX); realX = lastSetX; resizeProperly(); }\n"
                    + "    function changeY(myy) { lastSetY = mycanvas.toNumber(myy, lastSetY); realY = lastSetY; resizeProperly(); }\n"
                    + "    function changeW(myw) { lastSetW = mycanvas.toNumber(myw, lastSetW); resizeProperly(); }\n"
                    + "    function changeH(myh) { lastSetH = mycanvas.toNumber(myh, lastSetH); resizeProperly(); }\n"
                    + "    function changePosition(posString) {\n"
                    + "        var f = String(posString).split(\";_;\");\n"
                    + "        if (f.length < 2) return;\n"
                    + "        changeX(f[0]);\n"
                    + "        changeY(f[1]);\n"
                    + "    }\n"
                    + "    function getPosition() { return lastSetX + \";_;\" + lastSetY; }\n"
                    + "    function changeFilename(fn) { entityImage" + n + ".source = (String(fn) === \"\") ? \"\" : mycanvas.fileUrl(fn); }\n"
                    + "    function dragToPos(px, py) { lastSetX = px - lastSetW / 2; lastSetY = py - lastSetH / 2; resizeProperly(); }\n"
                    + "    function restoreEntPos() { changeX(realX); changeY(realY); }\n"
                    + "    function changeColor(col) { color = col; }\n"
                    + "    function changeText(value) { entityText" + n + ".text = value; }\n"
                    + "    function changeTextcolor(value) { entityText" + n + ".color = value; }\n"
                    + "    function changeTextsize(value) { entityText" + n + ".textSize = mycanvas.toNumber(value, entityText" + n + ".textSize); resizeProperly(); }\n"
                    + "}\n";
            console.log("QML CREATE " + name + "!");
            var ent = createObject(text, dynamicEntityLayer, "dynamicEntitySnippet" + n);
            onResize();
            return ent;
        }

        function createQmlMenuEntity(opts) {
            if (!opts || opts.length < 23) {
                console.log("createQmlMenuEntity: incomplete option list");
                return;
            }
            var fields = [String(opts[9]), opts[0], opts[1], opts[6], opts[7], stValue(opts[13], ""),
                          stValue(opts[16], ""), textColor(opts[19]), stValue(opts[20], "24"),
                          stValue(opts[21], "transparent"), entityColor(opts[10]), stValue(opts[2], "200")];
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
            var n = dynamicMenuLayer.children.length;
            var text = snippetHeader
                    + "Rectangle {\n"
                    + "    id: menubutton" + n + "\n"
                    + "    objectName: " + qmlString(f[0]) + "\n"
                    + "    color: " + qmlString(entityColor(f[10])) + "\n"
                    + "    property real lastSetX: " + numText(f[1], 0) + "\n"
                    + "    property real lastSetY: " + numText(f[2], 0) + "\n"
                    + "    property real lastSetW: " + numText(f[3], 0) + "\n"
                    + "    property real lastSetH: " + numText(f[4], 0) + "\n"
                    + "    property string clickActive: \"true\"\n"
                    + "    property real normalOpacity: 1\n"
                    + "    opacity: 1\n"
                    + "    z: " + numText(f[11], 200) + "\n"
                    + "    Image {\n"
                    + "        id: menuImage" + n + "\n"
                    + "        anchors.fill: parent\n"
                    + "        z: 4\n"
                    + "        source: " + qmlString(f[5] === "" ? "" : fileUrl(f[5])) + "\n"
                    + "    }\n"
                    + "    Text {\n"
                    + "        id: menuText" + n + "\n"
                    + "        property real textSize: " + numText(f[8], 24) + "\n"
                    + "        anchors.fill: parent\n"
                    + "        z: 5\n"
                    + "        horizontalAlignment: Text.AlignHCenter\n"
                    + "        verticalAlignment: Text.AlignVCenter\n"
                    + "        wrapMode: Text.WordWrap\n"
                    + "        text: " + qmlString(f[6]) + "\n"
                    + "        color: " + qmlString(textColor(f[7])) + "\n"
                    + "    }\n"
                    + "    function touchCheckDown(xi, yi, state) {\n"
                    + "        if (x < xi && xi < x + width && y < yi && yi < y + height && opacity > 0 && clickActive === \"true\")\n"
                    + "            return objectName + \";_;\" + z;\n"
                    + "        return \"\";\n"
                    + "    }\n"
                    + "    function resizeProperly() {\n"
                    + "        var pw = parent ? parent.width : 0;\n"
                    + "        var ph = parent ? parent.height : 0;\n"
                    + "        x = lastSetX / 1600 * pw;\n"
                    + "        y = lastSetY / 900 * ph;\n"
                    + "        width = lastSetW / 1600 * pw;\n"
                    + "        height = lastSetH / 900 * ph;\n"
                    + "        menuText" + n + ".font.pixelSize = Math.max(1, menuText" + n + ".textSize / 1600 * mainview.width);\n"
                    + "    }\n"
                    + "    function setOpacity(value) { opacity = mycanvas.toNumber(value, opacity); normalOpacity = opacity; }\n"
                    + "    function setActive(value) { clickActive = String(value); }\n"
                    + "    function changeX(myx) { lastSetX = mycanvas.toNumber(myx, lastSetX); resizeProperly(); }\n"
                    + "    function changeY(myy) { lastSetY = mycanvas.toNumber(myy, lastSetY); resizeProperly(); }\n"
                    + "    function changeW(myw) { lastSetW = mycanvas.toNumber(myw, lastSetW); resizeProperly(); }\n"
                    + "    function changeH(myh) { lastSetH = mycanvas.toNumber(myh, lastSetH); resizeProperly(); }\n"
                    + "    function changeColor(col) { color = col; }\n"
                    + "    function changeFilename(fn) { if (String(fn) !== \"\") menuImage" + n + ".source = mycanvas.fileUrl(fn); }\n"
                    + "    function changeText(value) { menuText" + n + ".text = value; }\n"
                    + "    function changeTextcolor(value) { menuText" + n + ".color = value; }\n"
                    + "    function changeTextsize(value) { menuText" + n + ".textSize = mycanvas.toNumber(value, menuText" + n + ".textSize); resizeProperly(); }\n"
                    + "}\n";
            var button = createObject(text, dynamicMenuLayer, "dynamicSnippetM" + n);
            onResize();
            return button;
        }

        function changeGivenEntity(ent, attName, attVal) {
            switch (String(attName).toLowerCase()) {
            case "filename": ent.changeFilename(attVal); break;
            case "x": ent.changeX(Number(attVal)); break;
            case "y": ent.changeY(Number(attVal)); break;
            case "width": ent.changeW(Number(attVal)); break;
            case "height": ent.changeH(Number(attVal)); break;
            case "opacity": ent.setOpacity(Number(attVal)); break;
            case "backgroundcolor": ent.changeColor(attVal); break;
            case "stateactive": ent.setActive(attVal); break;
            case "text": ent.changeText(attVal); break;
            case "textcolor": ent.changeTextcolor(attVal); break;
            case "textsize": ent.changeTextsize(attVal); break;
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
                    children[i].restoreEntPos();
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
                var posA = a.getPosition();
                var posB = b.getPosition();
                a.changePosition(posB);
                b.changePosition(posA);
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
            helpSite.show(p);
        }

        function ignoreUserinput(p) {
            ignoreUInput = (String(p) === "true");
        }

        // ---- Sound ----------------------------------------------------------------------------

        function returnFinishedAudioName(name) {
            console.log("came here!");
            finishedAudio(name);
        }

        function beginAudio(params) {
            var whole = String(params);
            var file = whole.split(";_;")[0];
            var n = mainview.numAudioPlayer;
            mainview.numAudioPlayer = n + 1;
            var id = "audioplayer_" + n;
            console.log(id);
            if (file === "") {
                console.log("beginAudio without a file");
                returnFinishedAudioName(whole);
                return;
            }
            var text = snippetHeader
                    + "Audio {\n"
                    + "    id: " + id + "\n"
                    + "    objectName: \"qmlaudioplayer-" + id + "\"\n"
                    + "    property bool active: true\n"
                    + "    property bool isPlaying: true\n"
                    + "    property bool reported: false\n"
                    + "    property string name: " + qmlString(whole) + "\n"
                    + "    source: " + qmlString(mediaUrl(file)) + "\n"
                    + "    autoPlay: true\n"
                    + "    muted: mainview.audioMuted\n"
                    + "    Component.onCompleted: {\n"
                    + "        console.log(\"Created a Audioplayer with id: \" + objectName);\n"
                    + "        console.log(objectName + \" has file: \" + name);\n"
                    + "    }\n"
                    // Whatever ends a player, its name is reported once.
                    + "    function report() {\n"
                    + "        if (reported) return;\n"
                    + "        reported = true;\n"
                    + "        mycanvas.returnFinishedAudioName(name);\n"
                    + "    }\n"
                    + "    function skipAudio() {\n"
                    + "        console.log(\"[ACTIVE]\" + name + \" : \" + active);\n"
                    + "        if (active) {\n"
                    + "            console.log(\"SkipAudio\");\n"
                    + "            stopPlayer();\n"
                    + "        }\n"
                    + "    }\n"
                    + "    function stopPlayer() {\n"
                    + "        console.log(\"Audio player STOP!!!\");\n"
                    + "        stop();\n"
                    + "        isPlaying = false;\n"
                    + "        report();\n"
                    + "    }\n"
                    + "    onStopped: {\n"
                    + "        console.log(\"onStopped!\");\n"
                    + "        if (status === Audio.EndOfMedia) {\n"
                    + "            console.log(\"Audio player Finished!!!\");\n"
                    + "            report();\n"
                    + "            isPlaying = false;\n"
                    + "        }\n"
                    + "        active = false;\n"
                    + "    }\n"
                    + "    onError: {\n"
                    + "        console.log(\"Audio player ERROR!!!\");\n"
                    + "        report();\n"
                    + "        isPlaying = false;\n"
                    + "        active = false;\n"
                    + "    }\n"
                    + "}\n";
            var player = createObject(text, dynamicAudioLayer, "dynamicAudioLayerSnippet" + mainview.audioplayers.length);
            if (!player) {
                // A sound that cannot even be set up ends at once, so its script goes on.
                returnFinishedAudioName(whole);
                return;
            }
            var players = mainview.audioplayers;
            players.push(player);
            mainview.audioplayers = players;
        }

        function skipAudio() {
            var players = mainview.audioplayers;
            console.log("Skip has #audioent to skip: " + players.length);
            // Emptied first: a report may lead straight to a new sound.
            mainview.audioplayers = [];
            for (var i = 0; i < players.length; ++i) {
                players[i].skipAudio();
                players[i].destroy();
            }
        }

        function muteAudio(opt) {
            mainview.audioMuted = (opt === true || String(opt).toLowerCase() === "true");
        }

        // ---- Video ----------------------------------------------------------------------------

        // Plays a video over the whole scene; its end (or failure, or stopMedia) raises
        // finishedVideo() so that a script waiting for it goes on.
        function beginVideo(p) {
            var file = String(p).split(";_;")[0];
            if (file === "") {
                console.log("beginVideo without a file");
                mainview.finishedVideo();
                return;
            }
            var n = dynamicVideoLayer.children.length;
            var text = snippetHeader
                    + "Video {\n"
                    + "    id: scenevideo" + n + "\n"
                    + "    objectName: \"scenevideo\"\n"
                    + "    property bool done: false\n"
                    + "    anchors.fill: parent\n"
                    + "    fillMode: VideoOutput.PreserveAspectFit\n"
                    + "    source: " + qmlString(fileUrl(file)) + "\n"
                    + "    autoPlay: true\n"
                    + "    muted: mainview.audioMuted\n"
                    + "    onStopped: finish()\n"
                    + "    onErrorChanged: if (error !== MediaPlayer.NoError) { console.log(\"Scene video ERROR: \" + errorString); finish(); }\n"
                    + "    function finish() {\n"
                    + "        if (done) return;\n"
                    + "        done = true;\n"
                    + "        mycanvas.videoIsPlaying = false;\n"
                    + "        mycanvas.removeObject(scenevideo" + n + ");\n"
                    + "        mainview.finishedVideo();\n"
                    + "    }\n"
                    + "    function stopVideo() {\n"
                    + "        if (done) return;\n"
                    + "        stop();\n"
                    + "        finish();\n"
                    + "    }\n"
                    + "}\n";
            var video = createObject(text, dynamicVideoLayer, "dynamicVideoSnippet" + n);
            if (!video) {
                mainview.finishedVideo();
                return;
            }
            videoIsPlaying = true;
        }

        function stopSceneVideos() {
            var videos = [];
            for (var i = 0; i < dynamicVideoLayer.children.length; ++i) {
                if (dynamicVideoLayer.children[i].objectName === "scenevideo")
                    videos.push(dynamicVideoLayer.children[i]);
            }
            for (var j = 0; j < videos.length; ++j)
                videos[j].stopVideo();
        }

        function stopMedia(p) {
            console.log("stop media");
            skipAudio();
            stopSceneVideos();
        }

        function stopSpecificMedia(p) {
            if (String(p) === "audioplayer") {
                skipAudio();
                return;
            }
            var children = dynamicVideoLayer.children;
            for (var i = 0; i < children.length; ++i) {
                console.log("Checking Ent: " + children[i].objectName);
                console.log("searching for: " + "videoplayer" + p);
                if (children[i].objectName === "videoplayer" + p)
                    children[i].playpause();
            }
        }

        function actionVideoPlayer(p) {
            var f = String(p).split(";_;");
            if (f.length < 2)
                return;
            var keyword = f[0].toLowerCase();
            var file = "";
            var repeat = 0;
            if (f.length > 2) {
                file = f[2];
                repeat = f.length > 3 ? parseInt(f[3], 10) : 0;
                if (!isFinite(repeat))
                    repeat = 0;
            }
            var ent = getQMLEntityFromName(f[1]);
            if (!ent)
                return;
            if (keyword === "play") {
                videoIsPlaying = true;
                ent.videoPlay();
            } else if (keyword === "stop") {
                videoIsPlaying = false;
                ent.videoStop();
            } else if (keyword === "setsource") {
                ent.setVideofile(file);
                ent.setVideorepeat(repeat);
            } else if (keyword === "pause") {
                videoIsPlaying = false;
                ent.videoPause();
            }
        }

        // ---- Frame animations -----------------------------------------------------------------

        function pngAnimate(p) {
            console.log("ANIM");
            var f = String(p).split(";_;");
            if (f.length < 4)
                return;
            createQMLPngAnimation(f);
        }

        function createQMLPngAnimation(opts) {
            var n = dynamicPNGAnimationLayer.children.length;
            var text = snippetHeader
                    + "Item {\n"
                    + "    id: animator_" + n + "\n"
                    + "    objectName: " + qmlString(opts[1]) + "\n"
                    + "    property int currentFrame: 0\n"
                    + "    property int frameCount: -1\n"
                    + "    property int repeatCount: 0\n"
                    + "    property var target: mycanvas.getQMLEntityFromName(" + qmlString(opts[0]) + ")\n"
                    + "    property int repeat: " + numText(opts[3], -1) + "\n"
                    + "    property var frames: []\n"
                    + "    readonly property bool running: animTimer_" + n + ".running\n"
                    + "    Timer {\n"
                    + "        id: animTimer_" + n + "\n"
                    + "        interval: 33\n"
                    + "        repeat: true\n"
                    + "        running: false\n"
                    + "        onTriggered: animator_" + n + ".nextFrame()\n"
                    + "    }\n"
                    + "    function nextFrame() {\n"
                    + "        if (!target || frameCount <= 0) { animTimer_" + n + ".stop(); return; }\n"
                    + "        if (currentFrame + 1 === frameCount) {\n"
                    + "            currentFrame = 0;\n"
                    + "            if (repeatCount + 1 === animator_" + n + ".repeat) animTimer_" + n + ".stop();\n"
                    + "            else repeatCount = repeatCount + 1;\n"
                    + "        } else {\n"
                    + "            currentFrame = currentFrame + 1;\n"
                    + "        }\n"
                    + "        target.changeFilename(frames[currentFrame]);\n"
                    + "    }\n"
                    + "    function loadImages(text) {\n"
                    + "        var parts = String(text).split(\",\");\n"
                    + "        var list = [];\n"
                    + "        for (var i = 0; i < parts.length; ++i) {\n"
                    + "            if (parts[i] !== \"\") list.push(parts[i]);\n"
                    + "        }\n"
                    + "        frames = list;\n"
                    + "        frameCount = list.length;\n"
                    + "        console.log(\"Anim pushed \" + frameCount + \" Files\");\n"
                    + "    }\n"
                    + "    function start() { animTimer_" + n + ".start(); }\n"
                    + "    function stop() { animTimer_" + n + ".stop(); }\n"
                    + "    Component.onCompleted: {\n"
                    + "        loadImages(" + qmlString(opts[2]) + ");\n"
                    + "        start();\n"
                    + "    }\n"
                    + "}\n";
            createObject(text, dynamicPNGAnimationLayer, "dynamicPNGAnimationSnippet" + n);
        }

        function stopPNGAnimation(p) {
            var children = dynamicPNGAnimationLayer.children;
            for (var i = 0; i < children.length; ++i) {
                if (children[i].objectName === p)
                    children[i].stop();
            }
        }

        // ---- Hit testing and input -------------------------------------------------------------

        function getEntitiesNameZFromPosition(x, y) {
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

        // The name of the hit at position z (0: topmost) after sorting by z, highest first; on
        // equal z the object drawn later (on top) comes first. Hits named exclude are skipped.
        function getTouchedEntitiyFromPosition(x, y, z, exclude) {
            var index = (z === undefined) ? 0 : z;
            var answers = getEntitiesNameZFromPosition(x, y);
            mayClickedEntityList = answers;
            var pairs = [];
            for (var i = 0; i < answers.length; ++i) {
                // The z is after the last separator; a name may hold anything.
                var cut = answers[i].lastIndexOf(";_;");
                pairs.push({ name: answers[i].substring(0, cut), z: Number(answers[i].substring(cut + 3)), order: i });
            }
            pairs.sort(function (a, b) { return (b.z - a.z) || (b.order - a.order); });
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

        function clickedEntityHandler(txt) {
            clickedEntity(txt);
        }

        function fingerDown(x, y, mb) {
            if (!canGoOn)
                return;
            if (helpSite.visible) {
                if (helpSite.touchCheckDown(x, y, mb))
                    skipAudio();
                else
                    console.log("Touching in Helpscreen but no button!");
                return;
            }
            console.log("[TOUCHER] Touching POS: " + x + "," + y);
            var name = getTouchedEntitiyFromPosition(x, y);
            console.log("[TOUCHER] Touching Ent: " + name);
            if (name === "ENTITY_SkipAudio") {
                console.log("skip");
                skipAudio();
                return;
            }
            if (!ignoreUInput) {
                clickedEntityHandler(name === undefined ? "" : name);
                fingerDownPos = [x, y];
                var ent = name === undefined ? undefined : getQMLEntityFromName(name);
                if (ent && ent.dragDrop === "true")
                    dragEnt = name;
            }
        }

        function fingerMove(x, y) {
            if (!canGoOn || ignoreUInput)
                return;
            if (dragEnt === undefined || fingerDownPos[0] === -1 || fingerDownPos[1] === -1)
                return;
            if (!dragging) {
                var dx = x - fingerDownPos[0];
                var dy = y - fingerDownPos[1];
                if (Math.sqrt(dx * dx + dy * dy) > 10) {
                    console.log("[TOUCHER] Dragging BEGIN");
                    dragging = true;
                }
            }
            if (dragging && mainview.width > 0 && mainview.height > 0) {
                var ent = getQMLEntityFromName(dragEnt);
                if (ent)
                    ent.dragToPos(x / mainview.width * 1600, y / mainview.height * 900);
            }
        }

        function fingerUp(x, y) {
            if (!canGoOn)
                return;
            console.log("MyIgnoreUInput: " + ignoreUInput);
            if (dragging) {
                console.log("[TOUCHER] Dragging END");
                // The dragged entity is under the finger itself; the drop target is what lies
                // below it, whatever the z order of the two.
                var target = getTouchedEntitiyFromPosition(x, y, 0, dragEnt);
                console.log("[TOUCHER] Drop: " + target);
                if (target !== undefined)
                    dropEntity(dragEnt, target);
            }
            dragging = false;
            dragEnt = undefined;
            fingerDownPos = [-1, -1];
        }

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
    }
}
