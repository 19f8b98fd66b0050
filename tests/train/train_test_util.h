// The data generator as a child process, for the training-pipeline tests.
#pragma once

#include <string>
#include <vector>

#include "test_util.h"
#include "train/record.h"

// Runs the generator (one worker, hand-written evaluation, seed 7, small
// node budgets) with the extra arguments; with stopAfterFirstGame, SIGTERM
// once it has written a game. Returns its exit status.
int datagen(const std::string& out, const std::vector<std::string>& extra, bool stopAfterFirstGame = false);
