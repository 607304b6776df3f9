// SPDX-License-Identifier: Apache-2.0
#pragma once

// For a program that owns its standard output (the command line's reports, a script's prints, a
// benchmark's table): the library's own lines are switched off where they are produced, for the whole
// process, never by redirecting a descriptor another thread may be writing to.

namespace TarnWorkflow {

/// Turns off the library's standard-output texts and its console log records ("Kel") for the process.
void SilenceLibraryOutput();

}  // namespace TarnWorkflow
