#include <string>

#include "platform/output.h"
#include "uci/engine.h"

int main(int argc, char** argv) {
    initOutput();
    startEngine();
    if (argc > 1) {
        // The arguments form one command, run once; standard input is not read.
        std::string line;
        for (int i = 1; i < argc; i++) line += std::string(argv[i]) + " ";
        executeCommand(line);
    } else {
        commandLoop();
    }
    shutDownEngine();
    return 0;
}
