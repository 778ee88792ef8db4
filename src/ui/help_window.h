#pragma once

#include <QDialog>

class QLabel;

namespace vantorel::gui {

// The seven common questions, lines ending in CR LF as the text was written.
QString helpText();

// A fixed window with the answers to the common questions.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    QLabel* textLabel() const { return label_; }

private:
    QLabel* label_;
};

} // namespace vantorel::gui
