#ifndef UPGRD_UTIL_INPUTS_LINE_SCAN_H_
#define UPGRD_UTIL_INPUTS_LINE_SCAN_H_

#include <cstdio>
#include <string>

/// Bytes of one read of an input file: a line of up to 255 characters; a
/// longer line arrives in several pieces, each read as a line of its own.
const int kLineBufferSize = 256;

/// Skips the UTF-8 byte order mark that some Windows editors put at the
/// start of a text file, so that the first key still starts its line.
void skip_byte_order_mark(FILE* file);

/// Reads the next piece of a text file into `buffer` (kLineBufferSize bytes),
/// with a CR LF line end turned into LF. Returns false at the end of the file.
bool read_line_piece(FILE* file, char* buffer);

/// Matches `line` against `pattern` the way a formatted scan would: a blank
/// in the pattern stands for any run of white space (none included), other
/// characters must stand in the line as they are, and a final "%s" takes
/// the next run of non-white characters, after skipping white space, into
/// *value. Returns true when a non-empty value was taken.
bool scan_line(const char* line, const char* pattern, std::string* value);

#endif  // UPGRD_UTIL_INPUTS_LINE_SCAN_H_
