// Moved to base/hash.hpp; kept until the CSV reader includes that directly.
#pragma once

#include "base/hash.hpp"
