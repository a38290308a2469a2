#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// Numbers written into log lines and files, and read back from files, the
// same way whatever locale the process runs in: "." as the decimal point and
// no grouping. (The C library's printf and strtod follow the locale that the
// Qt application sets up at start: "%f" of 30 prints "30,000000" in German.)
struct DecimalText {
    // As printf's "%.<fractionDigits>f" prints it in the "C" locale.
    static std::string fixed(double value, int fractionDigits);
    // As printf's "%.<significantDigits>g" prints it in the "C" locale.
    static std::string general(double value, int significantDigits);
    // The number at the start of `text` as strtod reads it in the "C" locale
    // (decimal, with an optional sign and exponent, or "inf" and "nan"; no
    // leading blanks, no hexadecimal form), and in `used` the characters it
    // takes. None when no number starts there or it is beyond a double's range.
    static std::optional<double> read(std::string_view text, std::size_t& used);
};

} // namespace brindleaf
