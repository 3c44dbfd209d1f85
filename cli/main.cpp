// quellar-cli: the table operations of Quellar on the command line.

#include "Cli.h"
#include "base/ParallelRows.h"

#include <QCoreApplication>

#include <iostream>
#include <malloc.h>
#include <unistd.h>

#if QUELLAR_JEMALLOC
// Two arenas for the two reading threads (each thread keeps its own small cache in front of
// them), and memory given back is returned to the system after a second, so the peak follows
// what is in use rather than what was once used.
extern "C" {
const char* malloc_conf = "narenas:2,dirty_decay_ms:1000,muzzy_decay_ms:0";
}
#endif

int main(int argc, char** argv) {
#if QUELLAR_JEMALLOC
    // Large results are built on both cores; with jemalloc's arenas that costs no extra peak
    // memory (with glibc's heap it would).
    quellar::setParallelRowFloor(100'000);
#else
    // One heap for all threads: the workbooks are read on two threads, but the memory they
    // give back is reused by the main thread for the tables and the result, which a heap of
    // their own would keep out of reach (a third more peak memory on million-row jobs).
    mallopt(M_ARENA_MAX, 1);
#endif
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    quellar::cli::setEndProcessWhenDone(true);
    const int status = quellar::cli::runCli(arguments, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
    std::cout.flush();
    return status;
}
