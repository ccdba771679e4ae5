// The toolchain's default terminate handler demangles and prints the active exception's type,
// which links a demangler and a printf engine into the program (about a third of its size).
// The updater never lets an exception escape, so terminating quietly is all it needs.
#include <cstdlib>

#if defined(__GLIBCXX__)
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }  // NOLINT(bugprone-reserved-identifier)
}  // namespace __gnu_cxx
#endif
