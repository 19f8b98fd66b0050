#include "train/arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace {

[[noreturn]] void reject(const std::string& option, const std::string& text, const std::string& low,
                         const std::string& high) {
    std::cerr << option << ": '" << text << "' is not a number from " << low << " to " << high << "\n";
    std::exit(2);
}

std::string shortest(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", x);
    return text;
}

}  // namespace

double realArgument(const std::string& option, const std::string& text, double low, double high) {
    char* end = nullptr;
    const double x = std::strtod(text.c_str(), &end);
    // The negated test also turns away NaN.
    if (end == text.c_str() || *end || !(x >= low && x <= high))
        reject(option, text, shortest(low), shortest(high));
    return x;
}

long long wholeArgument(const std::string& option, const std::string& text, long long low, long long high) {
    char* end = nullptr;
    errno = 0;
    long long n = std::strtoll(text.c_str(), &end, 10);
    bool whole = true;
    if (end != text.c_str() && (*end == 'e' || *end == 'E' || *end == '.')) {
        // "5e6" is a fine way to write a sample count; "1.5" is still no count.
        const double x = std::strtod(text.c_str(), &end);
        whole = x == std::floor(x) && std::fabs(x) < 9e18;
        if (whole) n = static_cast<long long>(x);
    }
    if (end == text.c_str() || *end || !whole || errno == ERANGE || n < low || n > high)
        reject(option, text, std::to_string(low), std::to_string(high));
    return n;
}
