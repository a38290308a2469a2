#pragma once

#include "presentation/TextStyle.hpp"
#include "presentation/ThemeColor.hpp"

#include <QFrame>
#include <QString>

class QFormLayout;
class QLabel;
class QVBoxLayout;

namespace brindleaf {

// One section of a settings pane's grouped form: an optional header above a
// rounded box of rows, and an optional footer under it in the secondary style.
class FormSection final : public QWidget {
    Q_OBJECT

public:
    explicit FormSection(const QString& header = {}, const QString& footer = {}, QWidget* parent = nullptr);

    // A row of its own across the box.
    void addWidget(QWidget* widget);
    // A row with a title on the left and the widget on the right.
    void addRow(const QString& title, QWidget* widget);
    QLabel* footer() const { return footer_; }
    QVBoxLayout* footerLayout() const { return footerLayout_; }

private:
    QFrame* box_;
    QVBoxLayout* rows_;
    QLabel* footer_ = nullptr;
    QVBoxLayout* footerLayout_;
};

// A plain-text label in a text style and colour, wrapping when asked.
QLabel* makeLabel(const QString& text, TextStyle style = TextStyle::body,
                  ThemeColor color = ThemeColor::system(ThemeColor::Role::primaryLabel), bool wraps = false,
                  QWidget* parent = nullptr);
// Sets a label's colour from the palette role (again after palette changes is the caller's part).
void setLabelColor(QLabel* label, ThemeColor color);

} // namespace brindleaf
