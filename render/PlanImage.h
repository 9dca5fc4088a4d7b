#pragma once

#include <QImage>

#include <cstdint>
#include <string>

namespace ketrion::plan_image {

// Qt refuses to decode an image whose pixels take more than its allocation
// limit (128 MB by default); the projection loader accepts plans of up to
// CSiteProjection::kMaxPlanPixels, decoded at four bytes a pixel. The limit
// in megabytes that lets every plan the loader accepts be decoded.
int AllocationLimitMb();

// Raises Qt's image allocation limit to AllocationLimitMb() when it is lower
// (never lowers it). Called before a plan is read; harmless to repeat.
void AllowLargestPlan();

// Reads the plan image at `path` through the guarded open (a named pipe or a
// device at the path is refused at once, never waited on), after
// AllowLargestPlan. A null image when it cannot be opened or decoded.
QImage Read(const std::string& path);

}  // namespace ketrion::plan_image
