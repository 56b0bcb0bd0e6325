#ifndef UPGRD_UTIL_INPUTS_PASSWORD_FILE_H_
#define UPGRD_UTIL_INPUTS_PASSWORD_FILE_H_

#include <cstddef>
#include <string>

/// Reads a password from the first line of `path` into `password`, `size`
/// bytes with the terminating NUL (a card's field): the file must be one
/// only its owner can read (open_private_file), and the line neither empty
/// nor longer than size - 1 characters (a "\r" before its end left out).
/// Returns false, with one line naming the file in *error and `password`
/// cleared, otherwise.
bool read_password_file(const char* path, char* password, size_t size,
                        std::string* error);

#endif  // UPGRD_UTIL_INPUTS_PASSWORD_FILE_H_
