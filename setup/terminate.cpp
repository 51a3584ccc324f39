// What setup.exe does with an exception that nothing catches.
//
// The C++ runtime's own handler writes the exception's type and message to the
// standard error stream and aborts; to print the type in source form it carries
// a name demangler of about 46 KB, a sixth of the program's code. This handler
// takes its place: the same lines with the type named as the compiler records
// it (such as "9ZCommonEx"), then the same abort. It writes with fputs only:
// the formatted-output functions would bring in the C99 formatter instead.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <typeinfo>

#include <cxxabi.h>

// Defining the runtime's handler here keeps the linker from taking the
// runtime's one; std::terminate calls it unless the program installs another.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    static bool terminating = false;
    if (terminating) {
        fputs("terminate called recursively\n", stderr);
        abort();
    }
    terminating = true;

    const std::type_info* type = abi::__cxa_current_exception_type();
    if (!type) {
        fputs("terminate called without an active exception\n", stderr);
        abort();
    }
    fputs("terminate called after throwing an instance of '", stderr);
    fputs(type->name(), stderr);
    fputs("'\n", stderr);
    try {
        // The exception that nothing caught is still current here (the
        // check above), so this rethrows it to read its message.
        // cppcheck-suppress rethrowNoCurrentException
        throw;
    } catch (const std::exception& e) {
        fputs("  what():  ", stderr);
        fputs(e.what(), stderr);
        fputs("\n", stderr);
    } catch (...) {
    }
    abort();
}
} // namespace __gnu_cxx
