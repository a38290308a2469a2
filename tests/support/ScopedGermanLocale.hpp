#pragma once

#include "tests/support/TempDir.hpp"

#include <memory>
#include <optional>
#include <string>

namespace brindleaf::testing {

// Puts the C library in the German locale "de_DE.UTF-8" (LC_ALL) for the
// object's life, as QApplication does for a German user: printf then writes
// "30,000000" for "%f" and strtod reads "12,5". Where the system has no such
// locale, it is compiled with localedef into a temporary folder and found
// there through LOCPATH. The previous locale and LOCPATH come back at the end.
class ScopedGermanLocale {
public:
    ScopedGermanLocale();
    ~ScopedGermanLocale();
    ScopedGermanLocale(const ScopedGermanLocale&) = delete;
    ScopedGermanLocale& operator=(const ScopedGermanLocale&) = delete;

    // Whether the locale is in force with "," as its decimal point; else why not.
    bool active() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }

private:
    std::string previousLocale_;
    std::optional<std::string> previousLocPath_;
    std::unique_ptr<TempDir> compiled_;
    std::string problem_;
};

} // namespace brindleaf::testing
