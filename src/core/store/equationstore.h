#ifndef EQUATIONSTORE_H
#define EQUATIONSTORE_H

#include "numeric/zero.h"

#include <functional>

// One system of N linear equations in N unknowns as plain heap arrays: N
// separately allocated rows of N coefficients, the right-hand side and the
// three solution vectors. Its users read and write the arrays in place;
// nobody keeps a pointer across a change of N.
class EquationStore
{
public:
    EquationStore() = default;
    ~EquationStore();
    EquationStore(const EquationStore &) = delete;
    EquationStore &operator=(const EquationStore &) = delete;

    int N = 2;             // the size the arrays have or are about to get
    int allocated = 0;     // the size the arrays were last allocated for
    double **coef = nullptr;
    double *rhs = nullptr;
    double *customSol = nullptr;   // receives the solver's result
    double *fileSol = nullptr;     // "Solution" section of an opened file
    double *currentSol = nullptr;  // copy of the custom solution after a solve

    // Allocates every array for N (right-hand side, custom, from file - zeroed
    // -, current, row pointers, rows). Out of memory is the fatal TRX9 record.
    bool allocateMemory();
    // Frees every array by the allocated count.
    void release();
    // Release, allocate for N and set the allocated count (no view involved).
    bool reallocate();
    // Exchanges every array and both counts with other, without copying.
    void swap(EquationStore &other);
    // Every coefficient, right-hand-side value and solution value to 0.0.
    void clear();
    // Equations whose residual under the custom solution is not zero.
    int incorrectCount() const;

    // The "Memory Limitation Warning!" question before a system of count
    // unknowns is allocated; true: go ahead. Counts up to 15000 pass without
    // a question. The megabytes named are those of shownCount (the window's
    // count at the time of the question; -1: count itself).
    static bool memoryCheck(int count, int shownCount = -1);
    // Megabytes the question names for count unknowns.
    static long long megabytesFor(int count);
    // Called after the question was answered Yes, so that the session is
    // saved before the allocation (installed by the session manager; null:
    // nothing is saved).
    static void setSessionSaver(std::function<void()> saver);
    // True when x counts as zero (-1e-15 <= x <= 1e-15).
    static bool isZero(double x) { return ::isZero(x); }
};

#endif
