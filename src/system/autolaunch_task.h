// Removal of the product family's auto-launch scheduled task, at every start, on the
// user-interface thread after COM has been initialised.
#pragma once

// Returns 1 when the deletion was attempted, 0 when an earlier step failed.
int RemoveAutoLaunchTask();
