// The node of each search thread, the Linux machine description behind it,
// and the binding of real search threads here.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/numa.h"
#include "search/threads.h"
#include "test_util.h"
#include "uci/engine.h"

namespace {

using Cpus = std::vector<int>;

TEST(NumaNodeTable, SpreadsCoresThenSecondHardwareThreads) {
    const struct {
        ProcessorCensus census;
        std::string nodes;  // for indices 0.., '-' for none; every later index gets none
    } cases[] = {
        {{2, 16, 32}, "00000000111111110101010101010101-"},
        {{1, 8, 8}, "00000000-"},
        // Cores that do not divide evenly: the remainder gets no core thread.
        {{3, 8, 16}, "00112201201201-"},
        {{4, 2, 4}, "01-"},  // fewer cores than nodes: only the second threads are placed
        {{0, 0, 0}, "-"},    // no census
        {{0, 8, 16}, "-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.census.nodes << " nodes, " << c.census.cores << " cores");
        for (int i = -1; i < 256; i++) {
            const char node = i >= 0 && i < int(c.nodes.size()) ? c.nodes[size_t(i)] : '-';
            EXPECT_EQ(nodeForThread(c.census, i), node == '-' ? -1 : node - '0') << "thread " << i;
        }
    }
}

TEST(LinuxMachine, CpuLists) {
    const std::pair<const char*, Cpus> good[] = {
        {"0-3,8,10-11\n", {0, 1, 2, 3, 8, 10, 11}}, {"5\n", {5}}, {"\n", {}}, {"4-7,0-1", {0, 1, 4, 5, 6, 7}}};
    for (const auto& [text, expected] : good) {
        Cpus cpus;
        EXPECT_TRUE(parseCpuList(text, cpus)) << text;
        EXPECT_EQ(cpus, expected) << text;
    }
    for (const char* bad : {"3-1", "0,,1", "0-", "-2", "0-3,", "a", "0 1", "0-99999999"}) {
        Cpus cpus;
        EXPECT_FALSE(parseCpuList(bad, cpus)) << bad;
    }
}

TEST(LinuxMachine, CensusFromMachineDescriptions) {
    const struct {
        const char* tree;
        bool ok;
        Cpus census;  // nodes, cores, logical processors
        std::vector<Cpus> nodeCpus;
    } cases[] = {
        // Two nodes of four two-thread cores and a memory-only node.
        {"two-nodes-smt", true, {2, 8, 16}, {{0, 1, 2, 3, 8, 9, 10, 11}, {4, 5, 6, 7, 12, 13, 14, 15}}},
        {"one-node", true, {1, 8, 8}, {{0, 1, 2, 3, 4, 5, 6, 7}}},
        {"bad-cpulist", false, {0, 0, 0}, {}},
        {"no-topology", false, {0, 0, 0}, {}},
        {"missing", false, {0, 0, 0}, {}},
    };
    for (const auto& c : cases) {
        LinuxMachine machine;
        machine.nodeCpus.push_back({42});  // must not survive a failed read
        ASSERT_EQ(readLinuxMachine(testData(std::string("numa/") + c.tree), machine), c.ok) << c.tree;
        EXPECT_EQ((Cpus{machine.census.nodes, machine.census.cores, machine.census.logical}), c.census) << c.tree;
        EXPECT_EQ(machine.nodeCpus, c.nodeCpus) << c.tree;
    }
}

Cpus affinityOf(pthread_t thread) {
    cpu_set_t set;
    Cpus cpus;
    if (pthread_getaffinity_np(thread, sizeof set, &set) == 0)
        for (int cpu = 0; cpu < CPU_SETSIZE; cpu++)
            if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
    return cpus;
}

bool setAffinity(pthread_t thread, const Cpus& cpus) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu : cpus) CPU_SET(cpu, &set);
    return pthread_setaffinity_np(thread, sizeof set, &set) == 0;
}

// The affinity a thread here gets when asking for these CPUs.
Cpus boundHere(const Cpus& cpus) {
    Cpus result;
    std::thread probe([&] {
        setAffinity(pthread_self(), cpus);
        result = affinityOf(pthread_self());
    });
    probe.join();
    return result;
}

// Captures the engine's output; puts back the options and the test thread's
// affinity at the end.
struct BindingSession {
    Cpus initial = affinityOf(pthread_self());
    CapturedOutput output;
    BindingSession() { initEngineForTests(); }
    ~BindingSession() {
        executeCommand("setoption name WindowsNumaNode value 0");
        executeCommand("setoption name Threads value 1");
        setAffinity(pthread_self(), initial);
    }
};

TEST(NumaBinding, SearchThreadsEndOnTheirNode) {
    LinuxMachine machine;
    if (!readLinuxMachine("/sys/devices/system", machine)) GTEST_SKIP() << "no NUMA description under /sys";
    BindingSession session;
    ASSERT_FALSE(session.initial.empty());
    const std::string net = std::string(VELMORA_BINARY).substr(0, std::string(VELMORA_BINARY).rfind('/') + 1) +
                            DEFAULT_NET_FILE;
    executeCommand("setoption name NetFile value " + net);
    ASSERT_NE(session.output.text().find("NetFile used"), std::string::npos);

    // New threads inherit the creator's affinity: started on one CPU, a
    // binding to a node with more shows.
    const Cpus narrow{session.initial.front()};
    ASSERT_TRUE(setAffinity(pthread_self(), narrow));
    executeCommand("setoption name Threads value 2");
    // 0 spreads the threads over the nodes; 2 asks for node 1: bound to it
    // where it exists, else left as started.
    for (const int option : {0, 2}) {
        executeCommand("setoption name WindowsNumaNode value " + std::to_string(option));
        ASSERT_EQ(threads.size(), 2u);
        // Knock one thread off its node: the binding at the search puts it back.
        ASSERT_TRUE(setAffinity(threads[1]->thread.native_handle(), narrow));
        const size_t before = session.output.text().size();
        executeCommand("position startpos");
        executeCommand("go depth 5");
        waitIdle(*threads[0]);
        EXPECT_NE(session.output.text().find("bestmove ", before), std::string::npos);
        for (int i = 0; i < 2; i++) {
            const int node = option == 0 ? nodeForThread(machine.census, i) : machine.nodeCpus.size() > 1 ? 1 : -1;
            const Cpus expected = node < 0 ? narrow : boundHere(machine.nodeCpus[size_t(node)]);
            EXPECT_EQ(affinityOf(threads[size_t(i)]->thread.native_handle()), expected) << option << ", thread " << i;
        }
    }
}

}  // namespace
