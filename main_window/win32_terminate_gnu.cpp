// Replaces the GNU C++ runtime's verbose terminate handler, which demangles
// the exception's type name for a console nobody sees in a GUI program, and
// would carry 45 KiB of demangler into the executable. Every exception is
// caught and shown to the user before it could get here.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler();
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
