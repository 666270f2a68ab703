// Placeholder until the compositor lands.
#include "rain/compositor.hpp"
