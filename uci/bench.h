// The "bench" command: a fixed list of positions, each searched to a fixed
// depth with one thread and a fresh 16 MB hash table, through the normal
// position and go commands. The total node count is deterministic and serves
// as the search's signature; the last lines give it and the speed, the very
// last as "N nodes N nps".
#pragma once

#include <sstream>

void benchCommand(std::istringstream& words);
