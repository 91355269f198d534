// libFuzzer harness: any bytes as a ".btrx" file, opened the way the program
// opens it (header and size check, then the reader on its thread); a file
// that opens must come back bit for bit after saving.
#include "fuzzcommon.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzCommon::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = FuzzCommon::inputPath(".btrx");
    static const QString again = FuzzCommon::inputPath("-again.btrx");
    FuzzCommon::writeInput(path, data, size);
    EquationStore store;
    const EquationFile::Outcome out = EquationFile::open(path, store);
    if (!out.failed)
        FuzzCommon::checkRoundTrip(store, again, 2, false);
    return 0;
}
