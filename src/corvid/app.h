// The top of the program: start-up, the event sources and the clean-up.
// Nothing of the interface includes this file but main.cc.
#pragma once

#include <cstdio>

// The whole program; main() only calls it.
int corvid_main(int argc, char **argv);

void usage(FILE *stream);
// Registers the start-up sources in one submission: 0; 1 when a handler
// record could not be allocated; -1 when the queue refused (errno).
int register_sources(void);
// The exit handler: gives the terminal back, then releases everything.
void cleanup(void);
