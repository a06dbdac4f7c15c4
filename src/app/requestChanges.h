#pragma once

class TfrmMain;

// Keeps the window's list in step with the computers that requests of the command line, handed to the
// window, add (shown and checked, as the wizard's) and delete.
void FollowRequestChanges(TfrmMain& window);
