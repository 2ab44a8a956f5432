// SPDX-License-Identifier: GPL-3.0-or-later
// A sound of the scene: plays from its creation and reports its name to the scene exactly once,
// whatever ends it (its end, an error, a skip), so that a script waiting for it goes on.
import QtQuick 2.12
import QtMultimedia 5.12

Audio {
    id: player

    property Item scene: null
    property bool active: true
    property bool isPlaying: true
    property bool reported: false
    // The whole argument of beginAudio: the scripts wait for exactly this text.
    property string name: ""

    // The sound has ended by itself (its end or an error): the scene gives the player back.
    signal ended()

    autoPlay: true
    muted: scene ? scene.audioMuted : false

    Component.onCompleted: {
        console.log("Created a Audioplayer with id: " + objectName);
        console.log(objectName + " has file: " + name);
    }

    function report() {
        if (reported)
            return;
        reported = true;
        if (scene)
            scene.returnFinishedAudioName(name);
    }
    function skipAudio() {
        console.log("[ACTIVE]" + name + " : " + active);
        if (active) {
            console.log("SkipAudio");
            stopPlayer();
        }
    }
    function stopPlayer() {
        console.log("Audio player STOP!!!");
        stop();
        isPlaying = false;
        report();
    }

    onStopped: {
        console.log("onStopped!");
        if (status === Audio.EndOfMedia) {
            console.log("Audio player Finished!!!");
            report();
            isPlaying = false;
            active = false;
            ended();
            return;
        }
        active = false;
    }
    onError: {
        console.log("Audio player ERROR!!!");
        report();
        isPlaying = false;
        active = false;
        ended();
    }
}
