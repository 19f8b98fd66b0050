// The "hashstats" report on the contents of the transposition table.
#pragma once

void printHashStatistics();
