// Arbitrary text through the S-record reader.

#include "imagecheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CheckImage(ReadSRecord(Input(data, size), QStringLiteral("fuzz.s37")));
    return 0;
}
