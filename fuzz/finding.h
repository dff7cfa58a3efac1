#ifndef FINDING_H
#define FINDING_H

#include <cstdio>
#include <cstdlib>

// A broken property is a finding: it must stop the run like a crash, in the
// fuzzer and in the replay alike, and say what broke.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

#endif
