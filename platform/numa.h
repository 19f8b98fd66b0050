// Binding search threads to a NUMA node of a Windows machine with several
// processor groups. The system functions are looked up at run time; where
// they are missing (and on other systems) no binding is done.
#pragma once

// The WindowsNumaNode option: 0 spreads the threads over the nodes, 1..4
// binds every thread to node 0..3.
extern int numaNodeOption;

// Node for a thread index, or -1 for no binding.
int nodeForThread(int index);
// Binds the calling thread according to numaNodeOption.
void bindThisThread(int index);
