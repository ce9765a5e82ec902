#pragma once

// The show: the fixed sequence of scenes, from loading the music to the closing logo.
// Returns false when the show had to end early (a data file that never became ready, a picture it cannot use);
// the reason has been written to stderr.
bool RunDemoScript();
