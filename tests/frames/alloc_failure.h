// Makes the non-throwing array allocations fail on demand, to reach the
// paths that handle a failed allocation.
#pragma once

// The next `allowed` non-throwing array allocations succeed, every one
// after them fails until StopFailingAllocations.
void FailAllocationsAfter(int allowed);
void StopFailingAllocations();
