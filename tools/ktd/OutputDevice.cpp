#include "tools/ktd/OutputDevice.h"

#include <string_view>

namespace ketrion::ktd {

qint64 OutputDevice::writeData(const char* data, qint64 length) {
    if (length < 0)
        return -1;
    if (!m_file.Write(std::string_view(data, static_cast<std::size_t>(length)))) {
        setErrorString(QString::fromStdString(m_file.Error()));
        return -1;
    }
    return length;
}

}  // namespace ketrion::ktd
