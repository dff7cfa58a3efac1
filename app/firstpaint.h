#ifndef FIRSTPAINT_H
#define FIRSTPAINT_H

#include <functional>

class QWidget;

// Runs `then` once, on `window`'s thread, after `window` has painted its
// first frame: queued behind the paint, so the frame is complete and shown
// first. Never runs when the window is destroyed unpainted.
void afterFirstPaint(QWidget *window, std::function<void()> then);

#endif
