// Where developer files live by default.
#pragma once

#include <string>

// The perft check file read by "rtest" and "rtestRFC" when no path is given:
// D:\Chess\Div\perftFRC.txt on Windows, $HOME/Chess/Div/perftFRC.txt elsewhere.
std::string defaultPerftFile();

// Directory of the running executable, with a trailing separator (empty
// when it cannot be found).
std::string executableDirectory();
