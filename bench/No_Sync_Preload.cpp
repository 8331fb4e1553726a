// A diagnostic only, never part of the product: preloaded into a benchmark
// process (LD_PRELOAD), it turns the flush calls into no-ops, so a timing with
// and without it shows how much of a file workload is spent waiting for the disk.
extern "C" int fdatasync(int) { return 0; }
extern "C" int fsync(int) { return 0; }
extern "C" int syncfs(int) { return 0; }
extern "C" void sync() {}
