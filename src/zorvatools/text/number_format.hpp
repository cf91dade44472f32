#pragma once
// The two layouts in which the system writes numbers. Both use the shortest decimal digits that
// read back to the same value; they differ only in how the digits are laid out.

#include <string>

namespace zorvatools {

// Message layout: positional, never an exponent; "2", "0.25", "-0", "NaN", "inf", "-inf".
void append_message_number(std::string& out, double value);
std::string message_number(double value);

// JSON layout: whole numbers keep ".0", large and small magnitudes use an exponent, NaN and
// infinities are null.
void append_json_number(std::string& out, double value);
// The same for 32-bit floats, with their own digits and thresholds.
void append_json_number(std::string& out, float value);

std::string json_number(double value);
std::string json_number(float value);

}  // namespace zorvatools
