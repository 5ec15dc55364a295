// Moved to base/unicode.hpp and base/utf8.hpp; kept until the CSV writer
// includes those directly.
#pragma once

#include "base/unicode.hpp"
#include "base/utf8.hpp"
