#pragma once

#include <QDialog>

class QLabel;
class QScrollArea;

namespace vantorel::gui {

// The seven common questions, lines ending in CR LF as the text was written.
QString helpText();

// The answers to the common questions, wrapped to the window's width and
// scrolled when they do not fit its height.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    QLabel* textLabel() const { return label_; }
    QScrollArea* scrollArea() const { return scroll_; }

private:
    QScrollArea* scroll_;
    QLabel* label_;
};

} // namespace vantorel::gui
