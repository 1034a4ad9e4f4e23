#pragma once
// Runs a blocking call (a TCP connect, an ICMP probe) on a worker thread while the calling UI
// thread waits in a nested event loop that keeps painting and running queued calls but holds
// back the user's clicks and keys until the call is over.
#include <functional>

// Runs work and returns when it has finished; an exception thrown by work is rethrown here.
// Without an application object, or off its main thread, work simply runs on the caller.
void runWithoutUserInput(const std::function<void()>& work);
