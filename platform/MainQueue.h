#pragma once

#include <functional>

// The main thread's queue: work submitted from any thread runs on the thread of the
// application object, in submission order.

// Makes the queue on the main thread: needed only where other threads may submit work before the
// application object exists (it makes the queue as it starts). Work submitted that early waits
// until the application's event loop runs.
void prepareMainQueue();

// Runs `work` on the main thread and waits for it. Must not be called on the main thread.
void runOnMainSync(std::function<void()> work);

// Queues `work` on the main thread and returns at once.
void runOnMainAsync(std::function<void()> work);

// Queues `work` on the main thread to run `delayMs` milliseconds from now.
void runOnMainAfter(int delayMs, std::function<void()> work);
