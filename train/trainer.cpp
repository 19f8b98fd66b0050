// velmora_train: trains the float twin of the engine's network on training
// records and exports it to the engine's network file.
//
//   velmora_train train --data PATH... --out DIR [options]
//   velmora_train export --model FILE --out NET [--data PATH...]
//   velmora_train import --net NET --out FILE
//   velmora_train eval --data PATH... (--net NET | --model FILE)
//   velmora_train average --model FILE FILE... --out FILE
//
// Training keeps every record in memory, holds out whole games for
// validation, shuffles every epoch and runs AdamW with a cosine learning
// rate. The sparse transformer is handled row by row: the forward pass
// gathers the active rows, the backward pass scatters into their gradient
// rows (threads split the 256 columns, so no thread keeps its own copy of the
// 50 MB gradient) and only the rows touched by a batch are updated. After
// every epoch DIR/checkpoint.bin (weights and optimiser state) and
// DIR/epoch-N.nnue are written; a run started again with the same DIR
// resumes from the checkpoint.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "train/arguments.h"
#include "train/engine_setup.h"
#include "train/model.h"
#include "train/training.h"

namespace {

[[noreturn]] void usage() {
    std::cerr << "usage: velmora_train train --data PATH... --out DIR [--epochs N] [--batch N] [--lr X]\n"
                 "           [--lr-end X] [--wdl X] [--scale K] [--threads N] [--validation X] [--seed N]\n"
                 "           [--init MODEL] [--weight-decay X] [--max-samples N] [--no-king-rows | --king-buckets]\n"
                 "           [--quant-aware] [--mirror]\n"
                 "       velmora_train export --model FILE --out NET [--data PATH...]\n"
                 "       velmora_train import --net NET --out FILE\n"
                 "       velmora_train eval --data PATH... (--net NET | --model FILE) [--wdl X] [--scale K]\n"
                 "           [--threads N]\n"
                 "       velmora_train average --model FILE FILE... --out FILE\n"
                 "PATH is a record file or a directory of *.bin record files.\n";
    std::exit(2);
}

bool importOrComplain(const std::string& net, FloatModel& m) {
    std::string error;
    if (importNetwork(net, m, &error)) return true;
    std::cerr << "cannot read network " << net << ": " << error << "\n";
    return false;
}

bool loadModelOrComplain(const std::string& path, FloatModel& m) {
    if (loadFloats(path, {&m.p}, nullptr, nullptr)) return true;
    std::cerr << "cannot read model " << path << "\n";
    return false;
}

bool saveModelOrComplain(const std::string& path, const FloatModel& m) {
    if (saveFloats(path, {&m.p}, 0, 0)) return true;
    std::cerr << "cannot write " << path << "\n";
    return false;
}

struct Args {
    std::string command;
    TrainConfig config;
    std::vector<std::string> models;
    std::string net;
};

Args parseArgs(int argc, char** argv) {
    if (argc < 2) usage();
    Args a;
    a.command = argv[1];
    TrainConfig& c = a.config;
    for (int i = 2; i < argc; i++) {
        const std::string k = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        auto real = [&]() { return realArgument(k, value(), 0, 1e18); };
        auto whole = [&](long long high = INT_MAX) { return wholeArgument(k, value(), 0, high); };
        auto values = [&](std::vector<std::string>& list) {
            list.push_back(value());
            while (i + 1 < argc && argv[i + 1][0] != '-') list.push_back(argv[++i]);
        };
        if (k == "--data") values(c.data);
        else if (k == "--out") c.out = value();
        else if (k == "--model") values(a.models);
        else if (k == "--net") a.net = value();
        else if (k == "--epochs") c.epochs = int(whole());
        else if (k == "--batch") c.batch = int(whole());
        else if (k == "--lr") c.lr = real();
        else if (k == "--lr-end") c.lrEnd = real();
        else if (k == "--wdl") c.wdl = real();
        else if (k == "--scale") c.scale = real();
        else if (k == "--threads") c.threads = int(whole());
        else if (k == "--validation") c.validation = real();
        else if (k == "--seed") c.seed = u64(whole(LLONG_MAX));
        else if (k == "--init") c.init = value();
        else if (k == "--weight-decay") c.weightDecay = real();
        else if (k == "--max-samples") c.maxSamples = whole(LLONG_MAX);
        else if (k == "--no-king-rows") c.kingRows = false;
        else if (k == "--king-buckets") c.kingBuckets = true;
        else if (k == "--quant-aware") c.quantAware = true;
        else if (k == "--mirror") c.mirror = true;
        else usage();
    }
    if ((c.out.empty() && a.command != "eval") || c.batch < 1 || c.threads < 1 || c.epochs < 0) usage();
    if (a.models.size() > 1 && a.command != "average") usage();
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    const Args a = parseArgs(argc, argv);
    if (a.command == "train") {
        if (a.config.data.empty()) usage();
        return runTraining(a.config, std::cerr) ? 0 : 1;
    }
    if (a.command == "export") {
        if (a.models.empty()) usage();
        FloatModel m;
        if (!loadModelOrComplain(a.models[0], m)) return 1;
        std::vector<TrainingRecord> records;
        for (const std::string& path : a.config.data) loadRecordPath(path, records, std::cerr);
        if (records.size() > 20000) records.resize(20000);
        return exportNetwork(m, a.config.out, records, std::cerr) ? 0 : 1;
    }
    if (a.command == "import") {
        // A network file back into a model, to train on from it (--init).
        if (a.net.empty()) usage();
        FloatModel m;
        if (!importOrComplain(a.net, m)) return 1;
        if (!saveModelOrComplain(a.config.out, m)) return 1;
        std::cerr << "imported " << a.net << " into " << a.config.out << "\n";
        return 0;
    }
    if (a.command == "average") {
        // Fine-tunes of one model on different data stay close to it, so
        // their mean is a model in its own right, worth a held-out check.
        if (a.models.size() < 2) usage();
        FloatModel m;
        std::string error;
        if (!averageModelFiles(a.models, m, &error)) {
            std::cerr << error << "\n";
            return 1;
        }
        if (!saveModelOrComplain(a.config.out, m)) return 1;
        std::cerr << "averaged " << a.models.size() << " models into " << a.config.out << "\n";
        return 0;
    }
    if (a.command == "eval") {
        // The loss of a network or model on records nobody trained on: the
        // fair way to compare generations, whose held-out games differ.
        const TrainConfig& c = a.config;
        if (c.data.empty() || a.net.empty() == a.models.empty()) usage();
        FloatModel m;
        if (!a.net.empty()) {
            if (!importOrComplain(a.net, m)) return 1;
            setQuantAware(m, true);  // the integer network the engine runs
        } else if (!loadModelOrComplain(a.models[0], m)) {
            return 1;
        }
        std::vector<TrainingRecord> records;
        for (const std::string& path : c.data)
            if (!loadRecordPath(path, records, std::cerr)) return 1;
        if (records.empty()) {
            std::cerr << "no records\n";
            return 1;
        }
        const double scale = c.scale > 0 ? c.scale : fitScale(records);
        std::printf("loss %.6f over %zu positions (sigmoid scale %.1f cp, result weight %.2f)\n",
                    validationLoss(m, records, scale, c.wdl, c.threads), records.size(), scale, c.wdl);
        return 0;
    }
    usage();
}
