// Writes network files:
//   make_network bootstrap OUT            the material and piece-square network
//   make_network random SEED OUT [RANGE]  random parameters (tests, benchmarks)
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "eval/netbuild.h"

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    auto net = std::make_unique<NetworkParameters>();
    std::string out, description;
    if (mode == "bootstrap" && argc == 3) {
        buildBootstrapNetwork(*net);
        out = argv[2];
        description = "Velmora bootstrap network: material and piece-square balance";
    } else if (mode == "random" && (argc == 4 || argc == 5)) {
        buildRandomNetwork(*net, std::strtoull(argv[2], nullptr, 10), argc == 5 ? std::atoi(argv[4]) : 32);
        out = argv[3];
        description = std::string("Velmora random network, seed ") + argv[2];
    } else {
        std::fprintf(stderr, "usage: make_network bootstrap OUT | make_network random SEED OUT [RANGE]\n");
        return 2;
    }
    std::ofstream file(out, std::ios::binary);
    writeNetwork(file, *net, description);
    if (!file.flush()) {
        std::fprintf(stderr, "make_network: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
