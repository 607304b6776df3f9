// SPDX-License-Identifier: Apache-2.0
#pragma once

// The library's version text, for GetVersion and for programs that print it without loading the library.
#define TARN_VERSION_TEXT "2.1.1-733fd48"
