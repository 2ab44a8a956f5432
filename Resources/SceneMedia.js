// SPDX-License-Identifier: GPL-3.0-or-later
// Sounds and videos of the scene document (browser.qml), whose ids it uses. Whatever ends a
// sound or a video, the scene reports it once, so that a script waiting for it goes on.
.import "SceneValues.js" as Values

function beginAudio(params) {
    var whole = String(params);
    var file = whole.split(";_;")[0];
    var n = mainview.numAudioPlayer;
    mainview.numAudioPlayer = n + 1;
    var id = "audioplayer_" + n;
    console.log(id);
    if (file === "") {
        console.log("beginAudio without a file");
        mycanvas.returnFinishedAudioName(whole);
        return;
    }
    var player = mycanvas.makeObject(soundComponent, dynamicAudioLayer, {
        scene: mycanvas,
        objectName: "qmlaudioplayer-" + id,
        name: whole,
        source: Values.mediaUrl(file)
    });
    if (!player) {
        // A sound that cannot even be set up ends at once, so its script goes on.
        mycanvas.returnFinishedAudioName(whole);
        return;
    }
    var players = mainview.audioplayers;
    players.push(player);
    mainview.audioplayers = players;
    // Each player holds a decoder: a scene with many short sounds must not keep them all.
    player.ended.connect(function () { dropAudio(player); });
}

function dropAudio(player) {
    var players = mainview.audioplayers;
    var i = players.indexOf(player);
    // Not in the list: skipAudio() has taken it and destroys it itself.
    if (i < 0)
        return;
    players.splice(i, 1);
    mainview.audioplayers = players;
    player.destroy();
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

// A video over the whole scene.
function beginVideo(p) {
    var file = String(p).split(";_;")[0];
    if (file === "") {
        console.log("beginVideo without a file");
        mainview.finishedVideo();
        return;
    }
    var video = mycanvas.makeObject(videoComponent, dynamicVideoLayer, { scene: mycanvas, source: Values.fileUrl(file) });
    if (!video) {
        mainview.finishedVideo();
        return;
    }
    mycanvas.videoIsPlaying = true;
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

// p: keyword;_;entity[;_;file;_;repeat]. The keyword is play, stop, pause or setsource.
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
    var ent = mycanvas.getQMLEntityFromName(f[1]);
    if (!ent)
        return;
    if (keyword === "play") {
        mycanvas.videoIsPlaying = true;
        playEntityVideo(ent);
    } else if (keyword === "stop") {
        mycanvas.videoIsPlaying = false;
        if (ent.video)
            ent.video.stop();
        entityVideoDone(ent);
    } else if (keyword === "setsource") {
        var video = entityVideo(ent);
        if (!video)
            return;
        video.broken = false;
        video.source = Values.fileUrl(file);
        video.repeatsLeft = Values.toNumber(repeat, 0);
    } else if (keyword === "pause") {
        mycanvas.videoIsPlaying = false;
        if (ent.video)
            ent.video.pause();
    }
}

// ---- Entity videos ----------------------------------------------------------------------------
// Whatever ends an entity's video (its end, its failure once asked to play, a stop), the scene
// reports it, so that a script waiting for it goes on.

// The entity's video player, made when first asked for.
function entityVideo(ent) {
    if (!ent.video)
        ent.video = mycanvas.makeObject(entityVideoComponent, ent, { entity: ent });
    return ent.video;
}

function playEntityVideo(ent) {
    var video = entityVideo(ent);
    if (!video || video.broken) {
        entityVideoDone(ent);
        return;
    }
    video.wanted = true;
    video.visible = true;
    video.play();
}

function entityVideoDone(ent) {
    if (ent.video) {
        ent.video.wanted = false;
        ent.video.visible = false;
    }
    mycanvas.reportVideoEnd();
}

function entityVideoEnded(ent) {
    var video = ent.video;
    if (video.repeatsLeft === -1) {
        video.play();
        return;
    }
    if (video.repeatsLeft > 0) {
        video.repeatsLeft = video.repeatsLeft - 1;
        video.play();
        return;
    }
    entityVideoDone(ent);
}

// A video that cannot play ends like a finished one once it is asked to play.
function entityVideoFailed(ent) {
    var video = ent.video;
    if (video.broken)
        return;
    video.broken = true;
    console.log("Entity video ERROR: " + video.errorString);
    if (video.wanted)
        entityVideoDone(ent);
}
