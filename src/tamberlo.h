#pragma once

#include "textreader.h"

#include <QFileSystemWatcher>
#include <QMainWindow>
#include <QSize>
#include <QString>

class QImage;

namespace Ui {
class Tamberlo;
}

class Tamberlo : public QMainWindow
{
    Q_OBJECT

public:
    explicit Tamberlo(QWidget *parent = nullptr);
    ~Tamberlo() override;

    void setWatchedPath(const QString &path);

protected:
    void changeEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void on_pushButton_clicked();
    void fileChanged(const QString &path);
    void updateViewWithContents();

private:
    void watchNearestExistingDirectory();
    void watchedDirectoryChanged();
    void showPicture(QImage &&image, bool samePath);
    void showText(bool samePath);
    void showTextMessage(const QString &message);

    Ui::Tamberlo *ui;
    QString watchedPath;
    QFileSystemWatcher watcher;

    TextReader textReader;
    QString shownPath; // the path whose contents the view shows
    QSize shownPictureSize;
};
