#include <string>

#include "eval/nnue.h"
#include "platform/output.h"
#include "uci/engine.h"

// The default network, built into the executable: a GUI that starts the
// engine from any folder still finds it.
#ifdef VELMORA_EMBEDDED_NETWORK
#ifdef _WIN32
#define VELMORA_RODATA ".section .rdata,\"dr\"\n"
#else
#define VELMORA_RODATA ".section .rodata\n"
#endif
asm(VELMORA_RODATA
    ".balign 64\n"
    ".globl velmoraNetworkStart\n"
    "velmoraNetworkStart:\n"
    ".incbin \"" VELMORA_EMBEDDED_NETWORK "\"\n"
    ".globl velmoraNetworkEnd\n"
    "velmoraNetworkEnd:\n"
    ".text\n");
extern "C" const char velmoraNetworkStart[], velmoraNetworkEnd[];
#endif

int main(int argc, char** argv) {
    initOutput();
#ifdef VELMORA_EMBEDDED_NETWORK
    setEmbeddedNetwork(velmoraNetworkStart, size_t(velmoraNetworkEnd - velmoraNetworkStart), DEFAULT_NET_FILE);
#endif
    commandLineRun = argc > 1;
    startEngine();
    if (argc > 1) {
        // The arguments form one command, run once; standard input is not read.
        // Arguments that hold spaces themselves are whole command lines
        // (OpenBench: velmora "genfens 8 seed 1 book None " quit), run in turn.
        bool separate = false;
        for (int i = 1; i < argc; i++) separate |= std::string(argv[i]).find(' ') != std::string::npos;
        if (separate) {
            for (int i = 1; i < argc && executeCommand(argv[i]); i++) {
            }
        } else {
            std::string commandLine;
            for (int i = 1; i < argc; i++) commandLine += std::string(argv[i]) + " ";
            executeCommand(commandLine);
        }
    } else {
        commandLoop();
    }
    shutDownEngine();
    return 0;
}
