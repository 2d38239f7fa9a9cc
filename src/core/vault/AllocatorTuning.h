#pragma once

namespace Keldra::Core {

// Process-wide allocator settings for the programs (called first thing in
// main). Saving the index of a large vault builds several buffers of
// megabytes (index text, its Base64 form, the header journal). By default
// glibc hands such buffers back to the system when they are freed, so the
// next save faults every page in again; on a virtual machine that was most
// of the time of a rename in a vault of 10,000 files. Keeping them (up to
// 64 MiB per buffer; Argon2id's 256 MiB is still returned) trades a few tens
// of megabytes of resident memory for that time. Does nothing outside glibc.
class AllocatorTuning
{
public:
    static void keepLargeBuffers();
};

} // namespace Keldra::Core
