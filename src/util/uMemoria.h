// Memory the allocator keeps after a burst of work.
#ifndef TAMRIX_UTIL_UMEMORIA_H
#define TAMRIX_UTIL_UMEMORIA_H

namespace tamrix::util {

// Hands the allocator's free pages back to the system, at most once a second whatever the
// number of callers. glibc keeps what many short-lived threads freed in their arenas, so a
// server that went idle after a load would otherwise stay at its peak. Call when idle; it
// walks every arena (a few milliseconds on a large heap). Thread-safe.
void DevolverMemoriaOciosa();
// The same at once, for the moment a burst is over (its last worker thread leaving): a turn
// skipped by the once-a-second rule would leave the memory of the threads that left after it.
void DevolverMemoriaAgora();
// Fixes the size from which blocks get pages of their own (1 MiB), once, at start. glibc
// otherwise raises that size to the largest block freed so far (a data-set answer, a row
// array), after which such blocks stay in the threads' arenas and the idle server keeps
// twice its memory.
void FixarLimiteBlocosGrandes();

}  // namespace tamrix::util

#endif  // TAMRIX_UTIL_UMEMORIA_H
