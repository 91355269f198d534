#ifndef CHILDRUN_H
#define CHILDRUN_H

#include <QByteArray>
#include <QProcess>
#include <QStringList>

// What a child process left: its exit code (-2: ended by a signal, -1: did
// not end in time) and its two output streams.
struct Run
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

// Gives p its own application data (dir/appdata), temporary folder (dir),
// runtime folder (dir/runtime) and working folder (dir), and no display
// (the offscreen platform).
void prepareChild(QProcess &p, const QString &dir);
// Starts the prepared p and waits for it to end.
Run runChild(QProcess &p, const QString &program, const QStringList &args);
// Both in one: a fresh process on dir.
Run runChild(const QString &dir, const QString &program, const QStringList &args);
// The numbers a program printed, one a line (blank lines skipped).
QList<double> outputNumbers(const QByteArray &text);
// 2x + y + z = 7, x + 3y + z = 10, x + y + 4z = 15; solution (1, 2, 3).
inline const char *const kSystem =
    "Tarvix 1.20.1\n3\n1\t2\t1\t1\t7\n2\t1\t3\t1\t10\n3\t1\t1\t4\t15\n\nSolution\n0\t0\t0\t\nEOF";

#endif
