#pragma once

// Answers the message boxes and input boxes a window opens while a test
// drives it: each box that comes up is noted (caption, text, icon) and given
// the next answer of the script. A box beyond the script is noted and
// cancelled, so that a test never hangs on an unexpected question.

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <utility>
#include <vector>

namespace vantorel::gui::test {

struct AnsweredBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool input = false; // an input box rather than a message box
};

class DialogAnswers {
public:
    using Answer = std::function<void(QWidget* box)>;

    explicit DialogAnswers(std::vector<Answer> answers = {}) : answers_(std::move(answers)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
        timer_.start();
    }
    DialogAnswers(const DialogAnswers&) = delete;
    DialogAnswers& operator=(const DialogAnswers&) = delete;

    const std::vector<AnsweredBox>& seen() const { return seen_; }
    std::size_t answered() const { return next_; }

    // Answers to script with.
    static Answer press(QMessageBox::StandardButton button) {
        return [button](QWidget* box) {
            if (auto* message = qobject_cast<QMessageBox*>(box)) {
                message->button(button)->click();
            }
        };
    }
    static Answer type(const QString& text) {
        return [text](QWidget* box) {
            if (auto* input = qobject_cast<QInputDialog*>(box)) {
                input->setTextValue(text);
                input->accept();
            }
        };
    }
    static Answer cancel() {
        return [](QWidget* box) {
            static_cast<QDialog*>(box)->reject();
        };
    }
    // Runs `then` after answering with `answer`, still inside the box's turn.
    static Answer andThen(Answer answer, std::function<void()> then) {
        return [answer = std::move(answer), then = std::move(then)](QWidget* box) {
            answer(box);
            then();
        };
    }

private:
    void look() {
        QWidget* modal = QApplication::activeModalWidget();
        auto* message = qobject_cast<QMessageBox*>(modal);
        auto* input = qobject_cast<QInputDialog*>(modal);
        if ((message == nullptr && input == nullptr) || !modal->isVisible() || modal == last_) {
            return;
        }
        last_ = modal;
        AnsweredBox box;
        box.caption = modal->windowTitle();
        if (message != nullptr) {
            box.text = message->text();
            box.icon = message->icon();
            box.buttons = message->standardButtons();
        } else {
            box.text = input->labelText();
            box.input = true;
        }
        seen_.push_back(box);
        if (next_ < answers_.size()) {
            answers_[next_++](modal);
        } else {
            static_cast<QDialog*>(modal)->reject();
        }
    }

    std::vector<Answer> answers_;
    std::size_t next_ = 0;
    std::vector<AnsweredBox> seen_;
    QPointer<QWidget> last_;
    QTimer timer_;
};

} // namespace vantorel::gui::test
