// The per-user settings of the application (organisation "Corvane", application "Tessel", in
// the XDG config folder): the remembered source and output folders, the recent folders and the
// window layout.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tessel::ui {

inline constexpr int kMaxRecentFolders = 8;

// Names the application for QSettings; call before the first settings are read.
void SetSettingsIdentity();

QString LoadSourceFolder();
QString LoadOutputFolder();
void SaveFolders(const QString& source, const QString& output);

// Newest first, at most kMaxRecentFolders, each once (paths compared exactly).
QStringList LoadRecentFolders();
QStringList AddRecentFolder(const QString& folder);

void SaveLayout(const QByteArray& geometry, const QByteArray& state);
QByteArray LoadGeometry();
QByteArray LoadState();

}  // namespace tessel::ui
