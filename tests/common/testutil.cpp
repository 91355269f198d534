#include "testutil.h"

#include <QDir>
#include <QFileInfo>

#include <random>

#include <sys/file.h>

Matrix::Matrix(int n) : n(n), store(size_t(n) * size_t(n)), rows(size_t(n))
{
    for (int i = 0; i < n; ++i)
        rows[size_t(i)] = store.data() + size_t(i) * size_t(n);
}

Matrix::Matrix(const Rows &r) : Matrix(r.size())
{
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            rows[size_t(i)][j] = r[i][j];
}

Matrix::Matrix(const Matrix &o) : Matrix(o.n)
{
    store = o.store;
}

Matrix &Matrix::operator=(const Matrix &o)
{
    if (this != &o) {
        Matrix copy(o);
        n = copy.n;
        store.swap(copy.store);   // the buffer moves, so the row pointers stay valid
        rows.swap(copy.rows);
    }
    return *this;
}

Matrix randomMatrix(int n, unsigned seed, double diagonal, std::vector<double> *rhs)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> real(-1.0, 1.0);
    Matrix m(n);
    if (rhs)
        rhs->resize(size_t(n));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
            m.rows[size_t(i)][j] = real(gen) + (i == j ? diagonal : 0.0);
        if (rhs)
            (*rhs)[size_t(i)] = real(gen);
    }
    return m;
}

qulonglong mappedKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').value(0).toULongLong();
    return 0;
}

void ErrorSink::errMsg(QString *title, QString *text, QString type)
{
    triples << *title + QLatin1Char('|') + *text + QLatin1Char('|') + type;
    delete title;
    delete text;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

FileHolder::FileHolder(const QString &path) : m_file(path)
{
    m_held = m_file.open(QIODevice::ReadWrite | QIODevice::Append)
             && ::flock(m_file.handle(), LOCK_EX | LOCK_NB) == 0;
}
