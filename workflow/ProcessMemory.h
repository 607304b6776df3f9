// SPDX-License-Identifier: Apache-2.0
#pragma once

// For the programs (not the libraries): the allocator keeps memory the program frees instead of returning
// it to the system at once. A batch of shots allocates and frees the same large buffers (grey images,
// thresholds, clouds) shot after shot; returned and mapped again, each is faulted in page by page every time.

namespace TarnWorkflow {

/// Blocks up to 32 MiB come from the heap and up to 256 MiB of freed heap stay with the process. Call once,
/// at the start of main; does nothing where the C library has no such settings.
void KeepFreedMemory();

}  // namespace TarnWorkflow
