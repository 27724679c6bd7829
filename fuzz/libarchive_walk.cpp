// Any bytes as an archive that libarchive reads (zip, tar, 7z, cpio, ISO 9660), walked.
#include "fuzz/container_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_container(containers::libarchive_format(), data, size);
}
