// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLatin1String>

// The names of the script commands that actions send through gsSendEvent and the project's
// router handles. Each name is written here once; senders and the router both use these.
#define KEST_COMMANDS(X)                                                                                               \
    X(GotoSubProject, "gotoSubProject")                                                                                \
    X(MoveEntity, "moveEntity")                                                                                        \
    X(ChangeEntity, "changeEntity")                                                                                    \
    X(SendMail, "sendMail")                                                                                            \
    X(ChangeProject, "ChangeProject")                                                                                  \
    X(Exit, "Exit")                                                                                                    \
    X(CallProcedure, "callProcedure")                                                                                  \
    X(WglAnimate, "wglanimate")                                                                                        \
    X(WglStartPause, "wglstartpause")                                                                                  \
    X(WglEndPause, "wglendpause")                                                                                      \
    X(PlayVideo, "playvideo")                                                                                          \
    X(PlayAudio, "playaudio")                                                                                          \
    X(StopMedia, "stopMedia")                                                                                          \
    X(StopSpecificMedia, "stopSpecificMedia")                                                                          \
    X(PngAnimate, "pngAnimate")                                                                                        \
    X(StopPngAnimation, "stopPNGAnimation")                                                                            \
    X(ShufflePosition, "shufflePosition")                                                                              \
    X(ChangeBackgroundColor, "changeBackgroundColor")                                                                  \
    X(CreateBubble, "createBubble")                                                                                    \
    X(ActivateImageBorder, "activateimageborder")                                                                      \
    X(CreateTextEntity, "createTextEntity")                                                                            \
    X(ShowTextfile, "showTextfile")                                                                                    \
    X(IgnoreUserinput, "ignoreUserinput")                                                                              \
    X(VideoPlayer, "videoplayer")                                                                                      \
    X(VideoPlayerAction, "videoplayeraction")                                                                          \
    X(RestoreEntityPos, "restoreEntityPos")                                                                            \
    X(CreateWebkit, "createWebkit")

namespace kestCommand {

#define KEST_COMMAND_NAME(id, text) inline const QLatin1String id(text);
KEST_COMMANDS(KEST_COMMAND_NAME)
#undef KEST_COMMAND_NAME

// Every command name above, in table order.
#define KEST_COMMAND_ENTRY(id, text) QLatin1String(text),
inline const QLatin1String All[] = { KEST_COMMANDS(KEST_COMMAND_ENTRY) };
#undef KEST_COMMAND_ENTRY

} // namespace kestCommand
