#include "TextCopy.h"

#include <cstring>

int32_t CopyTextToBuffer(char* buffer, int32_t size, const char* source) {
    if (buffer == nullptr || size < 1)
        return 0;
    if (source == nullptr)
        source = "";
    strncpy(buffer, source, static_cast<size_t>(size));
    buffer[size - 1] = '\0';
    return static_cast<int32_t>(strlen(buffer));
}

int32_t CopyWholeTextToBuffer(char* buffer, int32_t size, const char* source) {
    if (buffer == nullptr || size < 1)
        return 0;
    if (source == nullptr)
        source = "";
    if (strlen(source) >= static_cast<size_t>(size))
        return 0;
    return CopyTextToBuffer(buffer, size, source);
}
