#pragma once

class QWidget;

// The user's font size, shared by the window's dialogs and panels.
class GuiFont {
public:
    // Gives the widget its own font at the given point size.
    static void setPointSize(QWidget* widget, int pointSize);
};
