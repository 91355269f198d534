#ifndef ATOMICFILE_H
#define ATOMICFILE_H

#include <QByteArray>
#include <QString>

#include <functional>

// Every file that holds user data is replaced the same way: the new content
// is written to a temporary file beside the target, flushed to disk and
// renamed over the target only when it is complete. A crash, a full disk or
// a failed writer leaves the previous file whole (or no file, when there was
// none), never a truncated one.
namespace AtomicFile {

struct Result
{
    // Where it failed: creating the file beside the target, writing it
    // (the writer or the flush), or renaming it over the target.
    enum Stage { None, Create, Write, Replace };
    bool ok = false;
    Stage stage = None;
    // Why it failed, naming the file and the system's reason
    // ("Could not write /x/y.trx: No space left on device").
    QString error;
};

// The writer fills tempPath (an empty file that already exists, with the
// target's permissions) and returns false, optionally with *error set, when
// it could not. The temporary name starts with "." and ends in ".part".
using Writer = std::function<bool(const QString &tempPath, QString *error)>;

Result replace(const QString &target, const Writer &writer);

// Shorthand for content held in memory.
Result writeBytes(const QString &target, const QByteArray &data);

// A whole copy of source under target, read a megabyte at a time.
Result copy(const QString &source, const QString &target);

// Flushes a finished file to disk (true when it could).
bool syncFile(const QString &path, QString *error = nullptr);

} // namespace AtomicFile

#endif
