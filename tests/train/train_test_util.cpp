#include "train/train_test_util.h"

#include <csignal>
#include <filesystem>
#include <unistd.h>

int datagen(const std::string& out, const std::vector<std::string>& extra, bool stopAfterFirstGame) {
    std::vector<std::string> args = {VELMORA_DATAGEN, "--out", out, "--workers", "1", "--hce", "--seed", "7",
                                     "--soft-nodes", "300", "--hard-nodes", "1200", "--depth-floor", "2"};
    args.insert(args.end(), extra.begin(), extra.end());
    // Stopped once a first game is written (however slow the build), so
    // that the signal lands in the middle of a later game.
    auto stop = [&](pid_t pid) {
        const std::string state = out + "/part-0.state";
        for (int waited = 0; waited < 300000 && !std::filesystem::exists(state); waited += 20) usleep(20000);
        usleep(200000);
        kill(pid, SIGTERM);
    };
    return runProgram(args, "", "/dev/null", stopAfterFirstGame ? std::function<void(pid_t)>(stop) : nullptr);
}

