#include "ui/settings.h"

#include <QCoreApplication>
#include <QSettings>

namespace tessel::ui {
namespace {

constexpr auto kSourceKey = "General/SrcFolder";
constexpr auto kOutputKey = "General/OutFolder";
constexpr auto kRecentKey = "General/RecentFolders";
constexpr auto kGeometryKey = "MainFrame/Geometry";
constexpr auto kStateKey = "MainFrame/State";

}  // namespace

void SetSettingsIdentity() {
  QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
  QCoreApplication::setApplicationName(QStringLiteral("Tessel"));
}

QString LoadSourceFolder() {
  return QSettings().value(kSourceKey).toString();
}

QString LoadOutputFolder() {
  return QSettings().value(kOutputKey).toString();
}

void SaveFolders(const QString& source, const QString& output) {
  QSettings settings;
  settings.setValue(kSourceKey, source);
  settings.setValue(kOutputKey, output);
}

QStringList LoadRecentFolders() {
  QStringList folders = QSettings().value(kRecentKey).toStringList();
  folders.removeAll(QString());
  while (folders.size() > kMaxRecentFolders) folders.removeLast();
  return folders;
}

QStringList AddRecentFolder(const QString& folder) {
  QStringList folders = LoadRecentFolders();
  folders.removeAll(folder);
  folders.prepend(folder);
  while (folders.size() > kMaxRecentFolders) folders.removeLast();
  QSettings().setValue(kRecentKey, folders);
  return folders;
}

void SaveLayout(const QByteArray& geometry, const QByteArray& state) {
  QSettings settings;
  settings.setValue(kGeometryKey, geometry);
  settings.setValue(kStateKey, state);
}

QByteArray LoadGeometry() {
  return QSettings().value(kGeometryKey).toByteArray();
}

QByteArray LoadState() {
  return QSettings().value(kStateKey).toByteArray();
}

}  // namespace tessel::ui
