#include "protocol/Parser.h"

#include <cstring>

namespace ketrion {

void CParser::ClearBody() noexcept {
    std::memset(data, 0, length);
    length = 0;
}

}  // namespace ketrion
