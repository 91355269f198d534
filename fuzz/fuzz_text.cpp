// libFuzzer harness: any bytes as a ".trx" file, read from memory with the
// threaded reader and 1 to 4 parsers (or all on one thread); a file that
// opens must survive a round trip.
#include "fuzzcommon.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzCommon::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString again = FuzzCommon::inputPath("-again.trx");
    EquationFile::Options opt;
    // Vary the parser count with the input; with n > 49 it is processors - 1.
    opt.processors = 2 + int(size % 4);
    EquationStore store;
    const EquationFile::Outcome out = FuzzCommon::openFromMemory(QStringLiteral("input.trx"), data, size, store, opt);
    if (!out.failed)
        FuzzCommon::checkRoundTrip(store, again, opt.processors, true);
    return 0;
}
