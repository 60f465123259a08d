// For programs that open the native dialog on purpose (its window test, the screenshot tool):
// their windows go on a desktop of their own, so that they never show on the user's desktop and
// the desktop is set up with the program's display whatever became of the default one. A process
// takes its display from its first desktop, so the program starts itself again there.
#pragma once

// In the first run: starts the program again on a new desktop, waits for it and returns its exit
// status (1 when that cannot be done). In the run on the new desktop: -1, go on.
int RunAgainOnOwnDesktop();
