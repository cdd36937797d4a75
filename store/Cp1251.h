#pragma once

// Operator text (comments, project description) is stored as Windows-1251 bytes;
// everything above the store speaks UTF-8.

#include <string>
#include <string_view>

// UTF-8 to Windows-1251. A character that 1251 cannot hold becomes '?', and an invalid
// UTF-8 byte becomes '?', so the rest of the text is kept whole.
std::string Utf8ToCp1251(std::string_view utf8);

// Windows-1251 to UTF-8. The one byte 1251 leaves undefined (0x98) becomes U+FFFD;
// a NUL byte is kept as U+0000.
std::string Cp1251ToUtf8(std::string_view cp1251);
