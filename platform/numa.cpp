#include "platform/numa.h"

int numaNodeOption = 0;

int nodeForThread(const ProcessorCensus& census, int index) {
    if (census.nodes <= 0 || index < 0) return -1;
    const int perNode = census.cores / census.nodes;
    const int spread = perNode * census.nodes;  // one thread per core, node after node
    if (index < spread) return index / perNode;
    const int extra = census.logical - census.cores;  // second hardware threads
    if (index - spread < extra) return (index - spread) % census.nodes;
    return -1;
}

#ifdef _WIN32
#include <windows.h>

#include <vector>

namespace {

template <typename F>
F lookUp(const char* name) {
    HMODULE kernel = GetModuleHandleA("Kernel32.dll");
    return kernel ? reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, name))) : nullptr;
}

// Counts node and core records; a core with two hardware threads counts
// twice towards the logical processors. nodes == 0 when the query fails.
ProcessorCensus takeCensus() {
    ProcessorCensus census;
    using InfoFn = BOOL(WINAPI*)(LOGICAL_PROCESSOR_RELATIONSHIP, PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, PDWORD);
    auto info = lookUp<InfoFn>("GetLogicalProcessorInformationEx");
    if (!info) return census;
    DWORD length = 0;
    if (info(RelationAll, nullptr, &length)) return census;
    std::vector<char> buffer(length);
    auto* records = reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer.data());
    if (!info(RelationAll, records, &length)) return census;
    for (DWORD offset = 0; offset < length;) {
        auto* r = reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer.data() + offset);
        if (r->Size == 0) break;  // a broken record would loop for ever
        if (r->Relationship == RelationNumaNode) census.nodes++;
        if (r->Relationship == RelationProcessorCore) {
            census.cores++;
            census.logical += r->Processor.Flags == LTP_PC_SMT ? 2 : 1;
        }
        offset += r->Size;
    }
    return census;
}

}  // namespace

int nodeForThread(int index) { return nodeForThread(takeCensus(), index); }

void bindThisThread(int index) {
    const int node = numaNodeOption == 0 ? nodeForThread(index) : numaNodeOption - 1;
    if (node < 0) return;
    using MaskFn = BOOL(WINAPI*)(USHORT, PGROUP_AFFINITY);
    using AffinityFn = BOOL(WINAPI*)(HANDLE, const GROUP_AFFINITY*, PGROUP_AFFINITY);
    auto mask = lookUp<MaskFn>("GetNumaNodeProcessorMaskEx");
    auto affinity = lookUp<AffinityFn>("SetThreadGroupAffinity");
    if (!mask || !affinity) return;
    GROUP_AFFINITY group;
    if (mask(USHORT(node), &group)) affinity(GetCurrentThread(), &group, nullptr);
}

#else
#include <dirent.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace {

// CPU numbers above this are taken for a corrupt file rather than a machine.
constexpr int MAX_CPU = 1 << 16;

bool readText(const std::string& path, std::string& text) {
    std::ifstream in(path);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return !in.bad();
}

bool readNumber(const std::string& text, size_t& at, int& value) {
    const size_t start = at;
    long v = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && v <= MAX_CPU) v = v * 10 + (text[at++] - '0');
    if (at == start || v > MAX_CPU) return false;
    value = int(v);
    return true;
}

const char* const MACHINE_ROOT = "/sys/devices/system";

}  // namespace

bool parseCpuList(const std::string& text, std::vector<int>& cpus) {
    cpus.clear();
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == ' ')) end--;
    const std::string list = text.substr(0, end);
    if (list.empty()) return true;  // a node without processors
    for (size_t at = 0;;) {
        int first, last;
        if (!readNumber(list, at, first)) return false;
        last = first;
        if (at < list.size() && list[at] == '-') {
            at++;
            if (!readNumber(list, at, last) || last < first) return false;
        }
        for (int cpu = first; cpu <= last; cpu++) cpus.push_back(cpu);
        if (at == list.size()) break;
        if (list[at++] != ',') return false;
    }
    std::sort(cpus.begin(), cpus.end());
    cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());
    return true;
}

bool readLinuxMachine(const std::string& root, LinuxMachine& machine) {
    machine = LinuxMachine{};
    DIR* dir = opendir((root + "/node").c_str());
    if (!dir) return false;
    std::vector<int> nodeNumbers;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        size_t at = 4;
        int number;
        if (name.rfind("node", 0) == 0 && readNumber(name, at, number) && at == name.size())
            nodeNumbers.push_back(number);
    }
    closedir(dir);
    std::sort(nodeNumbers.begin(), nodeNumbers.end());

    LinuxMachine m;
    std::set<int> seen;
    for (int node : nodeNumbers) {
        std::string text;
        std::vector<int> cpus;
        if (!readText(root + "/node/node" + std::to_string(node) + "/cpulist", text) || !parseCpuList(text, cpus))
            return false;
        if (cpus.empty()) continue;
        for (int cpu : cpus)
            if (!seen.insert(cpu).second) return false;  // one CPU in two nodes
        m.nodeCpus.push_back(cpus);
    }
    if (m.nodeCpus.empty()) return false;

    // A core is one set of hardware-thread siblings; every CPU of the core
    // lists the same set, so the core is counted at its lowest online CPU.
    for (const std::vector<int>& cpus : m.nodeCpus)
        for (int cpu : cpus) {
            const std::string topology = root + "/cpu/cpu" + std::to_string(cpu) + "/topology/";
            std::string text;
            std::vector<int> siblings;
            if (!readText(topology + "thread_siblings_list", text) && !readText(topology + "core_cpus_list", text))
                return false;
            if (!parseCpuList(text, siblings) || std::find(siblings.begin(), siblings.end(), cpu) == siblings.end())
                return false;
            m.census.logical++;
            int lowestOnline = cpu;  // siblings are sorted
            for (int s : siblings)
                if (seen.count(s)) {
                    lowestOnline = s;
                    break;
                }
            if (lowestOnline == cpu) m.census.cores++;
        }
    m.census.nodes = int(m.nodeCpus.size());
    machine = std::move(m);
    return true;
}

int nodeForThread(int index) {
    LinuxMachine machine;
    return readLinuxMachine(MACHINE_ROOT, machine) ? nodeForThread(machine.census, index) : -1;
}

void bindThisThread(int index) {
    LinuxMachine machine;
    if (!readLinuxMachine(MACHINE_ROOT, machine)) return;
    const int node = numaNodeOption == 0 ? nodeForThread(machine.census, index) : numaNodeOption - 1;
    if (node < 0 || node >= int(machine.nodeCpus.size())) return;
    const std::vector<int>& cpus = machine.nodeCpus[size_t(node)];
    const int count = cpus.back() + 1;
    cpu_set_t* set = CPU_ALLOC(count);
    if (!set) return;
    const size_t bytes = CPU_ALLOC_SIZE(count);
    CPU_ZERO_S(bytes, set);
    for (int cpu : cpus) CPU_SET_S(cpu, bytes, set);
    pthread_setaffinity_np(pthread_self(), bytes, set);
    CPU_FREE(set);
}

#endif
