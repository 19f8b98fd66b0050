#include "platform/output.h"

#include <cstdio>

namespace {
FILE* sink = stdout;
}

void setOutputStream(FILE* stream) { sink = stream ? stream : stdout; }

void say(const std::string& text) {
    std::string line = text;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), sink);
    std::fflush(sink);
}

void write(const std::string& text) { std::fwrite(text.data(), 1, text.size(), sink); }

void flushOutput() { std::fflush(sink); }

void initOutput() {
    static char buffer[4096];
    std::setvbuf(stdout, buffer, _IOLBF, sizeof buffer);
}
