#pragma once

namespace quorvel::server {

// Keeps the address space the process reserves near what it uses, so a
// limit on it (prlimit --as, a container's) bounds the work rather than the
// idle reservations: each thread's stack at 2 MiB instead of the stack
// limit's 8, and at most four malloc arenas instead of eight per core. Call
// first in main, before any thread starts.
void ShapeProcessMemory();

}  // namespace quorvel::server
