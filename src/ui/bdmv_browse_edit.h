// The source-folder box of the second toolbar: an edit box with a folder-browse button. Enter on
// a typed path or a folder chosen in the browser asks for that folder to be opened.
#pragma once

#include <QLineEdit>
#include <QString>
#include <QToolButton>
#include <QWidget>
#include <functional>

namespace tessel::ui {

class CBdmvBrowseEdit : public QWidget {
  Q_OBJECT

 public:
  // Runs the folder browser at the start folder; returns the chosen folder, empty on Cancel.
  using FolderChooser = std::function<QString(QWidget* parent, const QString& start)>;

  explicit CBdmvBrowseEdit(QWidget* parent = nullptr);

  // The path the box shows (the current source path).
  QString path() const { return path_; }
  void set_path(const QString& path);
  // Where the browser starts.
  QString remembered_folder() const { return remembered_; }
  void set_remembered_folder(const QString& folder) { remembered_ = folder; }
  QLineEdit* edit() const { return edit_; }
  QToolButton* browse_button() const { return browse_; }
  // Tests replace the dialog.
  void set_folder_chooser(FolderChooser chooser) { chooser_ = std::move(chooser); }

  // Opens the folder browser at the remembered folder.
  void Browse();

 signals:
  void openRequested(const QString& folder);

 private:
  QString path_;
  QString remembered_;
  QLineEdit* edit_;
  QToolButton* browse_;
  FolderChooser chooser_;
};

}  // namespace tessel::ui
