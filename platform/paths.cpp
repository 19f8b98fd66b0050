#include "platform/paths.h"

#include <cstdlib>

std::string defaultPerftFile() {
#ifdef _WIN32
    return "D:\\Chess\\Div\\perftFRC.txt";
#else
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/Chess/Div/perftFRC.txt";
#endif
}

#ifdef _WIN32
#include <windows.h>

std::string executableDirectory() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n == MAX_PATH) return "";
    std::string p(path, n);
    const size_t slash = p.find_last_of("\\/");
    return slash == std::string::npos ? "" : p.substr(0, slash + 1);
}
#else
#include <unistd.h>

std::string executableDirectory() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    std::string p(path, size_t(n));
    const size_t slash = p.find_last_of('/');
    return slash == std::string::npos ? "" : p.substr(0, slash + 1);
}
#endif
