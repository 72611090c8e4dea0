#pragma once
// How many processors this process may run on: the CPUs in its affinity mask, which is what
// a cluster's task binding, a container's cpuset or taskset leave it, rather than every
// CPU the machine has. At least 1.
namespace sonteva {

int usableCores();

} // namespace sonteva
