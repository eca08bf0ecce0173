// The string functions of a comparison in string mode: TRIM, LTRIM, RTRIM,
// SUBSTR, LEFT, RIGHT, DTOS, SPACE, REPLICATE and STR, written as calls inside the
// text of one side and replaced by their results.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kora {

class CodePage;

// Replaces each call by its result, inner calls first, in one pass with a
// stack of its own (the nesting of a user's text never recurses). Counts are
// clamped to the text; a call without its closing parenthesis stays as it
// is. date_format picks the positions DTOS reads the date from.
void expand_string_functions(std::string& text, int date_format);
// The same for a text of which only some characters are the expression's
// own (own[k], which follows the text); function names, parentheses and
// commas count only there, so that a field's value is never read as a call.
// The results of calls are values.
// With a code page, SUBSTR, LEFT and RIGHT count its characters, not bytes
// (a character of several bytes is never cut).
void expand_string_functions(std::string& text, std::vector<bool>& own, int date_format,
                             const CodePage* page = nullptr);

// Whether the text names one of the functions followed by its parenthesis.
bool calls_string_function(std::string_view text);

}  // namespace kora
