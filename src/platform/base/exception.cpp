#include "platform/base/exception.h"

namespace lum {

EListError EListError::IndexOutOfBounds(long index) {
    return EListError("List index out of bounds (" + std::to_string(index) + ")");
}

EConvertError EConvertError::CannotAssign(const std::string& source, const std::string& target) {
    return EConvertError("Cannot assign a " + source + " to a " + target);
}

ERegistryException ERegistryException::WriteFailed(const std::string& name) {
    return ERegistryException("Failed to set data for '" + name + "'");
}

ERegistryException ERegistryException::ReadFailed(const std::string& name) {
    return ERegistryException("Invalid data type for '" + name + "'");
}

} // namespace lum
