#include "platform/numa.h"

int numaNodeOption = 0;

#ifdef _WIN32
#include <windows.h>

#include <vector>

namespace {

template <typename F>
F lookUp(const char* name) {
    HMODULE kernel = GetModuleHandleA("Kernel32.dll");
    return kernel ? reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, name))) : nullptr;
}

}  // namespace

int nodeForThread(int index) {
    using InfoFn = BOOL(WINAPI*)(LOGICAL_PROCESSOR_RELATIONSHIP, PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, PDWORD);
    auto info = lookUp<InfoFn>("GetLogicalProcessorInformationEx");
    if (!info) return -1;
    DWORD length = 0;
    if (info(RelationAll, nullptr, &length)) return -1;
    std::vector<char> buffer(length);
    auto* records = reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer.data());
    if (!info(RelationAll, records, &length)) return -1;
    int nodes = 0, cores = 0, logical = 0;
    for (DWORD offset = 0; offset < length;) {
        auto* r = reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer.data() + offset);
        if (r->Relationship == RelationNumaNode) nodes++;
        if (r->Relationship == RelationProcessorCore) {
            cores++;
            logical += r->Processor.Flags == LTP_PC_SMT ? 2 : 1;
        }
        offset += r->Size;
    }
    if (nodes == 0) return -1;
    std::vector<int> table;
    for (int k = 0; k < nodes; k++)
        for (int i = 0; i < cores / nodes; i++) table.push_back(k);
    for (int j = 0; j < logical - cores; j++) table.push_back(j % nodes);
    return index < int(table.size()) ? table[index] : -1;
}

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

// Linux schedules threads over NUMA nodes itself; the engine does not pin.
int nodeForThread(int) { return -1; }
void bindThisThread(int) {}

#endif
