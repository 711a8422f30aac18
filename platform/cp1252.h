// Windows-1252, the one-byte encoding of the password generator's letters.
#pragma once

#include <string>

// The Unicode code point of a Windows-1252 byte; 0 for the five unassigned bytes.
char32_t cp1252_to_unicode(unsigned char byte);
// The Windows-1252 byte of a code point, or 0 when the page has none.
unsigned char unicode_to_cp1252(char32_t code_point);

std::string cp1252_to_utf8(const std::string& text);
// Code points the page lacks become '?'.
std::string utf8_to_cp1252(const std::string& text);

// Appends the UTF-8 form of a code point.
void append_utf8(std::string& out, char32_t code_point);
// Decodes one UTF-8 sequence at pos; returns its length, or 0 when the bytes
// there are not a complete, valid sequence.
std::size_t decode_utf8(const std::string& text, std::size_t pos, char32_t& code_point);
