#include "platform/paths.h"

#include <cstdlib>

std::string defaultPerftFile() {
#ifdef _WIN32
    return "D:\\Chess\\Div\\perftFRC.txt";
#else
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/Chess/Div/perftFRC.txt";
#endif
}
