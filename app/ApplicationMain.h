#pragma once

// Runs the installer application: its window, its controller and the event loop. Returns the
// event loop's exit code.
int applicationMain(int argc, char **argv);
