// The text of PortError() as the port libraries keep it: one message per
// thread, like errno, in a fixed buffer, so that a pointer PortError() gave
// stays valid for the thread's lifetime and always holds the latest message.
#pragma once

#include <algorithm>
#include <cstring>
#include <string_view>

namespace portio {

template <size_t Size> class ErrorText {
public:
    // Keeps message, cut to the buffer between UTF-8 sequences if too long.
    void Keep(std::string_view message) noexcept {
        size_t length = std::min(message.size(), Size - 1);
        while (length < message.size() && length > 0 &&
               (static_cast<unsigned char>(message[length]) & 0xC0) == 0x80) {
            --length;
        }
        // cppcheck-suppress danglingTemporaryLifetime ; the caller's text outlives the call
        std::memcpy(text_, message.data(), length);
        text_[length] = '\0';
    }
    const char* Text() const noexcept { return text_; }

private:
    char text_[Size] = {};
};

} // namespace portio
