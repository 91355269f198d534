#ifndef INTERCHANGE_H
#define INTERCHANGE_H

#include <QString>

class EquationStore;

// Systems in the formats other tools write: Matrix Market (".mtx") and CSV
// (".csv"), beside the program's own ".trx" and ".btrx". A system comes from
// one N x N Matrix Market matrix and an N x 1 right-hand side in a second
// file, or from one N x (N+1) file holding the augmented system; a CSV file
// always holds the augmented system. Errors name the file and the line.
namespace Interchange {

enum class Kind { Text, Binary, MatrixMarket, Csv };

// The kind of a file by its name: the extensions ".mtx" and ".csv" (any
// case), otherwise binary when the name contains ".btrx", else text.
Kind kindOf(const QString &path);

// The check before a system of n equations is allocated without asking
// anybody: empty when its arrays fit the computer's memory, else the
// reason. Applied after the sizes were read and before any allocation.
QString memoryRefusal(long long n);

struct Outcome
{
    bool failed = false;
    QString error;   // names the file and, for content errors, the line
};

// Reads a ".mtx" or ".csv" system into store (allocated for its N only when
// every header passed the checks; the solution from file is zero). rhsPath
// names the right-hand side of an N x N Matrix Market matrix and must be
// empty otherwise. A failed read may leave a partial load.
Outcome open(const QString &path, const QString &rhsPath, EquationStore &store, int threads);

// Whether path is a Matrix Market matrix that needs a right-hand side from
// a second file: its size line names a square matrix. False for anything
// else (an augmented system, CSV, or a file whose sizes cannot be read,
// whose error comes with open).
bool needsRightHandSide(const QString &path);

// Writes the store's system as ".mtx" or ".csv", replacing the files
// atomically. Matrix Market: the augmented N x (N+1) matrix, or, when
// rhsPath is given, the N x N matrix to path and the right-hand side to
// rhsPath; coordinate: only the entries that are not +0.
Outcome save(const QString &path, const QString &rhsPath, const EquationStore &store, int threads,
             bool coordinate = false);

// Writes n values (a solution) as an N x 1 column, ".mtx" or ".csv".
Outcome saveColumn(const QString &path, const double *values, int n, int threads);

} // namespace Interchange

#endif
