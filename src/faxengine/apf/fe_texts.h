// Texts of the fax status codes and of the engine's error codes.
#pragma once

#include <string>

namespace fe {

// Text of an error code, looked up by its absolute value (engine operations return
// codes negated). A code the table lacks gets the operating system's message text
// for that number.
std::string ErrorText(int code);

// "error -8001: File is not an APF file": the code as returned and its text, as
// command-line tools and logs print a failure.
std::string FormatError(int code);

// True when the error table itself has a text for the code (absolute value).
bool HasErrorText(int code);

// Text of a fax status code: codes 1 to 43 that have one; "" for every other code.
std::string StatusText(int code);

// Maps an errno value from a failed system call to the engine's file error code
// (positive; return it negated), e.g. ENOENT -> 2, EACCES -> 5, ENOSPC -> 101.
int IoErrorCode(int err);

}  // namespace fe
