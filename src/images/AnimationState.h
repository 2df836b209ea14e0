// AnimationState: what the animation of a picture needs beside its frames.
#pragma once

#include <atomic>
#include <memory>

#include "WorkerThread.h"
#include "platform/win32.h"

class Picture;

struct AnimationState {
    std::unique_ptr<WorkerThread> thread; // null until the GIF decoder starts it
    DWORD background = 0;                 // the pixel the picture was filled with
    int needsSaveBuffer = 0;              // a frame has disposal 3
    std::atomic<int> playing{0};          // frames are drawn (never set in this system)
    std::atomic<int> frameDue{0};         // the current frame must be drawn
    void (*afterFrame)(Picture *) = nullptr;

    void Reset() {
        // The thread is stopped before anything it reads changes.
        if (thread)
            thread->Stop();
        thread.reset();
        background = 0;
        needsSaveBuffer = playing = frameDue = 0;
        afterFrame = nullptr;
    }
};
