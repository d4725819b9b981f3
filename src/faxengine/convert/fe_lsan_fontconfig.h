// Under LeakSanitizer (sanitizer builds): fontconfig, which poppler's font
// lookup and the cover sheets' font matching start, keeps its configuration and
// what it matched for the life of the process on purpose. The runtime looks
// this function up; ordinary builds never call it. Include it in the one source
// file of a library that starts fontconfig: the definition is weak, so a
// program that links several such libraries still has exactly one.
#pragma once

extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
