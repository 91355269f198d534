#ifndef ZERO_H
#define ZERO_H

// The zero test of the solver, the validation, the residual counts and the
// store: x counts as zero when -1e-15 <= x <= 1e-15.
inline bool isZero(double x)
{
    return x >= -1e-15 && x <= 1e-15;
}

#endif
