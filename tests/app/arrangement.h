#pragma once

// Checks that a window's controls stand as designed relative to each other:
// each in its group box (or the window), in rows from the top and, within a
// row, from the left, none overlapping its neighbours, all inside their
// group. Layouts decide the pixels; the arrangement is what stays.

#include <QCoreApplication>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QRect>
#include <QWidget>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vantorel::gui::test {

struct Arranged {
    const char* name;   // design name (the object name)
    const char* type;   // Qt class it is
    const char* parent; // design name of its group box; "" for the window
    int row;            // visual row inside the parent from the top; -1: hidden
    int order;          // place in its row from the left
};

inline std::string describeRect(const QRect& r) {
    return "(" + std::to_string(r.x()) + ", " + std::to_string(r.y()) + ") " +
           std::to_string(r.width()) + " x " + std::to_string(r.height());
}

inline void expectArranged(QWidget& window, const std::vector<Arranged>& design) {
    std::vector<QWidget*> found;
    for (const Arranged& a : design) {
        auto* control = window.findChild<QWidget*>(QString::fromUtf8(a.name));
        found.push_back(control);
        if (control == nullptr) {
            ADD_FAILURE() << "no " << a.name;
            continue;
        }
        EXPECT_TRUE(control->inherits(a.type))
            << a.name << " is a " << control->metaObject()->className();
        const QString parent = QString::fromUtf8(a.parent);
        EXPECT_EQ(control->parentWidget()->objectName(),
                  parent.isEmpty() ? window.objectName() : parent)
            << a.name;
        if (a.row < 0) {
            EXPECT_TRUE(control->isHidden()) << a.name;
            continue;
        }
        EXPECT_TRUE(control->isVisible()) << a.name;
        EXPECT_TRUE(control->parentWidget()->rect().contains(control->geometry()))
            << a.name << " " << describeRect(control->geometry()) << " outside its parent "
            << describeRect(control->parentWidget()->rect());
    }
    for (std::size_t i = 0; i < design.size(); ++i) {
        for (std::size_t j = 0; j < design.size(); ++j) {
            const Arranged& a = design[i];
            const Arranged& b = design[j];
            if (found[i] == nullptr || found[j] == nullptr || a.row < 0 || b.row < 0 ||
                std::string(a.parent) != b.parent) {
                continue;
            }
            const QRect ra = found[i]->geometry();
            const QRect rb = found[j]->geometry();
            if (a.row == b.row && a.order < b.order) {
                EXPECT_LE(ra.right(), rb.left()) << a.name << " left of " << b.name << ": "
                                                 << describeRect(ra) << " " << describeRect(rb);
                EXPECT_TRUE(ra.top() <= rb.bottom() && rb.top() <= ra.bottom())
                    << a.name << " in the row of " << b.name << ": " << describeRect(ra) << " "
                    << describeRect(rb);
            } else if (a.row < b.row) {
                EXPECT_LE(ra.bottom(), rb.top()) << a.name << " above " << b.name << ": "
                                                 << describeRect(ra) << " " << describeRect(rb);
            }
        }
    }
}

// The arrangement holds as the window opens, at its minimum size and
// enlarged.
inline void expectArrangedAtEverySize(QWidget& window, const std::vector<Arranged>& design) {
    for (const QSize size :
         {window.size(), window.minimumSize(), window.size() + QSize(300, 200)}) {
        window.resize(size);
        QCoreApplication::processEvents();
        SCOPED_TRACE(std::to_string(size.width()) + " x " + std::to_string(size.height()));
        expectArranged(window, design);
    }
}

// The design font, in a face that draws Chinese.
inline void expectDesignFont(const QWidget& control, int pixelSize = 12, bool bold = false) {
    const QFont font = control.font();
    EXPECT_EQ(font.families().value(0), QStringLiteral("微软雅黑"))
        << qPrintable(control.objectName());
    EXPECT_EQ(font.pixelSize(), pixelSize) << qPrintable(control.objectName());
    EXPECT_EQ(font.bold(), bold) << qPrintable(control.objectName());
    EXPECT_TRUE(QFontMetrics(font).inFont(QChar(0x5206))) << QFontInfo(font).family().toStdString();
}

} // namespace vantorel::gui::test
