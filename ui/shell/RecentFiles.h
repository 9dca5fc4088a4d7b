#pragma once

#include <QString>
#include <QStringList>

class QSettings;

namespace ketrion {

// The recently opened projection and collection files, newest first, kept in
// the program's settings between runs. Without settings it keeps them for
// the run only.
class RecentFiles {
public:
    enum class Kind { Projection, Collection };
    // Entries kept of each kind.
    static constexpr int kMaxEntries = 8;

    explicit RecentFiles(QSettings* settings = nullptr);

    // Puts `path` first in its list (moving it up when it is there already).
    void Add(Kind kind, const QString& path);
    void Remove(Kind kind, const QString& path);
    QStringList List(Kind kind) const;
    void Clear();

private:
    QStringList& Entries(Kind kind);
    void Save(Kind kind);

    QSettings* m_settings;
    QStringList m_projections;
    QStringList m_collections;
};

}  // namespace ketrion
