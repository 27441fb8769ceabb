#pragma once
#include "model/record.hpp"
