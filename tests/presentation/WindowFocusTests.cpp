#include "presentation/WindowFocus.hpp"
#include "tests/presentation/GuiApplication.hpp"

#include <QApplication>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

using namespace brindleaf;

TEST(WindowFocus, NoControlIsFocusedAfterTheNextTurn) {
    brindleaf::testing::ensureGuiApplication();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit(&window);
    layout->addWidget(field);
    window.show();
    window.activateWindow();
    clearInitialFocus(&window);
    // The window's own setup focuses a control later in the same turn.
    field->setFocus();
    EXPECT_EQ(window.focusWidget(), field);
    QApplication::processEvents();
    EXPECT_NE(window.focusWidget(), field);

    // A window that goes before the next turn is left alone.
    auto* shortLived = new QWidget;
    clearInitialFocus(shortLived);
    delete shortLived;
    QApplication::processEvents();
}
