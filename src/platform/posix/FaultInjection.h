// A test-only switch of the file and registry stand-ins: every operation
// they carry out on the disk or the registry is counted, and the one chosen
// fails as the real system fails now and then: an I/O error, "disk full"
// for a write, a registry I/O failure. Only that one fails; the operations
// after it work again, so a test can run one step once for each operation
// the step makes and see what each single failure leaves behind.
//
// Counting is off until StartOperationCount; no production code calls it.
#pragma once

#include <cstdint>

namespace platform::posix {

// Counts the operations from now on; the one numbered failAt (from 1)
// fails. 0 only counts.
void StartOperationCount(std::uint64_t failAt);
// Stops counting and returns the number of operations since the start.
std::uint64_t StopOperationCount();

// Called by the stand-ins once per operation: true when this one is to fail.
bool OperationFails();

}  // namespace platform::posix
