// The main window's object tree filled from an engine, measured without a display (the
// offscreen platform): the program's own window, its own fill.
#pragma once

#include <vector>

class CSQLServer;

// Seconds of each of `repeat` fills of a fresh window's tree from `engine` (the window makes
// the engine current, so it keeps it for the rest of the process); empty when the window
// could not be made.
std::vector<double> TimeWindowTreeFill(CSQLServer* engine, int repeat);
