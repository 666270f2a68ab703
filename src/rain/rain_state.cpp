// Placeholder until the simulation lands.
#include "rain/rain_state.hpp"
