// The texts of the library's error codes, in English and Japanese.
#pragma once

#include <cstddef>

namespace tovira {

enum class TextLanguage { English, Japanese };

// The language of the user interface: Japanese when the UI language is Japanese, else English.
TextLanguage UserTextLanguage();

// The text of `code`, or null for a code the library does not use.
const wchar_t* ErrorText(int code, TextLanguage language);
// The text for codes the library does not use.
const wchar_t* UnknownErrorText(TextLanguage language);

// A short English name for the log ("buffer", "device lost"); "unknown" for codes not in use.
const char* ErrorName(int code);

}  // namespace tovira
