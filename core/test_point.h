// Named points in the driver where a test steps in to force one interleaving of threads or
// processes (a change delivered between two steps, a second process inside a hand-over). Without
// a hook, as in every real run, a point costs one atomic load.
#pragma once

using TestPointHook = void (*)(const char* point);

// Installs the hook (null removes it); it is called on whatever thread reaches a point.
void SetTestPointHook(TestPointHook hook);
void TestPoint(const char* point);
