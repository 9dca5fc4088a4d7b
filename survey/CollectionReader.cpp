#include "survey/CollectionReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ketrion::collection {

WalkEnd WalkCollection(int fd, WalkVisitor& visitor) {
    WalkEnd end;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        end.kind = WalkEnd::Kind::ReadError;
        end.error = errno;
        return end;
    }
    end.size = static_cast<std::int64_t>(st.st_size);
    Reader reader(fd);
    reader.LimitTo(end.size);
    end.damage = reader.Open(end.header);
    if (end.damage != Damage::ShortHeader)
        visitor.Header(end.header,
                       end.damage == Damage::None || end.damage == Damage::SizesTooSmall);
    if (end.damage != Damage::None) {
        end.kind = WalkEnd::Kind::BadHeader;
        return end;
    }

    std::uint8_t locationScratch[kLocationSize];
    std::uint8_t readingScratch[kReadingSize];
    std::int64_t offset = 0;
    while (const std::uint8_t* location = reader.NextLocationView(locationScratch, offset)) {
        if (end.points == static_cast<std::int64_t>(kMaxLoadedPoints)) {
            end.kind = WalkEnd::Kind::TooManyPoints;
            return end;
        }
        ++end.points;
        // The count is taken before the visitor or the readings move the buffer.
        const unsigned count = Get16(location + kCountAt);
        visitor.Location(end.points, offset, location);
        unsigned complete = 0;
        while (complete < count) {
            const std::uint8_t* reading = reader.NextReadingView(readingScratch);
            if (reading == nullptr)
                break;
            ++complete;
            visitor.Reading(reading);
        }
        end.readings += complete;
        if (complete < count) {
            end.kind = WalkEnd::Kind::CutReadings;
            end.complete = complete;
            end.count = count;
            return end;
        }
    }
    if (reader.Error() != 0) {
        end.kind = WalkEnd::Kind::ReadError;
        end.error = reader.Error();
        return end;
    }
    // The walk stopped at a location record that did not come whole: either
    // the file ends there exactly, or a cut record is left over.
    if (offset < end.size) {
        end.kind = WalkEnd::Kind::CutLocation;
        end.offset = offset;
        end.leftover = end.size - offset;
    }
    return end;
}

WalkEnd WalkCollection(const std::string& path, WalkVisitor& visitor) {
    WalkEnd end;
    const int fd = files::OpenRegular(path, O_RDONLY, 0, end.open);
    if (fd < 0) {
        end.kind = WalkEnd::Kind::NotOpened;
        return end;
    }
    end = WalkCollection(fd, visitor);
    ::close(fd);
    return end;
}

}  // namespace ketrion::collection
