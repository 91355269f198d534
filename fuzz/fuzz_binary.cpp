// libFuzzer harness: any bytes as a ".btrx" file, read from memory the way
// the program opens a file (header and size check, then the reader); a file
// that opens must come back bit for bit after saving.
#include "fuzzcommon.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzCommon::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString again = FuzzCommon::inputPath("-again.btrx");
    EquationStore store;
    const EquationFile::Outcome out =
        FuzzCommon::openFromMemory(QStringLiteral("input.btrx"), data, size, store, EquationFile::Options());
    if (!out.failed)
        FuzzCommon::checkRoundTrip(store, again, 2, false);
    return 0;
}
