#pragma once
// Connects the camera registry to the application's login cycle: the registry is
// created at login step 5, tree rows are marked live by it, and every teardown
// closes all cameras first. Also keeps a stream's large buffers in mappings of their
// own (see memory_return.h). Call once at start-up.

namespace media {

void InstallApplicationHooks();

}  // namespace media
