// A product file that reaches for the simulator: with the product library's include path it must
// not compile (CTest sim-boundary).
#include "sim/machine/simulated_machine.h"
