#pragma once
// Thread priorities. Work the user does not watch directly (task workers, decoding)
// runs below normal, so that the user-interface thread and the display server it
// talks to get the processor first when there is not enough of it for everything.

namespace platform {

// Puts the calling thread below normal priority (Windows' THREAD_PRIORITY_BELOW_NORMAL;
// on Linux a nice value of 5 for this thread alone). False when the system refused.
bool SetCurrentThreadBelowNormal();

}  // namespace platform
