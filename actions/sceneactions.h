// SPDX-License-Identifier: GPL-3.0-or-later
// Actions that change the scene: each joins its arguments into one payload and sends it as a
// command, which the application applies on the GUI thread after the action has returned.
#pragma once

#include "kestobject.h"

class QEventLoop;

// The common part of the scene actions: commands go queued to the application.
class kestSceneAction : public kestObject
{
    Q_OBJECT
public:
    kestSceneAction();

protected:
    // Arguments 0 .. count-1 joined by ";_;".
    QString joinedArguments(int count) const;
    void send(const QLatin1String &command, const QString &payload);
};

// Entity, x, y, z and a fifth field: moves an entity in the scene.
class MoveEntity : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// Entity, attribute, value: changes one attribute of an entity; an empty value sends nothing.
class ChangeEntity : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// "p0;p1;...": pairs every position with another one along one random cycle through all of them,
// so that with two or more positions no entity keeps its place.
class ShufflePosition : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// Entity: puts a dragged entity back where it was. Runs in a stopped script too.
class RestoreEntityPos : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// Colour: the scene's background colour.
class ChangeBackground : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

class CreateBubble : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// Picture path, or "space": the scene's border picture.
class ActivateImageBorder : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// Six fields of a text entity.
class TextEntity : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// "true" or "false": whether the scene ignores the learner's input.
class IgnoreUserinput : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// Entity, animation name, frame list file, and the repeat count ("-1" when not given).
class PngAnimate : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// Animation name: stops a frame animation.
class StopPngAnimation : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// Two values (variables resolved), sent joined by ":". Runs in a stopped script too.
class WGLAnimation : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// Sends its command without payload, also in a stopped script; the player has no handler for it.
class CreateWebkit : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// Title and text file (or just the file): shows the help page with the file's text.
class ShowTextfile : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// Video file and a second field: plays a video over the scene.
class PlayVideo : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// Three fields: creates a video player entity.
class VideoPlayer : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};

// Keyword, player, and optionally file and repeat count: controls a video player. The keyword
// "waittillfinished" sends nothing and blocks the script until the video has finished or the
// script is stopped.
class VideoPlayerAction : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;

public slots:
    // Ends the wait for the video.
    void qmlVideoStop();

private:
    QEventLoop *m_loop = nullptr; // the running wait's loop, on execute()'s stack
};

// Media name: pauses or resumes that player ("audioplayer": stops the sounds).
class StopMedia : public kestSceneAction
{
    Q_OBJECT
public:
    QString execute() override;
};
