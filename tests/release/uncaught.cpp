// A program that ends with an exception nothing catches, linked the way
// setup.exe is (its terminate handler, its C++ runtime): the test reads what
// the handler writes before the abort.
#include <stdexcept>

int main()
{
    throw std::runtime_error("nothing catches this");
}
