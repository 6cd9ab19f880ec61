// Linked into the shipped programs (not into test programs) to keep the
// heavy parts of the static C++ runtime out of them.
//
// The runtime's default handler for an uncaught exception prints the
// exception's type through the C++ name demangler and then aborts; the
// demangler alone is about 45 KiB of machine code. A GUI program has
// nowhere to print to, so ours aborts straight away.
//
// The containers' error paths (length_error, out_of_range and the like)
// each build an exception object holding a reference-counted string, which
// brings in a second, complete std::string implementation (about 35 KiB).
// Those errors are program faults here (no caller catches them by type),
// so they end the program as an uncaught exception would. Running out of
// memory still throws std::bad_alloc, which needs none of that.
//
// Every helper of the runtime's own definitions file is defined here, so
// the linker never takes that file: a missing one would show up as a
// duplicate definition at link time, not as a silent size increase.
#include <cstdlib>
#include <exception>
#include <new>

namespace __gnu_cxx {
void __verbose_terminate_handler() {
  std::abort();
}
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() {
  throw bad_alloc();
}
void __throw_bad_array_new_length() {
  throw bad_array_new_length();
}
void __throw_bad_cast() {
  abort();
}
void __throw_bad_typeid() {
  abort();
}
void __throw_bad_exception() {
  abort();
}
void __throw_logic_error(const char*) {
  abort();
}
void __throw_domain_error(const char*) {
  abort();
}
void __throw_invalid_argument(const char*) {
  abort();
}
void __throw_length_error(const char*) {
  abort();
}
void __throw_out_of_range(const char*) {
  abort();
}
void __throw_out_of_range_fmt(const char*, ...) {
  abort();
}
void __throw_runtime_error(const char*) {
  abort();
}
void __throw_range_error(const char*) {
  abort();
}
void __throw_overflow_error(const char*) {
  abort();
}
void __throw_underflow_error(const char*) {
  abort();
}
}  // namespace std
