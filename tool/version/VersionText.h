#pragma once

#include <string>

// Picks the version out of an MCU version reply such as "TALMER_KBD 2.1.0.3 (UK)": the text
// after the first blank, up to the first "(" or the end. The reply belongs to the component
// when `tag` occurs in its first word and, with a `variant`, the variant occurs anywhere in it
// (without a variant, the reply must have no "(" at all). A reply of another component leaves
// the empty string in `out`. A reply without a blank, or no room, leaves `out` untouched.
// The reply is at most 63 characters, which bounds what is written to 64 bytes.
void ExtractVersionText(const std::string& reply, const char* tag, const char* variant, char* out,
                        int available);
