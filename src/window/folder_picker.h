#pragma once

#include <QObject>
#include <QPersistentModelIndex>
#include <QString>

class QComboBox;
class QFileSystemModel;
class QTreeView;
class QWidget;

namespace lt {

// The drive list and the folder list of the settings panel: a combo of mount points
// and a tree of folders only. Both start on the process's current folder. A folder or
// mount point that cannot be read is refused: the pickers keep what they showed before.
class FolderPicker : public QObject {
    Q_OBJECT
public:
    explicit FolderPicker(QWidget* parent);

    QComboBox* drive() const { return drive_; }
    QTreeView* dir() const { return dir_; }

    // Moves the folder list to `path`; false (and nothing moves) when it is no readable folder.
    bool openFolder(const QString& path);
    // Moves to the mount point in entry `index` of the drive list; false when it cannot be read.
    bool openDrive(int index);

signals:
    // The user moved the folder list, directly or through the drive list.
    void folderChosen(const QString& path);

private:
    void fillDrives();
    void selectDriveOf(const QString& path);
    void showFolder(const QString& path);

    QComboBox* drive_;
    QTreeView* dir_;
    QFileSystemModel* model_;
    QString current_;
    int driveIndex_ = -1;
    bool moving_ = false;  // the picker itself is moving the tree: not a choice of the user
};

}  // namespace lt
