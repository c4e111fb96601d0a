#include "code_exception.h"

namespace CorvidaUtils {

void Raise(Status status) {
    throw CodeException(std::move(status));
}

}  // namespace CorvidaUtils
