// Restarting Windows after the installation, when the user asks for it.
#pragma once

// Returns 1 when the restart was requested, 0 otherwise.
int RestartWindows();
