#include "failing_allocation.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

namespace failing_allocation {
namespace {

enum Mode { kOff, kOtherThreads, kNthHere };

std::atomic<int> g_mode{kOff};
std::atomic<std::thread::id> g_owner;
std::atomic<int> g_countdown{0};
std::atomic<bool> g_fired{false};

bool ShouldFail() {
  switch (g_mode.load()) {
    case kOtherThreads:
      return std::this_thread::get_id() != g_owner.load();
    case kNthHere:
      return std::this_thread::get_id() == g_owner.load() && g_countdown.fetch_sub(1) == 1;
    default:
      return false;
  }
}

void Arm(Mode mode, int nth) {
  g_owner.store(std::this_thread::get_id());
  g_countdown.store(nth);
  g_fired.store(false);
  g_mode.store(mode);
}

void* Allocate(std::size_t n) {
  if (ShouldFail()) {
    g_fired.store(true);
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}

}  // namespace

void FailOtherThreads() { Arm(kOtherThreads, 0); }
void FailNthHere(int nth) { Arm(kNthHere, nth); }
bool Fired() { return g_fired.load(); }
void Reset() { g_mode.store(kOff); }

}  // namespace failing_allocation

void* operator new(std::size_t n) { return failing_allocation::Allocate(n); }
void* operator new[](std::size_t n) { return failing_allocation::Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
