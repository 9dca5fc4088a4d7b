// ktp: makes projection files from a plan image and control points, and
// inspects or unpacks them.
//
//   ktp pack IMAGE --ref LAT,LON,X,Y --ref ... [--ref ...] -o OUT.ktp
//   ktp pack IMAGE --scale X1,Y1,X2,Y2,METRES [--scale2 X1,Y1,X2,Y2,METRES]
//                  [--origin LAT,LON[,X,Y]] [--north DEGREES] -o OUT.ktp
//   ktp unpack IN.ktp
//   ktp info IN.ktp
#include <QImage>
#include <QImageReader>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/OutputFile.h"
#include "survey/ProjectionMaker.h"
#include "survey/SiteProjection.h"

namespace {

using namespace ketrion;

constexpr double kMaxLatitude = 90;    // degrees north or south
constexpr double kMaxLongitude = 180;  // degrees east or west

int Pack(const std::string& imagePath, const std::vector<std::string>& refs,
         const std::string& outPath) {
    std::vector<ktp::ControlPoint> points;
    for (const std::string& r : refs) {
        const auto p = ktp::ParseControlPoint(r);
        if (!p) {
            std::fprintf(stderr, "ktp: --ref \"%s\" is not LAT,LON,X,Y (four numbers)\n",
                         r.c_str());
            return 2;
        }
        // A place on the earth: a latitude beyond a pole or a longitude
        // beyond the date line is a typing slip, not a control point.
        if (std::fabs(p->latitude) > kMaxLatitude || std::fabs(p->longitude) > kMaxLongitude) {
            std::fprintf(stderr,
                         "ktp: --ref \"%s\" lies outside the globe (latitude -90 to 90, "
                         "longitude -180 to 180)\n",
                         r.c_str());
            return 2;
        }
        points.push_back(*p);
    }
    // The output may not be the image, a fifo or a device.
    files::OutputFile out;
    if (!out.Open(outPath, {{imagePath, "plan image"}})) {
        std::fprintf(stderr, "ktp: %s\n", out.Error().c_str());
        return 1;
    }
    std::string error;
    const auto fit = ktp::FitAffine(points, error);
    if (!fit) {
        std::fprintf(stderr, "ktp: %s\n", error.c_str());
        return 1;
    }

    QImage image(QString::fromStdString(imagePath));
    if (image.isNull()) {
        std::fprintf(stderr, "ktp: cannot read %s as an image (BMP, PNG or JPEG)\n",
                     imagePath.c_str());
        return 1;
    }
    image = image.convertToFormat(QImage::Format_RGB888);
    const std::vector<std::uint8_t> bitmap =
        ktp::MakeBitmap24(image.width(), image.height(), image.constBits(),
                          static_cast<std::size_t>(image.bytesPerLine()));
    const std::vector<std::uint8_t> file = ktp::MakeProjectionFile(*fit, bitmap);

    if (!out.Write(std::string_view(reinterpret_cast<const char*>(file.data()), file.size())) ||
        !out.Commit()) {
        std::fprintf(stderr, "ktp: %s\n", out.Error().c_str());
        return 1;
    }

    for (const ktp::ControlPoint& p : points) {
        if (p.x < 0 || p.y < 0 || p.x > image.width() || p.y > image.height()) {
            std::fprintf(stderr,
                         "ktp: warning: control point (%g, %g) lies outside the %dx%d image\n", p.x,
                         p.y, image.width(), image.height());
        }
    }
    std::printf("image: %s, %d x %d pixels, %zu-byte bitmap\n", imagePath.c_str(), image.width(),
                image.height(), bitmap.size());
    std::printf("x = %.10g * lat + %.10g * lon + %.10g\n", fit->xLat, fit->xLon, fit->xOrigin);
    std::printf("y = %.10g * lat + %.10g * lon + %.10g\n", fit->yLat, fit->yLon, fit->yOrigin);
    std::printf("residual over %zu control points: rms %.3f px, max %.3f px\n", points.size(),
                fit->rmsResidual, fit->maxResidual);
    std::printf("wrote %s: %zu bytes (block %zu bytes)\n", outPath.c_str(), file.size(),
                file.size() - CSiteProjection::kHeaderSize);
    return 0;
}

int Unpack(const std::string& path) {
    StderrPrompt prompt;
    NullSound sound;
    CSiteProjection projection(prompt, sound);
    if (!projection.LoadProjection(path)) {
        return 1;
    }
    const ketrion::PlanMap map = projection.Map();
    std::printf("x = %.10g * lat + %.10g * lon + %.10g\n", map.xLat, map.xLon, map.xOrigin);
    std::printf("y = %.10g * lat + %.10g * lon + %.10g\n", map.yLat, map.yLon, map.yOrigin);
    if (projection.BitmapPath().empty()) {
        // The message saying why has been printed.
        std::fprintf(stderr, "ktp: no bitmap was written for %s\n", path.c_str());
        return 1;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(projection.BitmapPath(), ec);
    std::printf("block: %sc\n", path.c_str());
    std::printf("bitmap: %s (%llu bytes)\n", projection.BitmapPath().c_str(),
                ec ? 0ULL : static_cast<unsigned long long>(size));
    if (ec || size == 0) {
        std::fprintf(stderr, "ktp: the block expanded to nothing\n");
        return 1;
    }
    return 0;
}

int Info(const std::string& path) {
    std::string error;
    const auto info = ktp::ReadProjectionInfo(path, error);
    if (!info) {
        std::fprintf(stderr, "ktp: %s\n", error.c_str());
        return 1;
    }
    std::fputs(ktp::FormatProjectionInfo(*info).c_str(), stdout);
    return 0;
}

// Control points for a plan without GPS, laid on the local plane by a scale
// line, as --ref values; false (with the message printed) when the options
// are malformed or place the plan where no map can.
bool LocalPlaneRefs(const std::string& imagePath, const std::string& scale,
                    const std::string& scale2, const std::string& origin, double north,
                    std::vector<std::string>& refs) {
    LocalPlaneRequest request;
    const auto line = ktp::ParseScaleLine(scale);
    if (!line) {
        std::fprintf(stderr, "ktp: --scale \"%s\" is not X1,Y1,X2,Y2,METRES (five numbers)\n",
                     scale.c_str());
        return false;
    }
    request.scale = *line;
    if (!scale2.empty()) {
        request.check = ktp::ParseScaleLine(scale2);
        if (!request.check) {
            std::fprintf(stderr, "ktp: --scale2 \"%s\" is not X1,Y1,X2,Y2,METRES (five numbers)\n",
                         scale2.c_str());
            return false;
        }
    }
    if (!origin.empty()) {
        const auto o = ktp::ParsePlanOrigin(origin);
        if (!o) {
            std::fprintf(stderr, "ktp: --origin \"%s\" is not LAT,LON or LAT,LON,X,Y\n",
                         origin.c_str());
            return false;
        }
        request.latitude = o->latitude;
        request.longitude = o->longitude;
        request.originPixel = o->pixel;
    }
    request.north = north;
    const QSize size = QImageReader(QString::fromStdString(imagePath)).size();
    if (!size.isValid()) {
        std::fprintf(stderr, "ktp: cannot read %s as an image (BMP, PNG or JPEG)\n",
                     imagePath.c_str());
        return false;
    }
    request.width = size.width();
    request.height = size.height();
    std::vector<std::string> warnings;
    std::string error;
    const auto points = ktp::LocalPlaneControlPoints(request, warnings, error);
    if (!points) {
        std::fprintf(stderr, "ktp: %s\n", error.c_str());
        return false;
    }
    for (const std::string& w : warnings) {
        std::fprintf(stderr, "ktp: warning: %s\n", w.c_str());
    }
    std::printf("scale: %.6g pixels per metre; north %.6g degrees; origin %.9g, %.9g\n",
                request.scale.PixelsPerMetre(), north, request.latitude, request.longitude);
    refs.clear();
    for (const ktp::ControlPoint& p : *points) {
        char text[128];
        std::snprintf(text, sizeof text, "%.17g,%.17g,%.17g,%.17g", p.latitude, p.longitude, p.x,
                      p.y);
        refs.emplace_back(text);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Makes projection files (a plan image with its map from latitude and "
        "longitude to plan pixels) and inspects them."};
    app.set_version_flag("--version", "ktp " KETRION_VERSION, "print the version and exit");
    app.require_subcommand(1);

    std::string image;
    std::vector<std::string> refs;
    std::string output;
    CLI::App* pack = app.add_subcommand(
        "pack", "Fit the map through control points and pack IMAGE into a projection file");
    pack->add_option("IMAGE", image, "plan image: BMP, PNG or JPEG")->required();
    CLI::Option* ref =
        pack->add_option("--ref", refs,
                         "control point LAT,LON,X,Y (degrees, pixels); three or more. "
                         "Write --ref=-33.9,... when the value starts with a minus sign")
            ->allow_extra_args(false);
    // A plan without GPS: a scale line instead of control points.
    std::string scale;
    std::string scale2;
    std::string origin;
    double north = 0;
    CLI::Option* scaleOption =
        pack->add_option("--scale", scale,
                         "X1,Y1,X2,Y2,METRES: a line on the plan (pixels) and its true "
                         "length; places a plan without control points")
            ->excludes(ref);
    pack->add_option("--scale2", scale2,
                     "a second line X1,Y1,X2,Y2,METRES at another angle: warns when its "
                     "scale differs from --scale's by more than 2 %")
        ->needs(scaleOption);
    pack->add_option("--origin", origin,
                     "LAT,LON of the plan's centre, or LAT,LON,X,Y of pixel X,Y "
                     "(default 0,0); write --origin=-33.9,... for a southern latitude")
        ->needs(scaleOption);
    pack->add_option("--north", north,
                     "bearing of the plan's up direction, degrees clockwise from true north "
                     "(default 0)")
        ->needs(scaleOption);
    pack->add_option("-o,--output", output, "projection file to write")->required();

    std::string input;
    CLI::App* unpack = app.add_subcommand(
        "unpack",
        "Load a projection as the program does (writing IN.ktpc and IN.ktpb beside "
        "it) and print its coefficients");
    unpack->add_option("IN", input, "projection file")->required();

    CLI::App* info =
        app.add_subcommand("info", "Print the header and block length, writing nothing");
    info->add_option("IN", input, "projection file")->required();

    CLI11_PARSE(app, argc, argv);
    if (pack->parsed()) {
        if (scale.empty() && refs.empty()) {
            std::fprintf(stderr,
                         "ktp: pack needs three or more --ref control points, or a "
                         "--scale line\n");
            return 2;
        }
        if (!scale.empty() && !LocalPlaneRefs(image, scale, scale2, origin, north, refs)) {
            return 2;
        }
        return Pack(image, refs, output);
    }
    if (unpack->parsed()) {
        return Unpack(input);
    }
    return Info(input);
}
