// Reading and writing equation files on the worker threads.
#include "tarvix.h"

// Wired to the file pipelines in the next step.
void tarvix::openFile(const QString &, bool, bool *failed)
{
    if (failed)
        *failed = true;
}

void tarvix::readTextFile(bool *, const QString &) {}
void tarvix::readBinaryFile(bool *, const QString &) {}
void tarvix::savetoFile(bool) {}
void tarvix::saveTextFile(const QString &) {}
void tarvix::saveBinaryFile(const QString &) {}
