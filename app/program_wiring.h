#pragma once
// The program's composition root: what each layer asks of the layers above it is
// built here, from the application object, the control client and the camera
// registry, and installed once at start-up. The layers below never reach up.

#include "app/program.h"
#include "mainwin/main_win_environment.h"
#include "media/camera_environment.h"
#include "wall/video_panel_mng.h"

namespace app {

// Installs the camera registry into every login cycle (created at login step 5,
// tree rows marked live by it, every teardown closes all cameras first), the
// environments of new cameras and walls, and keeps a stream's large buffers in
// mappings of their own. Call once at start-up, before any camera.
void InstallProgramWiring();

// What a camera of the program reaches: the application object, the control client
// of the running login cycle and the recording settings in force.
media::CameraEnvironment ProgramCameraEnvironment();
// What the wall reaches: the camera registry, the reconnection table, the primary screen.
wall::WallEnvironment ProgramWallEnvironment();
// What the main window reaches: task threads, control client, item table, desktop.
mainwin::MainWinEnvironment ProgramMainWinEnvironment();

// The outer loop as the real program runs it: a fresh control client per login, the
// application object with every task handler, the login window with the real login
// sequence, and the main window.
ProgramHooks ApplicationProgramHooks();

}  // namespace app
