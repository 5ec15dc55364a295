// Compensated (Neumaier) summation of doubles, in the order they are added.
#pragma once

#include <cmath>

namespace tarnwick {

// Keeps the low-order bits that each addition loses in a separate
// compensation, so that 1e16 + 1.0 - 1e16 gives 1.0. A NaN anywhere gives NaN;
// a sum that reaches an infinity stays that infinity (its compensation turns
// NaN and is dropped). Starts at +0.0, so values that are all -0.0 give +0.0.
struct CompensatedSum {
    double sum = 0.0;
    double compensation = 0.0;

    void add(double x) {
        double t = sum + x;
        // With a NaN on either side both candidates are NaN, so the test need
        // not look for one.
        double lost = std::fabs(x) > std::fabs(sum) ? (x - t) + sum : (sum - t) + x;
        compensation += lost;
        sum = t;
    }

    double result() const {
        return std::isfinite(compensation) && compensation != 0.0 ? sum + compensation : sum;
    }
};

}  // namespace tarnwick
