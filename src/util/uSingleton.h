// One process-wide instance of a class, created on first use and freed on request.
//
// GetInstance takes no lock on purpose: every holder is filled during start-up on the
// main thread, before any worker thread exists; afterwards workers only read it.
#ifndef TAMRIX_UTIL_USINGLETON_H
#define TAMRIX_UTIL_USINGLETON_H

#include <memory>

namespace tamrix::util {

template <typename T>
class TSingleton {
 public:
  // Returns the kept instance, building it with T's default constructor when empty.
  static T& GetInstance() {
    if (!instance_) instance_ = std::make_unique<T>();
    return *instance_;
  }

  // Forgets the instance first, then frees it; a later GetInstance builds a new one.
  static void ReleaseInstance() {
    std::unique_ptr<T> old = std::move(instance_);
    old.reset();
  }

  // True while an instance is kept (lets shutdown code skip holders never used).
  static bool HasInstance() { return instance_ != nullptr; }

 private:
  static inline std::unique_ptr<T> instance_;
};

}  // namespace tamrix::util

#endif  // TAMRIX_UTIL_USINGLETON_H
