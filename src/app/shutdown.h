// The Shutdown sequence, run once when the main window is destroyed, and the two commands that
// stop and unregister the companion service. User-interface thread.
#pragma once

void RunShutdownSequence();

// Each returns 1 when its command's process was started, 0 when it was not.
int StopCompanionService();
int UnregisterCompanionService();
