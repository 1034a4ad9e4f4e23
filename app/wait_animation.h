#pragma once
// The wait dialog's animation, drawn in code: a PC on the left joined by a cable to a
// receiver with its remote control on the right. In the first half of the cycle lines of
// text fill the PC's screen; in the second a red block travels along the cable to the
// receiver while the screen empties. 14 frames of 50 ms, repeated without end.
#include <QImage>

inline constexpr int kWaitFrameCount = 14;
inline constexpr int kWaitFrameMs = 50;
inline constexpr int kWaitFrameWidth = 192;
inline constexpr int kWaitFrameHeight = 37;

// Frame index modulo kWaitFrameCount; transparent background.
QImage renderWaitFrame(int frame);

// How many text lines the PC's screen shows in a frame, and where the red block is along
// the cable (-1 = not on the cable). Exposed so the picture's story can be tested.
int waitFrameScreenLines(int frame);
int waitFrameBlockX(int frame);
