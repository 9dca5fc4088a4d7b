#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <string>

class QWidget;

namespace ketrion {

class Dialogs;
class Sound;
struct Services;

// Size of the snapshot picture of the handheld's 240-wide view.
inline constexpr int kSnapshotWidth = 240;
inline constexpr int kSnapshotHeight = 265;

// Last message of WriteJpeg: the reason of its last failure, empty after a
// successful start of compression.
extern std::string g_strJpegError;

// Writes `height` rows of `width` RGB pixels (3 bytes each) as a baseline JPEG
// of the given quality. `bottomUpRgb` holds the rows bottom-up: the first row in
// memory is the lowest row of the picture. Returns false with the reason in
// g_strJpegError when the file cannot be created or the library fails; a
// partly written file stays on disk.
bool WriteJpeg(const std::string& path, int width, int height, int quality,
               const std::uint8_t* bottomUpRgb);

// The camera command (32778) of the main frame: captures `activeView` as it is
// on screen (see SnapshotPicture), proposes the next numbered name from the counter file, asks
// where to save it and writes the JPEG there.
void TakeSnapshot(QWidget& activeView, Services& services, Dialogs& dialogs);
// The same with its collaborators named: the sound to play ("CAMERA") and the
// folder of the counter file.
void TakeSnapshot(QWidget& activeView, Sound& sound, Dialogs& dialogs,
                  const QString& counterFolder);

// Folder of the counter file: $XDG_DATA_HOME/ketrion, else ~/.local/share/ketrion.
QString SnapshotCounterFolder();
// Name of the counter file inside that folder.
inline constexpr const char* kSnapshotCounterFile = "ktimgcnt.cnt";
// Number of the next snapshot: 1 when the file is missing or empty, else its
// first line read as a decimal integer (leading blanks, optional sign, digits
// up to the first non-digit; 0 when it starts with none).
int ReadSnapshotCounter(const QString& counterPath);
// Proposed file name "kt%06d.jpg".
QString SnapshotFileName(int number);

// Turns a capture of any size into the 240 x 265 snapshot picture: a capture
// that is not 240 wide is scaled to that width keeping its aspect; the lowest
// 265 rows are taken, padded with black above when there are fewer. The result
// is RGB888. A null capture gives a null image.
QImage FitCaptureToSnapshot(const QImage& capture);
// The picture a snapshot saves of a view captured as `capture`: on the
// handheld's 240-wide view the 240 x 265 picture above; on any other size the
// view as it is on screen, at its real size (every device pixel of a
// high-density screen), RGB888. A null capture gives a null image.
QImage SnapshotPicture(const QImage& capture);

}  // namespace ketrion
