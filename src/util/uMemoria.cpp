#include "util/uMemoria.h"

#include <malloc.h>

#include <atomic>
#include <chrono>

namespace tamrix::util {

void DevolverMemoriaOciosa() {
  using Relogio = std::chrono::steady_clock;
  static std::atomic<Relogio::rep> ultima{0};
  const Relogio::rep agora = Relogio::now().time_since_epoch().count();
  Relogio::rep antes = ultima.load();
  const Relogio::rep intervalo =
      std::chrono::duration_cast<Relogio::duration>(std::chrono::seconds(1)).count();
  if (antes != 0 && agora - antes < intervalo) return;
  // One caller wins the turn; the others leave.
  if (!ultima.compare_exchange_strong(antes, agora)) return;
  DevolverMemoriaAgora();
}

void FixarLimiteBlocosGrandes() {
  ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
}

void DevolverMemoriaAgora() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizer's allocator holds the memory: glibc's arenas have nothing to give back, and
  // a trim of them raced a thread's exit there (a crash seen under ASan).
  return;
#else
  ::malloc_trim(0);
#endif
}

}  // namespace tamrix::util
