// The program's front end: start-up, the command loop and its dispatcher.
#pragma once

#include <string>

#include "board/types.h"

inline constexpr const char* ENGINE_NAME = "Velmora 3.0";
#if defined(__AVX512F__) && defined(__AVX512BW__)
inline constexpr const char* BUILD_SUFFIX = " AVX512";
#elif defined(__AVX2__)
inline constexpr const char* BUILD_SUFFIX = " AVX2";
#else
inline constexpr const char* BUILD_SUFFIX = " generic";
#endif
inline constexpr const char* ENGINE_AUTHOR = "Tesserwick";
inline constexpr const char* DEFAULT_NET_FILE = "220321-307.nnue";

extern std::string netFileName;

// Set when the command line gave the one command to run: no search follows
// it, so nothing gains from faulting in the pages of a hash table early.
extern bool commandLineRun;

// Banner, tables, hash table, network, start position.
void startEngine();
// Runs one command line. Returns false when the command was "quit".
bool executeCommand(const std::string& line);
// Reads commands until "quit" or the end of input.
void commandLoop();
// Waits for the search threads and releases what start-up built.
void shutDownEngine();
