#pragma once

class QMainWindow;
class QMenu;
class QMenuBar;

namespace Keldra::UI {

// Keyboard access to the menus: every menu of the bar and every item of each
// menu gets an Alt letter of its own within its menu, F10 opens the first
// menu, and shortcut keys are named as the keyboard labels them.
class MenuAccelerators
{
public:
    // Marks a letter in the items that have none, preferring the first
    // letter of a word and skipping letters other items of the menu use;
    // the submenus get the same.
    static void assign(QMenuBar* bar);
    static void assign(QMenu* menu);
    // F10 opens the window's first menu.
    static void addMenuKey(QMainWindow* window);
    // "Enter" and "Delete" in menus instead of Qt's "Return" and "Del";
    // installed once for the application.
    static void installKeyNames();
};

} // namespace Keldra::UI
