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

}  // namespace tamrix::util

#endif  // TAMRIX_UTIL_UMEMORIA_H
