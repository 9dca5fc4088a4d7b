#include "render/PlanImage.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QImageReader>

#include "survey/RegularFile.h"
#include "survey/SiteProjection.h"

namespace ketrion::plan_image {

namespace {

constexpr std::uint64_t kBytesPerPixel = 4;  // Qt decodes a plan to 32-bit pixels
constexpr std::uint64_t kMegabyte = 1024 * 1024;

}  // namespace

int AllocationLimitMb() {
    const std::uint64_t bytes = CSiteProjection::kMaxPlanPixels * kBytesPerPixel;
    // Rounded up, and one more for the rows' alignment.
    return static_cast<int>((bytes + kMegabyte - 1) / kMegabyte + 1);
}

void AllowLargestPlan() {
    const int limit = QImageReader::allocationLimit();
    // 0 means no limit at all: nothing to raise.
    if (limit != 0 && limit < AllocationLimitMb()) {
        QImageReader::setAllocationLimit(AllocationLimitMb());
    }
}

QImage Read(const std::string& path) {
    AllowLargestPlan();
    files::OpenFailure failure;
    const int fd = files::OpenRegular(path, O_RDONLY, 0, failure);
    if (fd < 0) {
        return {};
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    QImageReader reader(&file);
    return reader.read();
}

}  // namespace ketrion::plan_image
