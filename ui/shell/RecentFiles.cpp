#include "ui/shell/RecentFiles.h"

#include <QSettings>

namespace ketrion {

namespace {

QString Key(RecentFiles::Kind kind) {
    return kind == RecentFiles::Kind::Projection ? QStringLiteral("recent/projections")
                                                 : QStringLiteral("recent/collections");
}

// A settings file edited by hand may hold anything: keep non-empty texts, no
// duplicates, at most the list's length.
QStringList Clean(const QStringList& raw) {
    QStringList clean;
    for (const QString& path : raw) {
        if (!path.isEmpty() && !clean.contains(path)) {
            clean << path;
        }
        if (clean.size() == RecentFiles::kMaxEntries) {
            break;
        }
    }
    return clean;
}

}  // namespace

RecentFiles::RecentFiles(QSettings* settings) : m_settings(settings) {
    if (m_settings != nullptr) {
        m_projections = Clean(m_settings->value(Key(Kind::Projection)).toStringList());
        m_collections = Clean(m_settings->value(Key(Kind::Collection)).toStringList());
    }
}

QStringList& RecentFiles::Entries(Kind kind) {
    return kind == Kind::Projection ? m_projections : m_collections;
}

QStringList RecentFiles::List(Kind kind) const {
    return kind == Kind::Projection ? m_projections : m_collections;
}

void RecentFiles::Add(Kind kind, const QString& path) {
    if (path.isEmpty()) {
        return;
    }
    QStringList& list = Entries(kind);
    list.removeAll(path);
    list.prepend(path);
    while (list.size() > kMaxEntries) {
        list.removeLast();
    }
    Save(kind);
}

void RecentFiles::Remove(Kind kind, const QString& path) {
    if (Entries(kind).removeAll(path) > 0) {
        Save(kind);
    }
}

void RecentFiles::Clear() {
    m_projections.clear();
    m_collections.clear();
    Save(Kind::Projection);
    Save(Kind::Collection);
}

void RecentFiles::Save(Kind kind) {
    if (m_settings != nullptr) {
        m_settings->setValue(Key(kind), Entries(kind));
    }
}

}  // namespace ketrion
