// The scene of the browser screenshot tools: what a running driver offers a browse, set up
// without the worker, so that the dialog shows the demo network.
#pragma once

#include <functional>

// Writes the option file in a working directory of its own, creates the shared block with the
// delimiter and a host client, opens the demo network, runs `showDialog` and takes all of it
// down again. Returns what `showDialog` returned, or -1 when the scene could not be set up.
int WithBrowseScene(const std::function<int()>& showDialog);

// Sends the browse command of instance 1; the dialog's hook does the rest.
void SendBrowse();
