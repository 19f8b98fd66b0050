// Helpers of the training-pipeline tests: a temporary directory and the
// data generator run as a child process with small searches.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "train/record.h"

struct TempDir {
    std::filesystem::path path;
    TempDir();
    ~TempDir();
    std::string operator/(const std::string& leaf) const { return (path / leaf).string(); }
};

std::string fileBytes(const std::string& path);
// Runs the generator (one worker, hand-written evaluation, seed 7, small
// node budgets) with the extra arguments; SIGTERM after killAfterMs when
// given. Returns its exit status.
int datagen(const std::string& out, const std::vector<std::string>& extra, int killAfterMs = 0);
std::vector<TrainingRecord> records(const std::string& path);
