// The message of the library exception a call raises, for comparing with
// the text a user would see.
#pragma once

#include <functional>
#include <string>

#include "platform/base/exception.h"

namespace lum::test {

// Exception::Message() of what F raises; "" when it raises nothing.
inline std::string Raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

} // namespace lum::test
