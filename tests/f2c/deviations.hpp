// Where peakpos reads a deck differently from the f2c run-time library on
// purpose. Each function turns a deck, or a record the library read, into
// what peakpos must do with it, so that the comparison checks peakpos
// against its own rule there.
#pragma once

#include <string>
#include <string_view>

namespace peakpos::test {

// CR directly before LF belongs to the line end for peakpos; the library
// takes it as data. Returns the deck with every such CR removed.
std::string lf_line_ends(std::string_view deck);

// A sign or point without mantissa digits ("-", ".", "+.", "-+3", also
// after a repeat count: "2*-") is not a number for peakpos; the library
// takes it as a null value when a comma or slash follows. Replaces each such
// field after the name line by "x", which both refuse; returns how many.
int letter_for_bare_signs(std::string& deck);

// The last field of a deck with no final line end, when it is a repeat.
// complete: "3*5", or "3*" with a blank or tab after it; peakpos hands out
// every copy, the library loses the copies after the first, because the
// blanks after them have met the end of the input. cut: "3*" right at the
// end; peakpos takes it as null values at the end of the flags only, the
// library nowhere.
enum class EndRepeat { none, complete, cut };
EndRepeat repeat_at_end(std::string_view deck);

// A field after the name line with a repeat count of 2^31 or more: the
// library converts the count with atoi (undefined beyond int) and refuses
// one of more than 40 digits. Such decks are not compared.
bool huge_repeat_count(std::string_view deck);

// The first blank-delimited word of the 25 name bytes holds a byte that Tcl
// would not take as plain text (or starts with '#'): peakpos refuses it.
bool unsafe_name_word(std::string_view dnam);

} // namespace peakpos::test
