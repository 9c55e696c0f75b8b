// Bounded copies of text into buffers the host supplies with their size.
#pragma once

#include <cstdint>

// Copies source into buffer (at most size bytes, the rest zero-filled, the last
// byte forced to zero) and returns the length now in the buffer. A null buffer
// or a size below 1 gets nothing written and the result 0; a null source copies
// as the empty text.
int32_t CopyTextToBuffer(char* buffer, int32_t size, const char* source);

// Copies source whole or not at all: returns 0 and writes nothing when the text
// and its terminator do not fit in size bytes; otherwise as CopyTextToBuffer.
int32_t CopyWholeTextToBuffer(char* buffer, int32_t size, const char* source);
