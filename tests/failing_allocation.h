// Allocations that fail on demand, for tests of what code does when memory
// runs out on one of its threads. Linking failing_allocation replaces the
// global operator new; unarmed, it allocates as usual.
#pragma once

namespace failing_allocation {

// From now on every allocation made by a thread other than the calling one
// throws std::bad_alloc, until Reset.
void FailOtherThreads();
// The `nth` allocation the calling thread makes from now on throws
// std::bad_alloc (1: the next one); those before and after it succeed.
void FailNthHere(int nth);
// Whether an armed failure has been thrown since the last arming.
bool Fired();
void Reset();

}  // namespace failing_allocation
