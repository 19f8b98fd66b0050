// Numbers on the training tools' command lines. A text that is not wholly a
// number inside the option's range ends the program (exit status 2) with a
// message naming the option: a typo must never start an hour-long job that
// quietly runs with zero.
#pragma once

#include <string>

double realArgument(const std::string& option, const std::string& text, double low, double high);
long long wholeArgument(const std::string& option, const std::string& text, long long low, long long high);
