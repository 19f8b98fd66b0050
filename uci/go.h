// The "go" command: reads the limits, budgets the time, hands the root
// position to every search thread and wakes the boss. Returns at once.
#pragma once

#include <sstream>

void goCommand(std::istringstream& words);
