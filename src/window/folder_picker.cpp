#include "window/folder_picker.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QStorageInfo>
#include <QTreeView>

namespace lt {

namespace {

bool readableFolder(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.isDir() && QDir(path).isReadable();
}

}  // namespace

FolderPicker::FolderPicker(QWidget* parent)
    : QObject(parent),
      drive_(new QComboBox(parent)),
      dir_(new QTreeView(parent)),
      model_(new QFileSystemModel(this)) {
    drive_->setObjectName("settings.drive");
    dir_->setObjectName("settings.folders");

    model_->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    model_->setRootPath(QDir::rootPath());
    dir_->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column) dir_->hideColumn(column);
    dir_->header()->hide();
    dir_->setUniformRowHeights(true);

    fillDrives();
    const QString start = QDir::currentPath();
    selectDriveOf(start);
    showFolder(readableFolder(start) ? start : QDir::rootPath());

    connect(dir_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) {
                if (moving_ || !index.isValid()) return;
                const QString path = model_->filePath(index);
                if (openFolder(path)) emit folderChosen(current_);
            });
    connect(drive_, &QComboBox::activated, this, [this](int index) {
        if (openDrive(index)) emit folderChosen(current_);
    });
}

bool FolderPicker::openFolder(const QString& path) {
    if (!readableFolder(path)) {
        showFolder(current_);  // back to the folder shown before
        return false;
    }
    const QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    selectDriveOf(folder);
    showFolder(folder);
    return true;
}

bool FolderPicker::openDrive(int index) {
    const QString root = drive_->itemData(index).toString();
    if (index < 0 || !readableFolder(root)) {
        const QSignalBlocker block(drive_);
        drive_->setCurrentIndex(driveIndex_);
        return false;
    }
    driveIndex_ = index;
    {
        const QSignalBlocker block(drive_);
        drive_->setCurrentIndex(index);
    }
    moving_ = true;
    dir_->setRootIndex(model_->index(root));
    moving_ = false;
    showFolder(root);
    return true;
}

void FolderPicker::fillDrives() {
    const QSignalBlocker block(drive_);
    drive_->clear();
    QStringList roots{QDir::rootPath()};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady()) continue;
        const QString root = volume.rootPath();
        if (!roots.contains(root)) roots << root;
    }
    roots.sort();
    for (const QString& root : roots) drive_->addItem(root, root);
}

// The drive entry is the deepest mount point that holds `path`.
void FolderPicker::selectDriveOf(const QString& path) {
    int best = -1;
    qsizetype bestLength = -1;
    for (int i = 0; i < drive_->count(); ++i) {
        const QString root = drive_->itemData(i).toString();
        const bool holds = root == QDir::rootPath() || path == root ||
                           path.startsWith(root.endsWith('/') ? root : root + '/');
        if (holds && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    if (best == driveIndex_) return;
    driveIndex_ = best;
    const QSignalBlocker block(drive_);
    drive_->setCurrentIndex(best);
    moving_ = true;
    if (best >= 0) dir_->setRootIndex(model_->index(drive_->itemData(best).toString()));
    moving_ = false;
}

void FolderPicker::showFolder(const QString& path) {
    current_ = path;
    moving_ = true;
    const QModelIndex index = model_->index(path);
    dir_->setCurrentIndex(index);
    dir_->expand(index);
    dir_->scrollTo(index);
    moving_ = false;
}

}  // namespace lt
