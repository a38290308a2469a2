#pragma once

// Fontconfig keeps its configuration for the life of the process (Qt never
// calls FcFini), which the sanitizer build's leak checker would report. Weak,
// so that every widget test file of one executable may include it.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
