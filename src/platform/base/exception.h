// The one exception base of the library and the framework's own errors.
// Every class that raises derives from Exception and carries a message text
// exactly as the user should see it.
#pragma once

#include <exception>
#include <string>

namespace lum {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// A list index outside the list.
class EListError : public Exception {
public:
    using Exception::Exception;
    static EListError IndexOutOfBounds(long index);
};

// An object that cannot be assigned to or converted into another class.
class EConvertError : public Exception {
public:
    using Exception::Exception;
    static EConvertError CannotAssign(const std::string& source, const std::string& target);
};

class EOutOfMemory : public Exception {
public:
    EOutOfMemory() : Exception("Out of memory") {}
    using Exception::Exception;
};

// Reading or writing an object stream or a file stream failed.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

class EClassNotFound : public Exception {
public:
    using Exception::Exception;
};

// Integer division by zero, or a quotient that does not fit its result.
class EIntDivision : public Exception {
public:
    EIntDivision() : Exception("Division by zero") {}
    using Exception::Exception;
};

// A registry value could not be written, or was read with the wrong kind.
class ERegistryException : public Exception {
public:
    using Exception::Exception;
    static ERegistryException WriteFailed(const std::string& name);
    static ERegistryException ReadFailed(const std::string& name);
};

} // namespace lum
