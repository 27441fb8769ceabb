#pragma once
// A record that reaches up to the layer that drives it: the checker must refuse this.
#include "run/driver.hpp"
