#ifndef BLOCKEDINTERFACE_H
#define BLOCKEDINTERFACE_H

// The OpenCL plugin's second engine: the whole system on the devices at
// once, a blocked LU factorisation with partial pivoting and both
// triangular solves there, the factors and the answer read back once. A
// plugin without it offers only the step-by-step elimination.

#include <QString>
#include <QtPlugin>

// One blocked solve. The caller owns every array and fills the inputs.
struct BlockedSolve
{
    enum Outcome {
        Solved,
        NoDoublePrecision, // a chosen device computes in float only
        TooLittleMemory,   // the system does not fit the devices' limits
        DeviceFailed,      // an OpenCL call failed (message says which)
    };
    // Inputs: n unknowns, the rows of the system and its right-hand side.
    int n = 0;
    const double *const *a = nullptr;
    const double *b = nullptr;
    // Bytes a device may use for one buffer and in all (0: the device's own
    // limits; a smaller value stands in for a smaller device).
    unsigned long long memoryCap = 0;
    // The local-memory tiled update even on a processor (which otherwise
    // gets the register-blocked one).
    bool tiledUpdate = false;

    // Outputs. lu: n rows receiving the factors (strictly below the
    // diagonal, column k holds step k's multipliers in the row order of
    // that step; on and above it, U). pivots: step k exchanged rows k and
    // pivots[k] before its elimination. x: the answer.
    double **lu = nullptr;
    int *pivots = nullptr;
    double *x = nullptr;
    Outcome outcome = DeviceFailed;
    // Why it did not solve, for the user.
    QString message;
    // The devices' names, comma-separated.
    QString devices;
    // Seconds: copy in, factorisation, triangular solves, copy out.
    double seconds[4] = {0, 0, 0, 0};
    // Seconds spent building the kernels (once per prepared device).
    double buildSeconds = 0;
};

class BlockedSolverInterface
{
public:
    virtual void solveBlocked(BlockedSolve *request) = 0;
    virtual ~BlockedSolverInterface() = default;
};

#define BlockedSolverInterface_iid "app.tarvix.Tarvix.BlockedSolverInterface/1.0"
Q_DECLARE_INTERFACE(BlockedSolverInterface, BlockedSolverInterface_iid)

#endif
