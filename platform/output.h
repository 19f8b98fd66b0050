// Console output. Every reply line is written in one call and flushed, so
// lines from the search threads and the command loop never interleave.
#pragma once

#include <cstdio>
#include <string>

// Writes text + "\n" and flushes.
void say(const std::string& text);
// Writes the text as it is, without a flush (multi-line reports).
void write(const std::string& text);
void flushOutput();
// Line-buffered standard output with a 4096-byte buffer.
void initOutput();
// Sends all output to another stream (tests); nullptr restores stdout.
void setOutputStream(FILE* stream);
