#include "tests/support/ScopedGermanLocale.hpp"

#include "tests/support/ProgramRun.hpp"

#include <clocale>
#include <cstdlib>
#include <cstring>

namespace brindleaf::testing {

namespace {

constexpr const char* localeName = "de_DE.UTF-8";

bool hasDecimalComma() {
    const std::lconv* conventions = std::localeconv();
    return conventions && std::strcmp(conventions->decimal_point, ",") == 0;
}

} // namespace

ScopedGermanLocale::ScopedGermanLocale() {
    if (const char* current = std::setlocale(LC_ALL, nullptr)) previousLocale_ = current;
    if (const char* path = std::getenv("LOCPATH")) previousLocPath_ = path;
    if (!std::setlocale(LC_ALL, localeName)) {
        compiled_ = std::make_unique<TempDir>();
        const auto output = compiled_->path() / localeName;
        // -c: write the locale even where its sources draw warnings.
        const ProgramRun run =
            runProgram("/usr/bin/localedef", {"localedef", "-c", "-i", "de_DE", "-f", "UTF-8", output.string()},
                       {"PATH=/usr/bin:/bin"});
        ::setenv("LOCPATH", compiled_->path().c_str(), 1);
        if (!std::setlocale(LC_ALL, localeName)) {
            problem_ = "no " + std::string(localeName) + " locale, and localedef could not make one (exit status " +
                       std::to_string(run.exitStatus) + "): " + run.standardError;
            return;
        }
    }
    if (!hasDecimalComma()) problem_ = std::string(localeName) + " has no decimal comma here";
}

ScopedGermanLocale::~ScopedGermanLocale() {
    std::setlocale(LC_ALL, previousLocale_.empty() ? "C" : previousLocale_.c_str());
    if (previousLocPath_)
        ::setenv("LOCPATH", previousLocPath_->c_str(), 1);
    else
        ::unsetenv("LOCPATH");
}

} // namespace brindleaf::testing
