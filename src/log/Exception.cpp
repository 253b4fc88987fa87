#include "Exception.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

QString ExceptionClassName(const std::exception &e)
{
    const char *mangled = typeid(e).name();
    int status = 0;
    char *demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    const QString name = QString::fromLatin1(status == 0 && demangled ? demangled : mangled);
    std::free(demangled);
    return name;
}
