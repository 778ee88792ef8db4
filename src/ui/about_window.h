#pragma once

#include <QDialog>
#include <QPixmap>

class QLabel;

namespace vantorel::gui {

// What the program is for, and who answers for its use.
QString aboutText();

// "版本 " and the program's version, as vantorel-cli --version names it.
QString programVersionText();

// The about window's picture: drawn by the program itself.
QPixmap aboutPicture();

class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* parent = nullptr);

    QLabel* textLabel() const { return text_; }
    QLabel* infoLabel() const { return info_; }
    QLabel* pictureBox() const { return picture_; }

private:
    QLabel* text_;
    QLabel* info_;
    QLabel* picture_;
};

} // namespace vantorel::gui
