#ifndef TESTUTIL_H
#define TESTUTIL_H

#include <QFile>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstring>
#include <vector>

// TARVIX_ASAN: built with the address sanitizer.
#if defined(__SANITIZE_ADDRESS__)
#define TARVIX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARVIX_ASAN 1
#endif
#endif

using Rows = QVector<QVector<double>>;
Q_DECLARE_METATYPE(Rows)

// A square matrix in one block with row pointers, the shape the solver takes.
struct Matrix
{
    explicit Matrix(int n);
    explicit Matrix(const Rows &r);
    Matrix(const Matrix &o);
    Matrix &operator=(const Matrix &o);
    // A move keeps the buffer, so pointers into the rows stay valid.
    Matrix(Matrix &&) = default;
    Matrix &operator=(Matrix &&) = default;
    double **ptr() { return rows.data(); }
    int n;
    std::vector<double> store;
    std::vector<double *> rows;
};

// n x n values uniform in (-1, 1), plus diagonal on the diagonal; rhs (when
// given) gets n more, one after each row.
Matrix randomMatrix(int n, unsigned seed, double diagonal = 0.0, std::vector<double> *rhs = nullptr);

// Bit for bit, so that NaN and the sign of zero compare too.
inline bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
inline bool sameBits(const std::vector<double> &a, const std::vector<double> &b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// The process's mapped memory (VmSize) in KiB, 0 where the system does not say.
qulonglong mappedKiB();

// Takes a worker's error triples the way a window's errMsg slot does:
// "title|text|type" per message.
class ErrorSink : public QObject
{
    Q_OBJECT
public:
    QStringList triples;
public slots:
    void errMsg(QString *title, QString *text, QString type);
};

// The whole file, or "<missing>" when it cannot be read.
QByteArray readFile(const QString &path);
// Writes the file, creating its folder; false on failure.
bool writeFile(const QString &path, const QByteArray &bytes);

// Sizes an equation store for n unknowns; false when that fails.
template <typename Store> bool sized(Store &s, int n) { s.N = n; return s.reallocate(); }

// Holds a file with an exclusive lock the way a running instance holds its log.
class FileHolder
{
public:
    explicit FileHolder(const QString &path);
    bool held() const { return m_held; }
    QFile &file() { return m_file; }

private:
    QFile m_file;
    bool m_held = false;
};

#endif
