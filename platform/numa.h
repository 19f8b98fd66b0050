// Binding search threads to the NUMA nodes of a large machine, on Windows
// (processor groups, functions looked up at run time) and on Linux (the
// kernel's machine description under /sys and the thread-affinity call).
// Which node a thread gets is decided by one pure function of a processor
// census, the same on both systems. Every failure leaves the thread unbound
// and is not reported: the search never depends on the binding.
#pragma once

#include <string>
#include <vector>

// The WindowsNumaNode option (the name is historical; it works on Linux
// too): 0 spreads the threads over the nodes, 1..4 binds every thread to
// node 0..3.
extern int numaNodeOption;

// What the system says about its processors.
struct ProcessorCensus {
    int nodes = 0;    // NUMA nodes with processors
    int cores = 0;    // physical cores
    int logical = 0;  // logical processors (hardware threads)
};

// The node for thread `index` when the threads are spread automatically, or
// -1 for no binding. Each node gets cores/nodes threads in turn, one per
// core; the threads for the second hardware threads are dealt out over the
// nodes round-robin; threads beyond the logical processors stay unbound.
int nodeForThread(const ProcessorCensus& census, int index);

// The same for this machine, with a census taken now (-1 when it cannot be).
int nodeForThread(int index);
// Binds the calling thread according to numaNodeOption.
void bindThisThread(int index);

#ifndef _WIN32
// The machine as the Linux kernel describes it under `root` (normally
// /sys/devices/system; tests pass a fake tree): the census and, per node in
// ascending node number, its CPUs. Nodes without CPUs (memory only) are left
// out, so node k is the k-th node that has processors.
struct LinuxMachine {
    ProcessorCensus census;
    std::vector<std::vector<int>> nodeCpus;
};
// False (and `machine` empty) when the tree is missing or malformed.
bool readLinuxMachine(const std::string& root, LinuxMachine& machine);
// Parses a kernel CPU list ("0-3,8,10-11\n"); false when malformed.
bool parseCpuList(const std::string& text, std::vector<int>& cpus);
#endif
