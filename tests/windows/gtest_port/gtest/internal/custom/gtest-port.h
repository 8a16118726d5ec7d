// GoogleTest's port customisation for cross builds with MinGW's win32 thread
// model, which has no std::mutex or std::condition_variable. GoogleTest
// needs them only for Notification, used by its own threading tests; this
// one spins on an atomic flag instead. (Everything else of GoogleTest's
// Windows threading uses Win32 primitives.)
#ifndef PELLAR_TESTS_WINDOWS_GTEST_PORT_H_
#define PELLAR_TESTS_WINDOWS_GTEST_PORT_H_

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true); }
  void WaitForNotification() {
    while (!notified_.load()) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing

#endif  // PELLAR_TESTS_WINDOWS_GTEST_PORT_H_
